#include "preview/BackupList.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/ByteCodec.h"
#include "preview/PreviewKinds.h"

namespace corvan {

namespace {

constexpr std::uint64_t kBlockBytes = 1024;
// What one listing keeps of a file name, in UTF-16 characters.
constexpr std::size_t kMaxNameChars = 260;

enum class BlockKind : std::uint8_t { Set = 1, Volume = 2, Directory = 3, File = 4 };

// The fields the second pass uses of a descriptor block's fixed part.
struct BlockNode {
  std::uint64_t offset = 0;  // where the block starts in the file
  BlockKind kind = BlockKind::Set;
  std::uint16_t setNumber = 0;  // data sets
  std::uint16_t nameSize = 0;   // set, device, directory or file name
  std::uint16_t nameOffset = 0;  // where in the block the name starts (0: not given)
  std::uint64_t fileSize = 0;
  MtfDateTime modified, created, accessed;
  std::uint32_t directoryId = 0;
  std::uint32_t fileId = 0;
};

bool KindOfTag(const std::uint8_t* tag, BlockKind& kind) {
  if (std::memcmp(tag, "SSET", 4) == 0) kind = BlockKind::Set;
  else if (std::memcmp(tag, "VOLB", 4) == 0) kind = BlockKind::Volume;
  else if (std::memcmp(tag, "DIRB", 4) == 0) kind = BlockKind::Directory;
  else if (std::memcmp(tag, "FILE", 4) == 0) kind = BlockKind::File;
  else return false;
  return true;
}

// Bytes of each block's fixed part; its name follows right after it.
std::size_t FixedBytes(BlockKind kind) {
  switch (kind) {
    case BlockKind::Set: return 98;
    case BlockKind::Volume: return 73;
    case BlockKind::Directory: return 84;
    case BlockKind::File: return 88;
  }
  return 0;
}

MtfDateTime DateAt(const std::uint8_t* p) {
  MtfDateTime d;
  std::copy(p, p + 5, d.bytes.begin());
  return d;
}

BlockNode MakeNode(BlockKind kind, const std::vector<std::uint8_t>& fixed) {
  BlockNode n;
  n.kind = kind;
  const std::uint8_t* p = fixed.data();
  switch (kind) {
    case BlockKind::Set:
      n.setNumber = GetLE16(p + 62);
      n.nameSize = GetLE16(p + 64);
      n.nameOffset = GetLE16(p + 66);
      break;
    case BlockKind::Volume:
      n.nameSize = GetLE16(p + 56);
      n.nameOffset = GetLE16(p + 58);
      break;
    case BlockKind::Directory:
      n.nameSize = GetLE16(p + 80);
      n.nameOffset = GetLE16(p + 82);
      break;
    case BlockKind::File:
      n.fileSize = GetLE64(p + 12);
      n.modified = DateAt(p + 56);
      n.created = DateAt(p + 61);
      n.accessed = DateAt(p + 71);
      n.directoryId = GetLE32(p + 76);
      n.fileId = GetLE32(p + 80);
      n.nameSize = GetLE16(p + 84);
      n.nameOffset = GetLE16(p + 86);
      break;
  }
  return n;
}


class BackupWalk {
 public:
  BackupWalk(ByteSource& source, BackupListing& listing) : source_(source), listing_(listing) {}

  // The result of the last read, as the listing reports it.
  bool Run() {
    CollectBlocks();
    if (!listing_.stopped) ListFiles();
    return lastRead_;
  }

 private:
  bool Read(std::uint64_t offset, std::span<std::uint8_t> out) {
    lastRead_ = source_.Read(offset, out);
    return lastRead_;
  }

  bool CheckStop() {
    if (source_.Stopped()) listing_.stopped = true;
    return listing_.stopped;
  }

  // Every descriptor block that starts at a 1024-byte boundary, at most one
  // per block of the file.
  void CollectBlocks() {
    std::vector<std::uint8_t> fixed;
    for (std::uint64_t at = 0; at <= source_.Size(); at += kBlockBytes) {
      if (CheckStop()) return;
      std::uint8_t tag[4];
      if (!Read(at, tag)) return;
      BlockKind kind = BlockKind::Set;
      if (!KindOfTag(tag, kind)) continue;
      fixed.resize(FixedBytes(kind));
      if (!Read(at, fixed)) return;
      blocks_.push_back(MakeNode(kind, fixed));
      blocks_.back().offset = at;
    }
  }

  // Walks the blocks found again: data sets number from 1, and the files of
  // each set from 1; a set or file out of sequence is passed over. Each block
  // is read where the first pass found it, so passing over one never pairs
  // the next block's fields with a later block's name.
  void ListFiles() {
    std::uint32_t expectedSet = 1;
    std::uint32_t expectedFile = 1;
    bool newSet = false;
    std::vector<std::uint8_t> name;
    for (const BlockNode& node : blocks_) {
      if (CheckStop()) return;
      std::uint8_t tag[4];
      if (!Read(node.offset, tag)) return;
      name.resize(node.nameSize);
      // A name's place is given with its size (size, then offset in the
      // block); one that would lie inside the fixed part is not trusted and
      // the name is taken right after it.
      const std::uint64_t nameAt =
          node.offset + (node.nameOffset >= FixedBytes(node.kind) ? node.nameOffset : FixedBytes(node.kind));
      switch (node.kind) {
        case BlockKind::Set:
          if (node.setNumber == expectedSet) {
            if (!Read(nameAt, name)) return;
            ++expectedSet;
            newSet = true;
          }
          break;
        case BlockKind::Volume:
        case BlockKind::Directory:
          if (!Read(nameAt, name)) return;
          break;
        case BlockKind::File:
          if (newSet) expectedFile = 1;
          if (node.fileId == expectedFile) {
            if (!Read(nameAt, name)) return;
            AddFileRow(node, name);
            ++expectedFile;
          }
          newSet = false;
          break;
      }
    }
  }

  void AddFileRow(const BlockNode& node, const std::vector<std::uint8_t>& bytes) {
    BackupEntry e;
    e.name = GetUtf16Field(bytes.data(), std::min(bytes.size() / 2, kMaxNameChars));
    e.size = node.fileSize;
    e.modified = node.modified;
    e.created = node.created;
    e.accessed = node.accessed;
    listing_.entries.push_back(std::move(e));
  }

  ByteSource& source_;
  BackupListing& listing_;
  std::vector<BlockNode> blocks_;
  bool lastRead_ = false;
};

}  // namespace

BackupListing ListBackup(ByteSource& source, std::u16string_view name) {
  BackupListing listing;
  if (!NameEndsWith(name, u".bkf")) return listing;
  BackupWalk walk(source, listing);
  listing.shown = walk.Run() && !listing.stopped;
  return listing;
}

std::u16string FormatBackupSize(std::uint64_t size) {
  char buf[64];
  if (size < 1024)
    std::snprintf(buf, sizeof buf, "%llu Bytes", static_cast<unsigned long long>(size));
  else if (size < (std::uint64_t{1} << 20))
    std::snprintf(buf, sizeof buf, "%.2f KB", static_cast<double>(size) / 1024.0);
  else if (size < (std::uint64_t{1} << 30))
    std::snprintf(buf, sizeof buf, "%.2f MB", static_cast<double>(size) / (1024.0 * 1024.0));
  else
    std::snprintf(buf, sizeof buf, "%.2f GB", static_cast<double>(size) / (1024.0 * 1024.0 * 1024.0));
  return FromAscii(buf);
}

std::u16string FormatMtfDateTime(const MtfDateTime& date) {
  const auto& b = date.bytes;
  const int year = b[0] * 64 + (b[1] >> 2);
  const int month = (b[1] & 3) * 4 + (b[2] >> 6);
  const int day = (b[2] >> 1) & 31;
  const int hour = (b[2] & 1) * 16 + (b[3] >> 4);
  const int minute = (b[3] & 15) * 4 + (b[4] >> 6);
  const int second = b[4] & 63;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d:%d:%d  %d/%d/%d", hour, minute, second, month, day, year);
  return FromAscii(buf);
}

}  // namespace corvan
