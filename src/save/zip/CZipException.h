#pragma once
// The zip writer's one exception: a cause number from the zlib or writer
// code that raised it, the archive's path, and, for failures of the archive
// file, the system error.

#include <exception>
#include <string>

namespace corvan {

class CZipException : public std::exception {
 public:
  // Writer codes: a name, extra field or comment too long; the archive file
  // failed (errno in `systemError`); the entry is larger than its header can say.
  static constexpr int kNameTooLong = -107;
  static constexpr int kFileError = -108;
  static constexpr int kTooLarge = -109;

  CZipException(int code, std::string archivePath, int systemError = 0);

  // zlib 1 -> 2, 2 -> 3, -1 .. -6 -> 4 .. 9; writer -101 .. -109 -> 10 .. 18; others 1.
  static int CauseFromCode(int code);

  int m_iCause;
  std::string m_szFileName;
  int m_nSystemError;

  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

}  // namespace corvan
