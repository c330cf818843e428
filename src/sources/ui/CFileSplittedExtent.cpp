#include "sources/ui/CFileSplittedExtent.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>

#include "core/AppServices.h"
#include "app/CORVANApp.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "sources/ui/SourceArt.h"
#include "ui/CXColorListCtrl.h"
#include "ui/DialogLayout.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

namespace {
// The extent names as the first opening after a mount marked them; later
// openings show these, so " (Missing)" is never added twice.
std::vector<DISK_DESCRIPTOR_EXTENT>& MarkedExtents() {
  static std::vector<DISK_DESCRIPTOR_EXTENT> extents;
  return extents;
}

const std::u16string kMissing = u" (Missing)";
}  // namespace

std::uint32_t& CFileSplittedExtent::ExtentListOpenCount() {
  static std::uint32_t count = 0;
  return count;
}

CFileSplittedExtent::CFileSplittedExtent(QWidget* parent)
    : CSkinnedDialog(parent, QSize(570, 325)), m_nOpenCount(ExtentListOpenCount()) {
  setWindowTitle(QStringLiteral("Virtual Machine Image File List"));
  QLabel* title = AddStatic(kIdTitle, QStringLiteral("Virtual Machine Image File List"), QRect(14, 44, 540, 22));
  title->setFont(SharedFontAt(kFontArial14Bold));

  m_list = new CXColorListCtrl;
  CreateReportList(this, kIdList, QRect(14, 70, 542, 208), *m_list);
  m_list->setFont(SharedFontAt(kFontArial14Bold));
  m_list->setColumnCount(4);
  m_list->setHorizontalHeaderLabels({ToQString(LoadString(kIdsImageFile)), ToQString(LoadString(kIdsTypeHeading)),
                                     ToQString(LoadString(kIdsSizeHeading)), ToQString(LoadString(kIdsImagePath))});
  const int widths[] = {320, 50, 70, 400};
  for (int c = 0; c < 4; ++c) m_list->setColumnWidth(c, widths[c]);
  m_list->setIconSize(QSize(16, 16));

  QPushButton* close = AddButton(kIdOk, QStringLiteral("Close"), QRect(476, 288, 80, 26));
  close->setDefault(true);
  connect(close, &QPushButton::clicked, this, [this] { EndDialog(kIdOk); });
  FillList();
}

void CFileSplittedExtent::FillList() {
  CORVANApp& app = App();
  const auto addRow = [this](int image, const QString& name, const QString& type, const QString& size,
                             const QString& path) {
    const int row = m_list->AppendRow({name, type, size, path});
    m_list->item(row, 0)->setIcon(ImageTypeIcon(image));
    m_list->item(row, 2)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  };
  if (!app.m_pImage) return;
  const MountState& state = app.m_pImage->State();
  const std::filesystem::path imagePath = state.m_strImagePath;
  const std::filesystem::path folder = imagePath.parent_path();
  switch (state.m_nImageType) {
    case kImageVmware: {
      if (m_nOpenCount == 0) MarkedExtents() = app.m_pImage->GetExtentNames();
      for (const DISK_DESCRIPTOR_EXTENT& extent : MarkedExtents()) {
        const std::u16string& name = extent.fileName;
        // Marked by its suffix: a file name may hold "(" of its own.
        const bool missing = name.size() >= kMissing.size() &&
                             name.compare(name.size() - kMissing.size(), kMissing.size(), kMissing) == 0;
        const std::u16string bare = missing ? name.substr(0, name.size() - kMissing.size()) : name;
        const std::filesystem::path path = folder / std::filesystem::path(bare);
        const QString size = missing ? QStringLiteral("File Not Exist")
                                     : ToQString(FormatSize(CVirtualDiskImage::GetFileSizeByName(path)));
        addRow(1, ToQString(name), QStringLiteral("VMDK"), size, QString::fromStdString(path.string()));
      }
      break;
    }
    case kImageVirtualBox:
    case kImageVirtualPc:
      if (!imagePath.empty())
        addRow(static_cast<int>(state.m_nImageType), QString::fromStdString(imagePath.filename().string()),
               state.m_nImageType == kImageVirtualBox ? QStringLiteral("VDI") : QStringLiteral("VHD"),
               ToQString(FormatSize(CVirtualDiskImage::GetFileSizeByName(imagePath))),
               QString::fromStdString(imagePath.string()));
      break;
    default:
      break;
  }
}

}  // namespace corvan
