#pragma once
// The licence agreement: the text of "eula.dat" in the install folder, one
// line per row. A missing file leaves the list empty.

#include <filesystem>

#include "ui/SkinnedDialog.h"

class QTableWidget;

namespace corvan {

class CEula : public CSkinnedDialog {
  Q_OBJECT
 public:
  static constexpr int kIdTitle = 1036;
  static constexpr int kIdList = 1098;

  explicit CEula(QWidget* parent = nullptr, std::filesystem::path file = {});

  QTableWidget* List() const { return m_list; }
  static std::filesystem::path DefaultFile();

 private:
  QTableWidget* m_list;
};

}  // namespace corvan
