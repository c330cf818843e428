#pragma once
// A virtual-disk image opened read-only: VMware (text descriptor with flat or
// sparse extents, a sparse file with its descriptor inside, a "-flat.vmdk"
// data file, split files numbered "-f001"/"-s001"...), VirtualBox and
// Virtual PC. Opening records what kind of image it is in the image's
// MountState; reading serves any sector of the virtual disk from files that
// stay open, with the images' tables cached, to any number of threads.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sources/ImageLayout.h"
#include "sources/SectorSource.h"

namespace corvan {

inline constexpr std::uint32_t kImageVmware = 1;
inline constexpr std::uint32_t kImageVirtualBox = 2;
inline constexpr std::uint32_t kImageVirtualPc = 3;

inline constexpr std::uint32_t kVdiDynamic = 1;
inline constexpr std::uint32_t kVdiStatic = 2;
inline constexpr std::uint32_t kVhdFixed = 2;
inline constexpr std::uint32_t kVhdDynamic = 3;

// One extent of a VMware disk.
struct DISK_DESCRIPTOR_EXTENT {
  std::uint64_t size = 0;    // in 512-byte sectors
  std::u16string type;       // "FLAT", "SPARSE", or as the descriptor writes it
  std::u16string fileName;   // in the image's folder; names that leave it are never opened
  std::uint64_t offset = 0;  // sector in the file where a flat extent's data begins
};

// What opening an image found; fixed from the end of the open on.
struct MountState {
  std::uint32_t m_nImageType = 0;  // kImageVmware, kImageVirtualBox, kImageVirtualPc
  std::filesystem::path m_strImagePath;
  std::string m_strCreateType;        // VMware createType, as the descriptor writes it
  bool m_bVmdkDescriptor = false;     // reads go through m_arrExtents (else the file is read flat)
  bool m_bVmdkEmbeddedDescriptor = false;  // the descriptor lies inside a sparse file
  bool m_bVmdkSingleExtent = false;   // a split sparse disk read from its first file alone
  std::vector<DISK_DESCRIPTOR_EXTENT> m_arrExtents;
  std::uint32_t m_nVhdType = 0;       // kVhdFixed, kVhdDynamic, or the footer's own value
  std::uint32_t m_nVdiType = 0;       // kVdiDynamic, kVdiStatic, or the header's own value
  bool m_bImageError = false;         // damaged image: the source page offers Raw Recovery
  bool m_bNoPartition = false;        // an image with no partition table to walk
  std::uint64_t m_nDiskBytes = 0;     // size of the virtual disk
};

// A numbered file of a split VMware image.
struct FoundExtentFile {
  std::uint32_t number = 0;
  std::u16string fileName;
  std::uint64_t fileSize = 0;
};

// The createType and extents of a descriptor's text.
struct DescriptorContents {
  std::string createType;
  std::vector<DISK_DESCRIPTOR_EXTENT> extents;
};
DescriptorContents ParseDescriptorText(std::string_view text);

class CVirtualDiskImage final : public SectorSource {
 public:
  CVirtualDiskImage();
  ~CVirtualDiskImage() override;
  CVirtualDiskImage(const CVirtualDiskImage&) = delete;
  CVirtualDiskImage& operator=(const CVirtualDiskImage&) = delete;

  // ---- opening (one thread; no reads may run meanwhile) ----

  // True for a VMware text descriptor and for a sparse file whose header
  // points at a descriptor inside it.
  static bool IsDescriptorFile(const std::filesystem::path& path);
  // Reads a descriptor (text file or embedded) into the createType and the
  // extent list. 1 when it names at least one extent, else 0.
  int ParseDescriptor(const std::filesystem::path& path);
  // A VMware file that is not a descriptor. 1 when it was recognised and the
  // disk's first sector carries the boot signature, else 0 (the flags say
  // whether it can still be read).
  int OpenVmdk(const std::filesystem::path& path);
  // 1 when the file is a VirtualBox disk.
  int OpenVdi(const std::filesystem::path& path);
  // 1 when the file is a Virtual PC disk, or a raw disk with a boot signature.
  int OpenVhd(const std::filesystem::path& path);
  // What the source page's mount does for an image of `imageType`.
  int Open(std::uint32_t imageType, const std::filesystem::path& path);

  // The extent list of a one-file disk ("monolithicFlat", "monolithicSparse").
  void BuildMonolithicExtent(const std::string& createType);
  // The extent list of the numbered files beside the mounted one
  // ("twoGbMaxExtentFlat", "twoGbMaxExtentSparse").
  void BuildSplitExtents(const std::string& createType);
  // The numbered siblings of `mountedName` in `folder`: same length, same
  // base before the "-", then "-f" or "-s" (`letter`), a number from 1 to
  // 476 and ".vmdk". Sorted by number, one file a number.
  static std::vector<FoundExtentFile> FindExtentFiles(const std::filesystem::path& folder,
                                                      const std::u16string& mountedName,
                                                      char16_t letter);

  // The extent list with " (Missing)" after the name of each file that does
  // not open (or whose name leads out of the image's folder).
  std::vector<DISK_DESCRIPTOR_EXTENT> GetExtentNames() const;
  // Size of a file; 0 when it cannot be opened.
  static std::uint64_t GetFileSizeByName(const std::filesystem::path& path);

  const MountState& State() const { return state_; }
  // The open's error flag, or a read since then that fell past the last
  // extent of a VMware disk.
  bool ImageError() const { return state_.m_bImageError || readPastEnd_.load(); }
  // False when not one byte of the disk can be read from the image's files.
  bool HasReadableData() const { return layout_ && layout_->HasReadableData(); }

  // ---- reading (any thread) ----
  bool ReadSectors(std::uint64_t sector, void* buffer, std::size_t bytes) override;
  std::uint64_t SectorCount() const override { return state_.m_nDiskBytes / kSectorSize; }

 private:
  struct RawStart;
  void Begin(std::uint32_t imageType, const std::filesystem::path& path);
  std::filesystem::path Folder() const;
  // The extent's file in the image's folder; empty when its name is absolute
  // or climbs out of the folder.
  std::filesystem::path ExtentPath(const DISK_DESCRIPTOR_EXTENT& extent) const;
  void AdoptEmbeddedExtent();
  bool ReadDescriptorText(const std::filesystem::path& path, std::string& text);
  std::unique_ptr<ImageLayout> MakeVmdkLayout() const;
  std::unique_ptr<ImageLayout> MakeVdiLayout() const;
  std::unique_ptr<ImageLayout> MakeVhdLayout() const;
  void BuildReader();
  bool FirstSectorIsBootable();

  MountState state_;
  std::unique_ptr<ImageLayout> layout_;
  std::atomic<bool> readPastEnd_{false};

  // Header values that reads need, kept from the open.
  std::vector<std::uint8_t> vdiHeader_;
  std::uint64_t vhdDynamicHeaderOffset_ = 0;
  std::uint64_t vhdDataLimit_ = 0;
};

// Opens `path` as an image of `imageType`; `mounted` tells whether the disk
// can be read at all (recognised, or damaged but still readable for Raw
// Recovery; not when none of its files can be read). The image is the disk every later read goes through; the
// partition walk comes next and is the caller's.
struct MountResult {
  int result = 0;                             // the opener's result
  std::shared_ptr<CVirtualDiskImage> image;   // always set; State() tells what was found
  bool mounted = false;
};
MountResult MountImageFile(std::uint32_t imageType, const std::filesystem::path& path);

}  // namespace corvan
