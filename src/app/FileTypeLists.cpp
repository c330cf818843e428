// The application's file-type lists (the signature file, the raw types
// chosen in the settings).

#include <algorithm>

#include "app/CORVANApp.h"
#include "platform/Folders.h"
#include "platform/TextConv.h"

namespace corvan {

// ---- file-type lists ----

std::filesystem::path CORVANApp::HeaderFileToRead() const {
  const auto edited = HeaderFileToWrite();
  std::error_code ec;
  // Only a file: anything else in its place is not read as types.
  if (std::filesystem::is_regular_file(edited, ec)) return edited;
  return m_strInstallPath / "HeaderFile.cfg";
}

std::filesystem::path CORVANApp::HeaderFileToWrite() const { return UserDataFolder() / "HeaderFile.cfg"; }

void CORVANApp::BuildSelectedTypeList() {
  m_selectedTypeList.clear();
  for (const auto& r : m_fileTypeList)
    if (r.selected) m_selectedTypeList.push_back(r);
  if (m_selectedTypeList.empty()) LoadDefaultRawTypes();
}

void CORVANApp::LoadDefaultRawTypes() {
  static constexpr std::uint16_t kDefaultTypes[] = {14,  15,  16,  17,  18,  19,  48,  52,  66,
                                                    67,  73,  111, 113, 114, 121, 128, 132, 165};
  m_selectedTypeList.clear();
  m_nSetRaw = static_cast<std::uint32_t>(m_profile.GetInt("Raw", "SetRaw", 1));
  if (m_nSetRaw != 0) return;
  for (const auto& r : m_fileTypeList)
    if (std::find(std::begin(kDefaultTypes), std::end(kDefaultTypes), r.typeId) != std::end(kDefaultTypes))
      m_selectedTypeList.push_back(r);
  // The full list is built again by whoever needs it next.
  m_fileTypeList.clear();
}

void CORVANApp::LoadUserHeaders() {
  if (!m_fileTypeList.empty()) return;
  for (auto& r : ReadFileTypeRecords(HeaderFileToRead())) m_fileTypeList.push_back(std::move(r));
}

bool CORVANApp::SaveUserHeaders() {
  std::vector<FileTypeRecord> records = m_fileTypeList;
  for (auto& r : records) r.selected = r.selected ? 1 : 0;
  return WriteFileTypeRecords(HeaderFileToWrite(), records);
}

bool CORVANApp::AppendUserHeader(const FileTypeRecord& record) {
  // The installed file is never written: the first change makes the user's
  // copy, whole, and written anew so a failed write leaves the old one.
  std::vector<FileTypeRecord> records = ReadFileTypeRecords(HeaderFileToRead());
  records.push_back(record);
  if (!WriteFileTypeRecords(HeaderFileToWrite(), records)) return false;
  if (!m_fileTypeList.empty()) m_fileTypeList.push_back(record);
  return true;
}

bool SetFileTypeChecked(CORVANApp& app, const std::u16string& extension, const std::u16string& name, int state) {
  for (auto& r : app.m_fileTypeList) {
    if (r.extension == extension && r.softwareName == name) {
      r.selected = state == 2 ? 1 : 0;
      return true;
    }
  }
  return false;
}

}  // namespace corvan
