// Hand-edited settings files: any bytes must parse, and what is written back
// must parse to the same values.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  corvan::IniFile ini;
  ini.Parse(text);
  const auto saved = ini.Serialize();
  corvan::IniFile again;
  again.Parse(saved);
  for (const char* key : {"SaveLog", "LogPath", "ShowDlg", "SetRaw"}) {
    const auto a = ini.Get("LOG", key);
    const auto b = again.Get("LOG", key);
    if (a != b) std::abort();
    if (a) (void)corvan::ParseProfileInt(*a, 0);
  }
  ini.Set("LOG", "SaveLog", "1");
  if (ini.Get("log", "savelog") != "1") std::abort();
  return 0;
}
