#include "core/FileTypeRecord.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/ByteCodec.h"
#include "platform/FileHandle.h"

namespace corvan {

void FileTypeRecord::Encode(std::span<std::uint8_t, kFileTypeRecordSize> out) const {
  std::uint8_t* p = out.data();
  std::memset(p, 0, kFileTypeRecordSize);
  PutUtf16Field(p + 8, kFileTypeTextUnits, softwareName);
  PutUtf16Field(p + 528, kFileTypeTextUnits, extension);
  PutLE32(p + 1048, headerOffset);
  p[1052] = headerLength;
  std::copy(header.begin(), header.end(), p + 1053);
  p[1061] = selected;
  p[1062] = preset;
  PutLE32(p + 1063, maxSize);
  p[1067] = sizeUnit;
  p[1068] = group;
  PutLE16(p + 1069, typeId);
}

FileTypeRecord FileTypeRecord::Decode(std::span<const std::uint8_t, kFileTypeRecordSize> in) {
  const std::uint8_t* p = in.data();
  FileTypeRecord r;
  r.softwareName = GetUtf16Field(p + 8, kFileTypeTextUnits);
  r.extension = GetUtf16Field(p + 528, kFileTypeTextUnits);
  r.headerOffset = GetLE32(p + 1048);
  r.headerLength = p[1052];
  std::copy(p + 1053, p + 1061, r.header.begin());
  r.selected = p[1061];
  r.preset = p[1062];
  r.maxSize = GetLE32(p + 1063);
  r.sizeUnit = p[1067];
  r.group = p[1068];
  r.typeId = GetLE16(p + 1069);
  return r;
}

std::vector<FileTypeRecord> DecodeFileTypeRecords(std::span<const std::uint8_t> bytes) {
  std::vector<FileTypeRecord> out;
  for (std::size_t at = 0; at + kFileTypeRecordSize <= bytes.size(); at += kFileTypeRecordSize)
    out.push_back(FileTypeRecord::Decode(bytes.subspan(at).first<kFileTypeRecordSize>()));
  return out;
}

std::vector<FileTypeRecord> ReadFileTypeRecords(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return DecodeFileTypeRecords(bytes);
}

bool WriteFileTypeRecords(const std::filesystem::path& file, const std::vector<FileTypeRecord>& records) {
  std::vector<std::uint8_t> bytes(records.size() * kFileTypeRecordSize);
  for (std::size_t i = 0; i < records.size(); ++i)
    records[i].Encode(std::span<std::uint8_t>(bytes).subspan(i * kFileTypeRecordSize).first<kFileTypeRecordSize>());
  return WriteFileAtomically(file, bytes.data(), bytes.size());
}

}  // namespace corvan
