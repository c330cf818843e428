#include "save/zip/CZipArchive.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/TimeFormat.h"
#include "core/NameSanitiser.h"
#include "save/OutputWriter.h"

namespace corvan {

namespace {

constexpr std::uint32_t kLocalSig = 0x04034B50;
constexpr std::uint32_t kCentralSig = 0x02014B50;
constexpr std::uint32_t kEndSig = 0x06054B50;
constexpr std::uint32_t kZip64EndSig = 0x06064B50;
constexpr std::uint32_t kZip64LocatorSig = 0x07064B50;
constexpr std::uint16_t kVersion20 = 20;
constexpr std::uint16_t kVersion45 = 45;  // zip64
constexpr std::uint16_t kUtf8Flag = 0x0800;
// Entries say they were made on Unix, as Linux zip writers' do: readers
// that see "MS-DOS" there take UTF-8 names for a DOS code page, whatever
// the UTF-8 flag says. The external attributes then carry the Unix mode in
// their high half, with the DOS attributes kept in the low byte.
constexpr std::uint16_t kMadeByUnix = 3 << 8;
constexpr std::uint32_t kUnixFileMode = 0100644;
constexpr std::uint32_t kUnixFolderMode = 040755;
constexpr std::uint32_t kMax32 = 0xFFFFFFFFu;
constexpr std::uint16_t kMax16 = 0xFFFF;
constexpr std::size_t kStorageBuffer = 1u << 16;
constexpr std::size_t kDeflateBuffer = 1u << 16;

void Le16(std::vector<std::uint8_t>& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Le32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Le64(std::vector<std::uint8_t>& b, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
std::uint32_t Clamp32(std::uint64_t v) { return v >= kMax32 ? kMax32 : static_cast<std::uint32_t>(v); }

// Whether deflate's output for `size` input bytes may reach 4 GiB (zlib's
// worst case for stored blocks, with room to spare).
bool MayNeedZip64(std::uint64_t size) {
  return size >= kMax32 || size + (size >> 12) + (size >> 14) + (size >> 25) + 64 >= kMax32;
}

// MS-DOS time and date of the local time `t`.
void DosTime(std::time_t t, std::uint16_t& time, std::uint16_t& date) {
  std::tm tm{};
  localtime_r(&t, &tm);
  const int year = tm.tm_year + 1900;
  time = static_cast<std::uint16_t>(tm.tm_hour * 2048 + tm.tm_min * 32 + tm.tm_sec / 2);
  date = static_cast<std::uint16_t>((year > 1980 ? (year - 1980) * 512 : 0) + (tm.tm_mon + 1) * 32 + tm.tm_mday);
}

bool IsAscii(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Each component sanitised, empty and "." components dropped.
std::string StoredName(const std::string& name) {
  std::string out;
  std::size_t at = 0;
  while (at <= name.size()) {
    std::size_t slash = name.find_first_of("/\\", at);
    if (slash == std::string::npos) slash = name.size();
    const std::string part = name.substr(at, slash - at);
    if (!part.empty() && part != ".") {
      if (!out.empty()) out += '/';
      out += SanitiseName(std::string_view(part)).name;
    }
    at = slash + 1;
  }
  return out;
}

}  // namespace

struct CZipArchive::Entry {
  std::string name;
  std::uint16_t flags = 0;
  std::uint16_t method = 8;
  std::uint16_t time = 0, date = 0;
  std::uint32_t crc = 0;
  std::uint64_t compressed = 0;
  std::uint64_t uncompressed = 0;
  std::uint64_t offset = 0;  // of the local header
  std::uint8_t attribute = 0x20;
  bool zip64Local = false;  // the local header carries zip64 sizes
};

struct CZipArchive::Deflater {
  z_stream stream{};
  bool active = false;
  std::vector<std::uint8_t> out = std::vector<std::uint8_t>(kDeflateBuffer);
  ~Deflater() {
    if (active) deflateEnd(&stream);
  }
};

CZipException::CZipException(int code, std::string archivePath, int systemError)
    : m_iCause(CauseFromCode(code)), m_szFileName(std::move(archivePath)), m_nSystemError(systemError) {
  message_ = "zip archive " + m_szFileName + ": ";
  if (systemError != 0) message_ += std::strerror(systemError);
  else if (code == kNameTooLong) message_ += "name too long";
  else if (code == kTooLarge) message_ += "entry too large for its header";
  else message_ += "compression error " + std::to_string(code);
}

int CZipException::CauseFromCode(int code) {
  if (code == 1) return 2;
  if (code == 2) return 3;
  if (code <= -1 && code >= -6) return 3 - code;
  if (code <= -101 && code >= -109) return -code - 91;
  return 1;
}

CZipArchive::CZipArchive() = default;

CZipArchive::~CZipArchive() {
  if (fd_ >= 0) writer_->Close(fd_);
}

void CZipArchive::Fail(int code, int systemError) const { throw CZipException(code, path_, systemError); }

void CZipArchive::Open(int fd, std::string path, OutputWriter* writer) {
  if (fd_ >= 0) writer_->Close(fd_);
  fd_ = fd;
  path_ = std::move(path);
  writer_ = writer ? writer : &DefaultOutputWriter();
  end_ = 0;
  buffer_.clear();
  buffer_.reserve(kStorageBuffer);
  entries_.clear();
  open_.reset();
  deflater_.reset();
}

void CZipArchive::WriteAt(const void* data, std::size_t size, std::uint64_t offset) {
  if (!writer_->WriteAt(fd_, data, size, offset)) Fail(CZipException::kFileError, errno ? errno : EIO);
}

void CZipArchive::Flush() {
  if (buffer_.empty()) return;
  const std::uint64_t at = end_ - buffer_.size();
  const std::vector<std::uint8_t> pending = std::move(buffer_);
  buffer_.clear();
  buffer_.reserve(kStorageBuffer);
  WriteAt(pending.data(), pending.size(), at);
}

void CZipArchive::Put(const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const std::size_t n = std::min(size, kStorageBuffer - buffer_.size());
    buffer_.insert(buffer_.end(), p, p + n);
    end_ += n;
    p += n;
    size -= n;
    if (buffer_.size() == kStorageBuffer) Flush();
  }
}

std::size_t CZipArchive::EntryCount() const { return entries_.size(); }

bool CZipArchive::OpenNewFile(const std::string& name, std::uint64_t sizeHint, std::uint8_t attribute, int level) {
  if (fd_ < 0 || open_) return false;
  auto e = std::make_unique<Entry>();
  e->name = StoredName(name);
  if (e->name.empty()) return false;
  if (e->name.size() > kMax16) Fail(CZipException::kNameTooLong);
  const bool folder = (attribute & 0x10) != 0;
  e->method = (level == 0 || folder) ? 0 : 8;
  e->flags = IsAscii(e->name) ? 0 : kUtf8Flag;
  e->attribute = attribute;
  DosTime(Now(), e->time, e->date);
  e->zip64Local = MayNeedZip64(sizeHint);
  e->offset = end_;

  std::vector<std::uint8_t> h;
  Le32(h, kLocalSig);
  Le16(h, e->zip64Local ? kVersion45 : kVersion20);
  Le16(h, e->flags);
  Le16(h, e->method);
  Le16(h, e->time);
  Le16(h, e->date);
  Le32(h, 0);  // CRC-32, rewritten on close
  Le32(h, e->zip64Local ? kMax32 : 0);
  Le32(h, e->zip64Local ? kMax32 : 0);
  Le16(h, static_cast<std::uint16_t>(e->name.size()));
  Le16(h, e->zip64Local ? 20 : 0);
  h.insert(h.end(), e->name.begin(), e->name.end());
  if (e->zip64Local) {
    Le16(h, 0x0001);
    Le16(h, 16);
    Le64(h, 0);
    Le64(h, 0);
  }
  auto d = std::make_unique<Deflater>();
  if (e->method == 8) {
    const int r = deflateInit2(&d->stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    if (r != Z_OK) Fail(r);
    d->active = true;
  }
  // Open before the first byte goes out, so a failed write can be dropped.
  open_ = std::move(e);
  deflater_ = std::move(d);
  Put(h.data(), h.size());
  return true;
}

void CZipArchive::WriteNewFile(const void* data, std::size_t size) {
  if (!open_) return;
  const auto* p = static_cast<const std::uint8_t*>(data);
  open_->uncompressed += size;
  for (std::size_t left = size, at = 0; left > 0;) {
    const auto n = static_cast<uInt>(std::min<std::size_t>(left, 1u << 30));
    open_->crc = static_cast<std::uint32_t>(crc32(open_->crc, p + at, n));
    at += n;
    left -= n;
  }
  if (open_->method == 0) {
    Put(p, size);
    open_->compressed += size;
    return;
  }
  z_stream& s = deflater_->stream;
  std::size_t left = size;
  while (left > 0) {
    const auto n = static_cast<uInt>(std::min<std::size_t>(left, 1u << 30));
    s.next_in = const_cast<Bytef*>(p);
    s.avail_in = n;
    while (s.avail_in > 0) {
      s.next_out = deflater_->out.data();
      s.avail_out = static_cast<uInt>(deflater_->out.size());
      const int r = deflate(&s, Z_NO_FLUSH);
      if (r != Z_OK && r != Z_BUF_ERROR) Fail(r);
      const std::size_t produced = deflater_->out.size() - s.avail_out;
      Put(deflater_->out.data(), produced);
      open_->compressed += produced;
    }
    p += n;
    left -= n;
  }
}

void CZipArchive::FinishDeflate() {
  if (open_->method != 8) return;
  z_stream& s = deflater_->stream;
  s.next_in = nullptr;
  s.avail_in = 0;
  int r;
  do {
    s.next_out = deflater_->out.data();
    s.avail_out = static_cast<uInt>(deflater_->out.size());
    r = deflate(&s, Z_FINISH);
    if (r != Z_OK && r != Z_STREAM_END) Fail(r);
    const std::size_t produced = deflater_->out.size() - s.avail_out;
    Put(deflater_->out.data(), produced);
    open_->compressed += produced;
  } while (r != Z_STREAM_END);
  deflater_->active = false;
  r = deflateEnd(&s);
  if (r != Z_OK) Fail(r);
}

bool CZipArchive::CloseNewFile() {
  if (!open_) return false;
  FinishDeflate();
  Entry& e = *open_;
  if (!e.zip64Local && (e.compressed >= kMax32 || e.uncompressed >= kMax32)) Fail(CZipException::kTooLarge);
  Flush();
  std::vector<std::uint8_t> fix;
  Le32(fix, e.crc);
  if (e.zip64Local) {
    WriteAt(fix.data(), fix.size(), e.offset + 14);
    fix.clear();
    Le64(fix, e.uncompressed);
    Le64(fix, e.compressed);
    WriteAt(fix.data(), fix.size(), e.offset + 30 + e.name.size() + 4);
  } else {
    Le32(fix, static_cast<std::uint32_t>(e.compressed));
    Le32(fix, static_cast<std::uint32_t>(e.uncompressed));
    WriteAt(fix.data(), fix.size(), e.offset + 14);
  }
  entries_.push_back(std::move(e));
  open_.reset();
  deflater_.reset();
  return true;
}

void CZipArchive::DiscardNewFile() {
  if (!open_) return;
  const std::uint64_t start = open_->offset;
  open_.reset();
  deflater_.reset();
  // Whatever the buffer holds belongs to the dropped entry or lies past it.
  buffer_.clear();
  end_ = start;
  writer_->Truncate(fd_, start);  // Close truncates again at the true end
}

void CZipArchive::Close() {
  if (fd_ < 0) return;
  struct Closer {
    CZipArchive& a;
    ~Closer() {
      if (a.fd_ >= 0) a.writer_->Close(a.fd_);
      a.fd_ = -1;
      a.entries_.clear();
      a.open_.reset();
      a.deflater_.reset();
      a.buffer_.clear();
    }
  } closer{*this};

  if (open_) CloseNewFile();
  const std::uint64_t cdOffset = end_;
  std::vector<std::uint8_t> h;
  for (const Entry& e : entries_) {
    h.clear();
    const bool bigSizes = e.zip64Local || e.compressed >= kMax32 || e.uncompressed >= kMax32;
    const bool bigOffset = e.offset >= kMax32;
    std::vector<std::uint8_t> extra;
    if (bigSizes || bigOffset) {
      std::vector<std::uint8_t> values;
      if (bigSizes) {
        Le64(values, e.uncompressed);
        Le64(values, e.compressed);
      }
      if (bigOffset) Le64(values, e.offset);
      Le16(extra, 0x0001);
      Le16(extra, static_cast<std::uint16_t>(values.size()));
      extra.insert(extra.end(), values.begin(), values.end());
    }
    const std::uint16_t version = (bigSizes || bigOffset) ? kVersion45 : kVersion20;
    Le32(h, kCentralSig);
    Le16(h, kMadeByUnix | version);
    Le16(h, version);
    Le16(h, e.flags);
    Le16(h, e.method);
    Le16(h, e.time);
    Le16(h, e.date);
    Le32(h, e.crc);
    Le32(h, bigSizes ? kMax32 : static_cast<std::uint32_t>(e.compressed));
    Le32(h, bigSizes ? kMax32 : static_cast<std::uint32_t>(e.uncompressed));
    Le16(h, static_cast<std::uint16_t>(e.name.size()));
    Le16(h, static_cast<std::uint16_t>(extra.size()));
    Le16(h, 0);  // comment
    Le16(h, 0);  // disk number start
    Le16(h, 0);  // internal attributes
    Le32(h, ((e.attribute & 0x10) ? kUnixFolderMode : kUnixFileMode) << 16 | e.attribute);
    Le32(h, bigOffset ? kMax32 : static_cast<std::uint32_t>(e.offset));
    h.insert(h.end(), e.name.begin(), e.name.end());
    h.insert(h.end(), extra.begin(), extra.end());
    Put(h.data(), h.size());
  }
  const std::uint64_t cdSize = end_ - cdOffset;
  const std::uint64_t count = entries_.size();
  h.clear();
  if (count >= kMax16 || cdSize >= kMax32 || cdOffset >= kMax32) {
    const std::uint64_t zip64End = end_;
    Le32(h, kZip64EndSig);
    Le64(h, 44);
    Le16(h, kVersion45);
    Le16(h, kVersion45);
    Le32(h, 0);
    Le32(h, 0);
    Le64(h, count);
    Le64(h, count);
    Le64(h, cdSize);
    Le64(h, cdOffset);
    Le32(h, kZip64LocatorSig);
    Le32(h, 0);
    Le64(h, zip64End);
    Le32(h, 1);
  }
  const auto count16 = static_cast<std::uint16_t>(count >= kMax16 ? kMax16 : count);
  Le32(h, kEndSig);
  Le16(h, 0);
  Le16(h, 0);
  Le16(h, count16);
  Le16(h, count16);
  Le32(h, Clamp32(cdSize));
  Le32(h, Clamp32(cdOffset));
  Le16(h, 0);
  Put(h.data(), h.size());
  Flush();
  // A dropped entry may have left bytes past the end.
  if (!writer_->Truncate(fd_, end_)) Fail(CZipException::kFileError, errno ? errno : EIO);
  const int fd = fd_;
  fd_ = -1;
  if (!writer_->Close(fd)) Fail(CZipException::kFileError, errno ? errno : EIO);
}

}  // namespace corvan
