#include "core/Prompt.h"

#include "core/StringTable.h"

namespace corvan {

int Prompt::MessageBoxId(unsigned stringId, unsigned picture, unsigned type) {
  return MessageBox(LoadString(stringId), picture, type);
}

int UnattendedPrompt::MessageBox(const std::string&, unsigned, unsigned type) {
  switch (type) {
    case kMbOk: return kIdOk;
    case kMbYesNo: return kIdNo;
    default: return kIdCancel;
  }
}

}  // namespace corvan
