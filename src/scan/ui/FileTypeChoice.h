#pragma once
// The check-box choice of file types that the selection dialog and the
// settings dialog share, over the application's full file-type list: the
// rows and their counts, the group filter, Select All and Unselect All with
// their enabling, a click on a box or Space on the selected row, and Edit.
// The dialogs place the controls; this drives them.

#include <QObject>
#include <functional>

#include "scan/ui/CEditList.h"

class QComboBox;
class QPushButton;
class QWidget;

namespace corvan {

class CORVANApp;

class FileTypeChoice final : public QObject, public EditListOwner {
  Q_OBJECT
 public:
  struct Controls {
    CEditList* list = nullptr;
    QComboBox* groups = nullptr;  // filled with the group names, "All" first
    QPushButton* edit = nullptr;
    QPushButton* selectAll = nullptr;
    QPushButton* unselectAll = nullptr;
  };
  // `dialog` owns the controls (and this) and parents the type editor.
  FileTypeChoice(QWidget* dialog, const Controls& controls);

  int RowCount() const { return m_nRowCount; }
  int CheckedCount() const { return m_nCheckedCount; }
  int SelectedRow() const;

  // Every type of the full list (loaded first if need be), the last at the
  // top.
  void FillAllRows();
  // The group filter: entry 0 lists every type, entry g those of group g,
  // in list order.
  void OnGroupChanged(int group);
  // Checks or unchecks `row` and its type.
  void ToggleRow(int row);
  void OnSelectAll();
  void OnUnselectAll();
  // Runs the type editor on the selected row's type and shows the row
  // again; true when the editor was closed with OK. The dialog connects its
  // Edit button, as what follows an edit is its own.
  bool OnEdit();

  // What follows a size edited in place, which is the dialog's own: the
  // settings dialog keeps it at once, the selection dialog on its OK.
  void SetSizeEditedHook(std::function<void()> hook) { m_sizeEdited = std::move(hook); }

  // EditListOwner: Edit follows the list; a click on a row's box toggles it.
  void EnableEditButton(bool on) override;
  void OnCheckClick(int row, const QPoint& viewportPos) override;
  void OnSizeEdited(FileTypeRecord& record) override;

  // Keeps the full list, with its choice and edits, in the user's signature
  // file when it differs from the file the list was read from. False when
  // the file could not be written.
  static bool StoreChoice(CORVANApp& app);

 protected:
  // Space on the list toggles the selected row.
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void UpdateButtons();

  QWidget* m_pDialog;
  Controls m_c;
  int m_nRowCount = 0;
  int m_nCheckedCount = 0;
  std::function<void()> m_sizeEdited;
};

}  // namespace corvan
