#pragma once
// exFAT volumes written in memory from the published definition of the exFAT
// file system: the main and backup boot regions with their checksum, the
// FAT, the allocation bitmap, an up-case table, and directory entry sets
// (file entry 0x85, stream extension 0xC0, file name entries 0xC1) with
// their SetChecksum and NameHash. A volume can also be taken from another
// formatter (mkfs.exfat), whose layout is then read from its boot sector and
// its root's bitmap entry, and filled the same way. Offsets below are the
// format's published ones, never the engine's.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvan::exfattest {

inline void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void Put64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline std::uint32_t Get32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}
inline std::uint64_t Get64(const std::uint8_t* p) { return Get32(p) | std::uint64_t{Get32(p + 4)} << 32; }

// 2026-12-07 07:59:44 as an exFAT timestamp (seconds/2, minute, hour, day,
// month, year since 1980 from bit 0 up).
inline constexpr std::uint32_t kStamp =
    (44u / 2) | (59u << 5) | (7u << 11) | (7u << 16) | (12u << 21) | ((2026u - 1980u) << 25);
inline constexpr std::uint32_t kCreateStamp = kStamp - 2;

enum class Layout {
  Contiguous,  // NoFatChain set, FAT entries left free
  Chained,     // one run, linked in the FAT
  Fragmented,  // every cluster followed by a free one, linked in the FAT
};

// Where a set was written: its slot in its folder (a set may run on into
// the folder's next cluster, wherever that lies).
struct SetRef {
  std::uint32_t folder = 0;  // the folder's first cluster
  std::uint32_t slot = 0;    // of its file entry, counted in 32-byte entries
  std::uint64_t offset = 0;  // byte offset of its file entry in the volume
  std::uint32_t firstCluster = 0;
  std::uint32_t entries = 0;  // 1 + SecondaryCount
  std::vector<std::uint32_t> clusters;
};

class ExFatImageBuilder {
 public:
  // A fresh volume: FAT at `fatOffset`, heap at the next multiple of
  // `fatOffset` after the FAT (as formatters align it) or right behind the
  // FAT when `packed`, bitmap, up-case table and root in the first clusters.
  static ExFatImageBuilder Format(std::uint64_t sectors, std::uint32_t sectorsPerCluster,
                                  std::uint32_t fatOffset = 128, bool packed = false) {
    ExFatImageBuilder b;
    b.bytes_.assign(sectors * 512, 0);
    b.spc_ = sectorsPerCluster;
    unsigned shift = 0;
    while ((1u << shift) < sectorsPerCluster) ++shift;
    b.fatOffset_ = fatOffset;
    // Cluster count and FAT length depend on each other: settle them.
    std::uint32_t fatLength = 1;
    std::uint32_t clusters = 0;
    std::uint64_t heap = 0;
    auto place = [&] {
      return packed ? std::uint64_t{fatOffset} + fatLength
                    : (std::uint64_t{(fatLength + fatOffset - 1) / fatOffset} + 1) * fatOffset;
    };
    for (int i = 0; i < 8; ++i) {
      heap = place();
      clusters = static_cast<std::uint32_t>((sectors - heap) / sectorsPerCluster);
      fatLength = static_cast<std::uint32_t>((std::uint64_t{clusters + 2} * 4 + 511) / 512);
    }
    heap = place();
    clusters = static_cast<std::uint32_t>((sectors - heap) / sectorsPerCluster);
    b.fatLength_ = fatLength;
    b.heap_ = heap;
    b.clusterCount_ = clusters;

    std::uint8_t* boot = b.bytes_.data();
    boot[0] = 0xEB;
    boot[1] = 0x76;
    boot[2] = 0x90;
    std::memcpy(boot + 3, "EXFAT   ", 8);
    Put64(boot + 72, sectors);
    Put32(boot + 80, fatOffset);
    Put32(boot + 84, fatLength);
    Put32(boot + 88, static_cast<std::uint32_t>(heap));
    Put32(boot + 92, clusters);
    Put32(boot + 100, 0x1234ABCD);
    Put16(boot + 104, 0x0100);
    boot[108] = 9;
    boot[109] = static_cast<std::uint8_t>(shift);
    boot[110] = 1;
    boot[111] = 0x80;
    boot[510] = 0x55;
    boot[511] = 0xAA;

    b.Fat(0, 0xFFFFFFF8);
    b.Fat(1, 0xFFFFFFFF);
    // Bitmap at cluster 2, up-case table behind it, root behind that.
    const std::uint32_t bitmapBytes = (clusters + 7) / 8;
    b.bitmapCluster_ = 2;
    std::vector<std::uint32_t> bitmap;
    for (std::uint32_t i = 0; i < (bitmapBytes + b.ClusterBytes() - 1) / b.ClusterBytes(); ++i) bitmap.push_back(2 + i);
    b.bitmapClusters_ = bitmap;
    for (std::uint32_t c : bitmap) b.SetAllocated(c, true);
    b.Link(bitmap);
    const std::vector<std::uint8_t> upcase = UpcaseTable();
    const std::vector<std::uint32_t> up = b.AllocateChained((upcase.size() + b.ClusterBytes() - 1) / b.ClusterBytes());
    b.WriteData(up, upcase);
    const std::vector<std::uint32_t> root = b.AllocateChained(1);
    b.root_ = root[0];
    Put32(boot + 96, b.root_);
    b.folders_.push_back({b.root_, true, root, {}});

    std::uint8_t entry[32] = {};
    entry[0] = 0x83;  // volume label "TEST"
    entry[1] = 4;
    const char16_t label[] = u"TEST";
    for (int i = 0; i < 4; ++i) Put16(entry + 2 + 2 * i, label[i]);
    b.AppendEntries(b.root_, entry, 1);
    std::memset(entry, 0, sizeof entry);
    entry[0] = 0x81;
    Put32(entry + 20, bitmap[0]);
    Put64(entry + 24, bitmapBytes);
    b.AppendEntries(b.root_, entry, 1);
    std::memset(entry, 0, sizeof entry);
    entry[0] = 0x82;
    std::uint32_t tableSum = 0;
    for (std::uint8_t byte : upcase) tableSum = ((tableSum & 1) ? 0x80000000u : 0) + (tableSum >> 1) + byte;
    Put32(entry + 4, tableSum);
    Put32(entry + 20, up[0]);
    Put64(entry + 24, upcase.size());
    b.AppendEntries(b.root_, entry, 1);
    b.FinishBootRegions();
    return b;
  }

  // A volume another tool formatted.
  explicit ExFatImageBuilder(std::vector<std::uint8_t> image) : bytes_(std::move(image)) {
    const std::uint8_t* boot = bytes_.data();
    fatOffset_ = Get32(boot + 80);
    fatLength_ = Get32(boot + 84);
    heap_ = Get32(boot + 88);
    clusterCount_ = Get32(boot + 92);
    root_ = Get32(boot + 96);
    spc_ = 1u << boot[109];
    folders_.push_back({root_, true, Chain(root_), {}});
    // The bitmap is where the root's allocation bitmap entry says.
    for (std::uint32_t c : folders_[0].clusters) {
      for (std::uint32_t at = 0; at < ClusterBytes(); at += 32) {
        const std::uint8_t* e = bytes_.data() + ClusterOffset(c) + at;
        if (e[0] == 0x81) {
          bitmapCluster_ = Get32(e + 20);
          bitmapClusters_ = Chain(bitmapCluster_);
        }
      }
    }
  }

  std::vector<std::uint8_t>& Bytes() { return bytes_; }
  std::uint32_t Root() const { return root_; }
  std::uint32_t ClusterBytes() const { return spc_ * 512; }
  std::uint32_t SectorsPerCluster() const { return spc_; }
  std::uint32_t ClusterCount() const { return clusterCount_; }
  std::uint64_t HeapStart() const { return heap_; }
  std::uint32_t FatOffset() const { return fatOffset_; }
  std::uint32_t FatLength() const { return fatLength_; }
  std::uint64_t ClusterOffset(std::uint32_t c) const { return (heap_ + std::uint64_t{c - 2} * spc_) * 512; }

  std::uint32_t Fat(std::uint32_t c) const { return Get32(bytes_.data() + std::uint64_t{fatOffset_} * 512 + 4ull * c); }
  void Fat(std::uint32_t c, std::uint32_t value) {
    Put32(bytes_.data() + std::uint64_t{fatOffset_} * 512 + 4ull * c, value);
  }
  bool Allocated(std::uint32_t c) const {
    const std::uint32_t i = c - 2;
    return (bytes_[BitmapByte(i)] >> (i % 8)) & 1;
  }
  void SetAllocated(std::uint32_t c, bool on) {
    const std::uint32_t i = c - 2;
    std::uint8_t& byte = bytes_[BitmapByte(i)];
    byte = static_cast<std::uint8_t>(on ? byte | (1u << (i % 8)) : byte & ~(1u << (i % 8)));
  }

  // Clusters of a file or folder in file order.
  std::vector<std::uint32_t> Allocate(std::uint32_t count, Layout layout) {
    std::vector<std::uint32_t> clusters;
    if (count == 0) return clusters;
    if (layout == Layout::Fragmented) {
      std::uint32_t c = 2;
      while (clusters.size() < count) {
        for (Check(c); Allocated(c) || Reserved(c); Check(c)) ++c;
        clusters.push_back(c);
        reserved_.push_back(c);
        c += 2;  // leave a free cluster between the pieces
      }
      reserved_.clear();
      for (std::uint32_t x : clusters) SetAllocated(x, true);
      Link(clusters);
      return clusters;
    }
    std::uint32_t start = 2;
    for (;;) {
      std::uint32_t n = 0;
      while (n < count) {
        Check(start + n);
        if (Allocated(start + n)) break;
        ++n;
      }
      if (n == count) break;
      start += n + 1;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
      clusters.push_back(start + i);
      SetAllocated(start + i, true);
    }
    if (layout == Layout::Chained) Link(clusters);
    return clusters;
  }

  void WriteData(const std::vector<std::uint32_t>& clusters, std::span<const std::uint8_t> data) {
    for (std::size_t i = 0; i < clusters.size(); ++i) {
      const std::size_t at = i * ClusterBytes();
      if (at >= data.size()) break;
      const std::size_t n = std::min<std::size_t>(ClusterBytes(), data.size() - at);
      std::memcpy(bytes_.data() + ClusterOffset(clusters[i]), data.data() + at, n);
    }
  }

  SetRef AddFile(std::uint32_t folder, const std::u16string& name, std::span<const std::uint8_t> data,
                 Layout layout = Layout::Contiguous) {
    const auto count = static_cast<std::uint32_t>((data.size() + ClusterBytes() - 1) / ClusterBytes());
    const std::vector<std::uint32_t> clusters = Allocate(count, layout);
    WriteData(clusters, data);
    return AddSet(folder, name, 0x20, clusters, data.size(), layout == Layout::Contiguous && count > 0);
  }

  // A folder of `clusters` clusters, contiguous or linked in the FAT.
  SetRef AddFolder(std::uint32_t folder, const std::u16string& name, bool contiguous = false,
                   std::uint32_t clusters = 1) {
    const std::vector<std::uint32_t> run = Allocate(clusters, contiguous ? Layout::Contiguous : Layout::Chained);
    for (std::uint32_t c : run) std::memset(bytes_.data() + ClusterOffset(c), 0, ClusterBytes());
    SetRef ref = AddSet(folder, name, 0x10, run, std::uint64_t{clusters} * ClusterBytes(), contiguous);
    folders_.push_back({run[0], !contiguous, run, ref});
    return ref;
  }

  // What deleting does: the in-use bit of every entry of the set is
  // cleared and the clusters are freed in the bitmap; the FAT entries stay.
  void Delete(const SetRef& ref) {
    for (std::uint32_t i = 0; i < ref.entries; ++i) Entry(ref, i)[0] &= 0x7F;
    for (std::uint32_t c : ref.clusters) SetAllocated(c, false);
  }

  // Entry `i` of a set.
  std::uint8_t* Entry(const SetRef& ref, std::uint32_t i) { return EntryAt(FolderOf(ref.folder), ref.slot + i); }

  // The root's volume-label entry as a formatter leaves it for a volume
  // without a label: not in use (type 0x03), no characters.
  void ClearVolumeLabel() {
    std::uint8_t* label = EntryAt(FolderOf(root_), 0);
    if (label[0] != 0x83) throw std::runtime_error("the root does not begin with its label");
    std::memset(label, 0, 32);
    label[0] = 0x03;
  }

  // The clusters of `first`'s chain in the FAT.
  std::vector<std::uint32_t> ChainOf(std::uint32_t first) const { return Chain(first); }

  // Writes the set's checksum over its entries.
  void Seal(const SetRef& ref) {
    std::uint16_t sum = 0;
    for (std::uint32_t i = 0; i < ref.entries * 32; ++i) {
      if (i == 2 || i == 3) continue;
      sum = static_cast<std::uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + Entry(ref, i / 32)[i % 32]);
    }
    Put16(Entry(ref, 0) + 2, sum);
  }

  // Writes the directory entries into `folder`'s first free slots; returns
  // the first one's slot.
  std::uint32_t AppendEntries(std::uint32_t folder, const std::uint8_t* entries, std::uint32_t count) {
    Folder& f = FolderOf(folder);
    const std::uint32_t perCluster = ClusterBytes() / 32;
    std::uint32_t slot = 0;
    for (;;) {
      const std::uint32_t have = static_cast<std::uint32_t>(f.clusters.size()) * perCluster;
      // exFAT keeps a set within one directory; a new set starts at the end.
      while (slot < have && EntryAt(f, slot)[0] != 0x00) ++slot;
      if (slot + count <= have) break;
      if (!f.chained) throw std::runtime_error("contiguous test folder is full");
      const std::vector<std::uint32_t> more = Allocate(1, Layout::Contiguous);
      std::memset(bytes_.data() + ClusterOffset(more[0]), 0, ClusterBytes());
      Fat(f.clusters.back(), more[0]);
      Fat(more[0], 0xFFFFFFFF);
      f.clusters.push_back(more[0]);
      if (f.own.entries != 0) {
        const SetRef own = f.own;  // `f` may move while the parent is looked up
        const std::uint64_t length = f.clusters.size() * std::uint64_t{ClusterBytes()};
        Put64(Entry(own, 1) + 8, length);
        Put64(Entry(own, 1) + 24, length);
        Seal(own);
      }
    }
    Folder& g = FolderOf(folder);
    for (std::uint32_t i = 0; i < count; ++i) std::memcpy(EntryAt(g, slot + i), entries + 32ull * i, 32);
    return slot;
  }

  // The boot regions' checksum sectors and the backup region.
  void FinishBootRegions() {
    std::uint8_t* b = bytes_.data();
    for (int s = 1; s <= 8; ++s) {  // extended boot sectors end with their signature
      b[s * 512 + 510] = 0x55;
      b[s * 512 + 511] = 0xAA;
    }
    std::uint32_t sum = 0;
    for (std::uint32_t i = 0; i < 11 * 512; ++i) {
      if (i == 106 || i == 107 || i == 112) continue;
      sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + b[i];
    }
    for (int i = 0; i < 128; ++i) Put32(b + 11 * 512 + 4 * i, sum);
    std::memcpy(b + 12 * 512, b, 12 * 512);
  }

 private:
  struct Folder {
    std::uint32_t first = 0;
    bool chained = true;
    std::vector<std::uint32_t> clusters;
    SetRef own;  // its own set in its parent (none for the root)
  };

  ExFatImageBuilder() = default;

  static std::vector<std::uint8_t> UpcaseTable() {
    // Uncompressed, for the first 128 characters: a-z map to A-Z, the rest
    // to themselves (characters past the table are their own upper case).
    std::vector<std::uint8_t> t(256);
    for (std::uint16_t c = 0; c < 128; ++c) Put16(t.data() + 2 * c, (c >= u'a' && c <= u'z') ? c - 32 : c);
    return t;
  }

  static char16_t Upper(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return static_cast<char16_t>(c - 32);
    return c;
  }

  std::uint64_t BitmapByte(std::uint32_t index) const {
    const std::uint32_t perCluster = ClusterBytes();
    return ClusterOffset(bitmapClusters_.at(index / 8 / perCluster)) + (index / 8) % perCluster;
  }

  void Check(std::uint32_t c) const {
    if (c > clusterCount_ + 1) throw std::runtime_error("test volume is full");
  }
  bool Reserved(std::uint32_t c) const {
    return std::find(reserved_.begin(), reserved_.end(), c) != reserved_.end();
  }

  std::vector<std::uint32_t> AllocateChained(std::uint32_t count) { return Allocate(count, Layout::Chained); }

  void Link(const std::vector<std::uint32_t>& clusters) {
    for (std::size_t i = 0; i < clusters.size(); ++i)
      Fat(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : 0xFFFFFFFF);
  }

  std::vector<std::uint32_t> Chain(std::uint32_t c) const {
    std::vector<std::uint32_t> out;
    while (c >= 2 && c <= clusterCount_ + 1 && out.size() <= clusterCount_) {
      out.push_back(c);
      c = Fat(c);
    }
    return out;
  }

  Folder& FolderOf(std::uint32_t first) {
    for (Folder& f : folders_)
      if (f.first == first) return f;
    throw std::runtime_error("no such test folder");
  }

  std::uint8_t* EntryAt(Folder& f, std::uint32_t slot) {
    const std::uint32_t perCluster = ClusterBytes() / 32;
    return bytes_.data() + ClusterOffset(f.clusters[slot / perCluster]) + 32ull * (slot % perCluster);
  }

  SetRef AddSet(std::uint32_t folder, const std::u16string& name, std::uint16_t attributes,
                const std::vector<std::uint32_t>& clusters, std::uint64_t length, bool contiguous) {
    const auto nameEntries = static_cast<std::uint32_t>((name.size() + 14) / 15);
    const std::uint32_t count = 2 + nameEntries;
    std::vector<std::uint8_t> set(32ull * count, 0);
    std::uint8_t* file = set.data();
    file[0] = 0x85;
    file[1] = static_cast<std::uint8_t>(count - 1);
    Put16(file + 4, attributes);
    Put32(file + 8, kCreateStamp);
    Put32(file + 12, kStamp);
    Put32(file + 16, kStamp);
    std::uint8_t* stream = set.data() + 32;
    stream[0] = 0xC0;
    stream[1] = static_cast<std::uint8_t>(clusters.empty() ? 0x01 : (contiguous ? 0x03 : 0x01));
    stream[3] = static_cast<std::uint8_t>(name.size());
    std::uint16_t hash = 0;
    for (char16_t c : name) {
      const char16_t u = Upper(c);
      for (std::uint8_t byte : {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8)})
        hash = static_cast<std::uint16_t>(((hash & 1) ? 0x8000 : 0) + (hash >> 1) + byte);
    }
    Put16(stream + 4, hash);
    Put64(stream + 8, length);
    Put32(stream + 20, clusters.empty() ? 0 : clusters[0]);
    Put64(stream + 24, length);
    for (std::uint32_t k = 0; k < nameEntries; ++k) {
      std::uint8_t* e = set.data() + 64 + 32ull * k;
      e[0] = 0xC1;
      for (std::uint32_t u = 0; u < 15 && 15 * k + u < name.size(); ++u) Put16(e + 2 + 2 * u, name[15 * k + u]);
    }
    SetRef ref;
    ref.folder = folder;
    ref.slot = AppendEntries(folder, set.data(), count);
    ref.offset = static_cast<std::uint64_t>(Entry(ref, 0) - bytes_.data());
    ref.firstCluster = clusters.empty() ? 0 : clusters[0];
    ref.entries = count;
    ref.clusters = clusters;
    Seal(ref);
    return ref;
  }

  std::vector<std::uint8_t> bytes_;
  std::uint32_t spc_ = 1;
  std::uint32_t fatOffset_ = 0;
  std::uint32_t fatLength_ = 0;
  std::uint64_t heap_ = 0;
  std::uint32_t clusterCount_ = 0;
  std::uint32_t root_ = 0;
  std::uint32_t bitmapCluster_ = 2;
  std::vector<std::uint32_t> bitmapClusters_;
  std::vector<Folder> folders_;
  std::vector<std::uint32_t> reserved_;
};

}  // namespace corvan::exfattest
