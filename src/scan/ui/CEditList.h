#pragma once
// The list of file types that the selection dialog (and the settings
// dialog) show: name with its check box, extension and size in KB, in
// alternating row colours. A click on a size cell edits the size in place,
// a click in the first column lets the owner toggle the check box, a click
// on a column heading sorts, and the size column explains itself in a tip,
// as does the name of a type whose signature is never searched for.
// Rows name their type by name and extension; the type is the first of the
// application's full list with both.

#include <QPointer>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/FileTypeRecord.h"
#include "ui/CEditItem.h"
#include "ui/CXColorListCtrl.h"

class QTableWidget;

namespace corvan {

// The dialog a CEditList belongs to.
class EditListOwner {
 public:
  virtual ~EditListOwner() = default;
  virtual void EnableEditButton(bool on) = 0;
  // A click in the first column of `row`, at `viewportPos` of the list.
  virtual void OnCheckClick(int row, const QPoint& viewportPos) = 0;
  // A size was changed in place; `record` already holds it.
  virtual void OnSizeEdited(FileTypeRecord& record) { (void)record; }
};

// The text of the size column: the largest size in KB, remainder dropped.
QString FileTypeSizeText(const FileTypeRecord& record);
// A size typed in KB: decimal digits only, not 0, and a size in bytes that
// the record can hold. Nothing for any other text.
std::optional<std::uint32_t> ParseSizeInKb(const QString& text);
// The first type of `list` with this name and extension.
FileTypeRecord* FindFileType(std::vector<FileTypeRecord>& list, const QString& name, const QString& extension);
// The type a row of a file-type list (name, extension, size) stands for,
// from the application's full list; null when none.
FileTypeRecord* RecordOfRow(const QTableWidget& list, int row);

class CEditList : public CXColorListCtrl {
  Q_OBJECT
 public:
  enum Column { kColName = 0, kColExtension = 1, kColSize = 2 };
  static constexpr int kStateUnchecked = 2, kStateChecked = 3;

  explicit CEditList(QWidget* parent = nullptr);

  void SetOwner(EditListOwner* owner) { m_pOwner = owner; }
  // The three columns, the size column `sizeWidth` pixels wide.
  void SetUpColumns(int sizeWidth);

  // A row for `record` at the top or at the bottom; returns its index.
  int AddRow(const FileTypeRecord& record, bool atTop);
  void SetRowTexts(int row, const FileTypeRecord& record);
  int RowState(int row) const;
  void SetRowState(int row, int state);
  bool IsOnCheckBox(int row, const QPoint& viewportPos) const;
  int LastClickedRow() const { return m_nLastRow; }

  // A click on cell (row, column); row -1 for none.
  void OnRowClick(int row, int column, const QPoint& viewportPos);
  // Opens the in-place editor over a cell; null when the row does not exist.
  CEditItem* EditSubLabel(int row, int column);
  CEditItem* ActiveEditor() const { return m_pEditor; }
  void OnEndLabelEdit(int row, int column, const QString& text, bool cancelled);

  // A click on a column heading: the same column again turns the order
  // round, another column starts descending.
  void OnHeaderClick(int column);
  int SortColumn() const { return m_nSortColumn; }

  QString ToolTipTextAt(const QPoint& viewportPos) const;

 protected:
  void mouseReleaseEvent(QMouseEvent* e) override;
  bool viewportEvent(QEvent* e) override;

 private:
  void SortRows(int column, bool ascending);

  EditListOwner* m_pOwner = nullptr;
  int m_nSortColumn = -1;
  int m_nLastRow = -1;
  QPointer<CEditItem> m_pEditor;
};

}  // namespace corvan
