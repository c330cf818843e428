#pragma once
// Text between the core (UTF-8 and UTF-16 strings) and Qt.

#include <QString>
#include <string>
#include <string_view>

namespace corvan {

inline QString ToQString(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}
inline QString ToQString(std::u16string_view utf16) {
  return QString(reinterpret_cast<const QChar*>(utf16.data()), static_cast<qsizetype>(utf16.size()));
}
inline std::string ToUtf8(const QString& s) { return s.toStdString(); }
inline std::u16string ToUtf16(const QString& s) {
  return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), static_cast<std::size_t>(s.size()));
}

}  // namespace corvan
