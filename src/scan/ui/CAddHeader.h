#pragma once
// "Add/Edit Header File": the editor of one file type of Raw Recovery. In
// add mode it makes a new user-defined type from what is typed and appends
// it to the user's signature file; in edit mode it changes a type of the
// application's full list in place (of a preset type only the size), and
// the caller decides whether the file is written. OK checks every box in a
// fixed order and names the first fault in a message.

#include <QString>
#include <array>
#include <cstdint>
#include <optional>

#include "core/FileTypeRecord.h"
#include "ui/SkinnedDialog.h"

class QComboBox;
class QLabel;
class QLineEdit;

namespace corvan {

// A signature as typed: one to eight bytes of two hexadecimal digits each,
// one space between bytes, one more allowed at the end.
enum class HeaderTextFault { None, Length, Format };
HeaderTextFault CheckHeaderText(const QString& text);
struct ParsedHeader {
  std::array<std::uint8_t, 8> bytes{};
  std::uint8_t length = 0;
};
// The bytes of a text that CheckHeaderText accepts.
ParsedHeader ParseHeaderText(const QString& text);
// The signature of `record` in the editor's form: lowercase pairs, one
// space between them.
QString HeaderText(const FileTypeRecord& record);
// A header offset as typed: at most three decimal digits, below 512.
std::optional<std::uint32_t> ParseHeaderOffset(const QString& text);
// Why Raw Recovery never finds `record`'s type, for the editor and the type
// lists to show: its signature ends past the first sector. Empty when it
// does not.
QString UnmatchedSignatureNote(const FileTypeRecord& record);
// The largest size in bytes for a size number and its unit (KB when `kb`):
// decimal digits only, not 0, and within what the record holds.
std::optional<std::uint32_t> MaxSizeFromText(const QString& text, bool kb);

class CAddHeader : public CSkinnedDialog {
  Q_OBJECT
 public:
  static constexpr int kIdName = 1130, kIdSize = 1126, kIdUnit = 1124, kIdUnitSpin = 1129, kIdExtension = 1123,
                       kIdGroup = 1128, kIdHeader = 1125, kIdOffset = 1127, kIdTitle = 1036, kIdHelp = 1059;
  static constexpr int kHelpContext = 116;

  // `record` is the full-list type to edit; null to add one.
  explicit CAddHeader(QWidget* parent, FileTypeRecord* record = nullptr);

  void OnOK();
  void accept() override { OnOK(); }
  // Either arrow of the unit control: MB and KB change places, and the size
  // number with them.
  void OnUnitToggle();
  // Builds the new type and appends it to the signature file.
  bool AppendHeaderRecord();

  QLineEdit* NameBox() const { return m_pName; }
  QLineEdit* ExtensionBox() const { return m_pExtension; }
  QLineEdit* HeaderBox() const { return m_pHeader; }
  QLineEdit* OffsetBox() const { return m_pOffset; }
  QLineEdit* SizeBox() const { return m_pSize; }
  QLineEdit* UnitBox() const { return m_pUnit; }
  QComboBox* GroupBox() const { return m_pGroup; }
  // Says why the signature in the boxes would never be found, while it ends
  // past the first sector; hidden otherwise.
  QLabel* NoteLabel() const { return m_pNote; }

 private:
  void OnBoxChanged();
  // Shows `text` and leaves the dialog open, the focus on `focus` if any.
  void Refuse(const char* text, QWidget* focus);
  bool UnitIsKb() const;

  FileTypeRecord* m_pRecord;
  QLineEdit* m_pName;
  QLineEdit* m_pExtension;
  QLineEdit* m_pHeader;
  QLineEdit* m_pOffset;
  QLineEdit* m_pSize;
  QLineEdit* m_pUnit;
  QComboBox* m_pGroup;
  QLabel* m_pNote;
  QPushButton* m_pOk;
  ParsedHeader m_header;
  std::uint32_t m_nOffset = 0;
};

}  // namespace corvan
