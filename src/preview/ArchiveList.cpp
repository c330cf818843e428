#include "preview/ArchiveList.h"

#include <cstdio>
#include <ctime>

#include "core/StringTable.h"
#include "platform/TextConv.h"
#include "preview/PreviewKinds.h"
#include "preview/TextDecode.h"

namespace corvan {

void ArchiveListing::Add(ArchiveEntry entry) {
  totalSize += entry.unpacked;
  entries.push_back(std::move(entry));
}

ArchiveFormat ArchiveFormatOfName(std::u16string_view name) {
  const struct {
    const char16_t* suffix;
    ArchiveFormat format;
  } formats[] = {{u".zip", ArchiveFormat::Zip}, {u".rar", ArchiveFormat::Rar}, {u".arj", ArchiveFormat::Arj},
                 {u".lzh", ArchiveFormat::Lzh}, {u".tar", ArchiveFormat::Tar}, {u".cab", ArchiveFormat::Cab},
                 {u".alz", ArchiveFormat::Alz}};
  for (const auto& f : formats)
    if (NameEndsWith(name, f.suffix)) return f.format;
  return ArchiveFormat::None;
}

namespace {

// The archive's bytes, which tell the parser to stop once the listing is
// full: every walk asks at each step.
class CappedSource final : public ByteSource {
 public:
  CappedSource(ByteSource& inner, const ArchiveListing& listing, std::size_t limit)
      : inner_(inner), listing_(listing), limit_(limit) {}
  std::uint64_t Size() const override { return inner_.Size(); }
  bool Read(std::uint64_t offset, std::span<std::uint8_t> out) override { return inner_.Read(offset, out); }
  bool Stopped() const override { return inner_.Stopped() || listing_.entries.size() >= limit_; }

 private:
  ByteSource& inner_;
  const ArchiveListing& listing_;
  std::size_t limit_;
};

}  // namespace

ArchiveListing ListArchiveEntries(ByteSource& source, std::u16string_view name, std::size_t limit) {
  ArchiveListing listing;
  CappedSource capped(source, listing, limit);
  switch (ArchiveFormatOfName(name)) {
    case ArchiveFormat::Zip: ListZipEntries(capped, listing); break;
    case ArchiveFormat::Rar: ListRarEntries(capped, listing); break;
    case ArchiveFormat::Arj: ListArjEntries(capped, listing); break;
    case ArchiveFormat::Lzh: ListLzhEntries(capped, listing); break;
    case ArchiveFormat::Tar: ListTarEntries(capped, listing); break;
    case ArchiveFormat::Cab: ListCabEntries(capped, listing); break;
    case ArchiveFormat::Alz: ListAlzEntries(capped, listing); break;
    case ArchiveFormat::None: break;
  }
  if (source.Stopped()) listing.stopped = true;
  else if (listing.entries.size() >= limit) listing.full = true;
  // A parser may add the entry it was on when the limit came.
  if (listing.entries.size() > limit) {
    for (std::size_t i = limit; i < listing.entries.size(); ++i) listing.totalSize -= listing.entries[i].unpacked;
    listing.entries.resize(limit);
  }
  return listing;
}

std::u16string ArchiveName(std::string_view bytes) {
  if (const auto nul = bytes.find('\0'); nul != std::string_view::npos) bytes = bytes.substr(0, nul);
  return DecodeUtf8OrCp1252(bytes);
}

std::u16string ArchiveTypeText(const ArchiveEntry& entry) {
  return Utf8ToUtf16(LoadString(entry.isFile ? 106 : 105));
}

std::u16string ArchiveRatioText(const ArchiveEntry& entry) {
  char buf[64];
  switch (entry.ratio) {
    case RatioStyle::None: return {};
    case RatioStyle::Whole: {
      long long whole = 0;
      if (entry.unpacked != 0 && entry.packed != 0) {
        const auto u = static_cast<long long>(entry.unpacked);
        const auto p = static_cast<long long>(entry.packed);
        whole = (u - p) * 100 / u;
      }
      std::snprintf(buf, sizeof buf, "%lld.00 %%", whole);
      return FromAscii(buf);
    }
    case RatioStyle::Real: {
      double ratio = 0;
      if (entry.unpacked != 0 && entry.packed != 0) {
        const double u = static_cast<double>(entry.unpacked);
        ratio = (u - static_cast<double>(entry.packed)) * 100.0 / u;
      }
      std::snprintf(buf, sizeof buf, "%.2f %%", ratio);
      return FromAscii(buf);
    }
  }
  return {};
}

std::u16string FormatArchiveTime(const ArchiveTime& time) {
  std::tm tm{};
  std::time_t t = 0;
  switch (time.kind) {
    case ArchiveTime::Kind::None: return {};
    case ArchiveTime::Kind::Dos: {
      const std::uint32_t date = time.value >> 16;
      const std::uint32_t clock = time.value & 0xFFFF;
      tm.tm_mday = static_cast<int>(date & 31);
      tm.tm_mon = static_cast<int>((date >> 5) & 15) - 1;
      tm.tm_year = static_cast<int>(date >> 9) + 80;
      tm.tm_sec = static_cast<int>(clock & 31) * 2;
      tm.tm_min = static_cast<int>((clock >> 5) & 63);
      tm.tm_hour = static_cast<int>(clock >> 11);
      tm.tm_isdst = -1;
      t = std::mktime(&tm);
      break;
    }
    case ArchiveTime::Kind::Unix: t = static_cast<std::time_t>(time.value); break;
  }
  std::tm local{};
  if (t == static_cast<std::time_t>(-1) || !localtime_r(&t, &local)) return {};
  char buf[128];
  if (std::strftime(buf, sizeof buf, "%m/%d/%Y, %I:%M:%p", &local) == 0) return {};
  return FromAscii(buf);
}

}  // namespace corvan
