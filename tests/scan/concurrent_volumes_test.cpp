// Every volume of one image scanned at the same time, each on a thread and
// a host of its own: nothing reads through a process-wide disk, so each
// scan must still give its volume's truth, data included.

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "console/FoundItemStore.h"
#include "core/HeadlessHost.h"
#include "core/RecoveryMode.h"
#include "platform/TextConv.h"
#include "scan/ProgramEngines.h"
#include "scan/ScanWorker.h"
#include "sources/PartitionWalk.h"
#include "sources/VirtualDiskImage.h"
#include "support/CorpusTruth.h"
#include "support/HeadlessScan.h"
#include "support/Md5.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

// One scan of one volume, with the truth it must give.
struct VolumeScan : test::VolumeScan {
  const SourceRecord* source = nullptr;
  std::string truthName;
};

std::string TruthNameOf(const PartitionRecord& p) {
  switch (p.fileSystemKind) {
    case kFsNtfs: return "ntfs";
    case kFsExFat: return "exfat";
    case kFsFat32: return "fat32";
    case kFsFat16: return "fat16";
    default: return {};
  }
}

TEST(ConcurrentVolumes, EveryVolumeOfOneImageAtOnceGivesItsOwnTruth) {
  const MountResult mount = MountImageFile(kImageVmware, test::CorpusDir() / "disks" / "mbr.vmdk");
  ASSERT_TRUE(mount.mounted);
  SourceList list;
  list.m_nDiskSectors = mount.image->SectorCount();
  ScanPartitions(list, *mount.image);
  BuildSourceList(list, kImageVmware, 0);

  std::vector<std::unique_ptr<VolumeScan>> scans;
  for (const auto& record : list.m_sources) {
    if (!record->partition) continue;
    auto scan = std::make_unique<VolumeScan>();
    scan->source = record.get();
    scan->truthName = TruthNameOf(*record->partition);
    ASSERT_FALSE(scan->truthName.empty()) << int(record->partition->fileSystemKind);
    scans.push_back(std::move(scan));
  }
  ASSERT_EQ(scans.size(), 4u);  // NTFS, FAT32, exFAT and FAT16, as the manifest lays them out

  // All four start together, so their reads of the one image interleave.
  std::latch start(static_cast<std::ptrdiff_t>(scans.size()));
  std::vector<std::thread> threads;
  for (auto& scan : scans)
    threads.emplace_back([&scan, &mount, &start] {
      start.arrive_and_wait();
      scan->Run(*scan->source, mount.image, kModeQuick);
    });
  for (auto& t : threads) t.join();

  for (const auto& scan : scans) {
    SCOPED_TRACE(scan->truthName);
    EXPECT_TRUE(scan->problem.empty()) << scan->problem;
    EXPECT_EQ(scan->host.BusyFlag().load(), 0u) << "the job ended";
    ScanEngine* engine = scan->Engine();
    ASSERT_NE(engine, nullptr);
    std::map<std::string, FoundItemHandle> byPath;
    for (FoundItemHandle h = 1; h < scan->store.Count(); ++h)
      EXPECT_TRUE(byPath.emplace(Utf16ToUtf8(scan->store.PathOf(h)), h).second) << "listed twice";
    int files = 0;
    for (const test::TruthRow& row : test::ReadTruth(test::CorpusDir() / (scan->truthName + ".truth.tsv"))) {
      if (row.state != "live") continue;
      const auto it = byPath.find(row.path);
      ASSERT_NE(it, byPath.end()) << row.path;
      const StoredItem item = scan->store.Item(it->second);
      EXPECT_EQ(item.record.IsFolder(), row.type == "dir") << row.path;
      if (row.type != "file") continue;
      EXPECT_EQ(item.record.size, row.size) << row.path;
      test::Md5 md5;
      const WalkResult read = engine->ReadItemData(item.record, [&](const DataBlock& block) {
        md5.Update(block.bytes);
        return true;
      });
      EXPECT_TRUE(read.Clean()) << row.path;
      EXPECT_EQ(md5.HexDigest(), row.md5) << row.path;
      ++files;
    }
    EXPECT_GT(files, 0);
  }
}

}  // namespace
}  // namespace corvan
