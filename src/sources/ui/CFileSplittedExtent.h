#pragma once
// The list of the files that make up the mounted image: every extent file
// of a VMware image (missing ones marked), or the one file of a VirtualBox
// or Virtual PC image, with type, size and path.

#include <cstdint>
#include <vector>

#include "sources/VirtualDiskImage.h"
#include "ui/SkinnedDialog.h"

namespace corvan {

class CXColorListCtrl;

class CFileSplittedExtent : public CSkinnedDialog {
  Q_OBJECT
 public:
  static constexpr int kIdTitle = 1036;
  static constexpr int kIdList = 1450;
  static constexpr int kHelpContext = 121;

  // Openings of the dialog since the image was last chosen or mounted; the
  // page resets it and adds one after constructing the dialog.
  static std::uint32_t& ExtentListOpenCount();

  explicit CFileSplittedExtent(QWidget* parent = nullptr);

  CXColorListCtrl* List() const { return m_list; }

 private:
  void FillList();

  CXColorListCtrl* m_list;
  std::uint32_t m_nOpenCount;
};

}  // namespace corvan
