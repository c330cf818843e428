#pragma once
// The new-recovery page of the start screen: the user picks the image type
// and file (Browse or Find), mounts it, reads its details and selects a
// volume (to recover files) or the whole disk (to search lost volumes). A
// selection stores the source and its sector bounds in the application
// object and slides in the options panel, from which a scan starts.

#include <QString>
#include <cstdint>
#include <filesystem>
#include <string>

#include "ui/CStartPage.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace corvan {

class CTButton;
class CXColorListCtrl;
class CORVANApp;

class CDataRecovery : public CStartPage {
  Q_OBJECT
 public:
  static constexpr int kIdTypeGroup = 1441;
  static constexpr int kIdVmware = 1438, kIdVirtualBox = 1439, kIdVirtualPc = 1440;
  static constexpr int kIdPath = 1437, kIdHint = 1444, kIdBrowse = 1059, kIdFind = 1067, kIdMount = 1131;
  static constexpr int kIdDetailsGroup = 1442, kIdNameLabel = 1445, kIdKindLabel = 1447, kIdSizeLabel = 1448;
  static constexpr int kIdName = 1446, kIdKind = 1449, kIdSize = 1443, kIdSizeHint = 1451;
  static constexpr int kIdVolumeCaption = 1045, kIdVolumeList = 1041, kIdVolumeFrame = 1181;
  static constexpr int kIdDiskFrame = 1182, kIdLostLink = 1046, kIdArrow = 1179, kIdDiskList = 1042;
  // The stored records hold a path in 260 UTF-16 units with its terminator.
  static constexpr std::size_t kMaxPathUnits = 259;

  // What a page built again later in the run shows (the mounted image's
  // kind and size texts) and what it last chose. The page is made anew on
  // each return to the start window; this outlives it.
  struct Memory {
    std::string m_strImageKindText;     // "monolithicSparse", "Dynamic", "Fixed", ...
    std::string m_strImageSizeText;     // FormatSize of the disk's bytes
    std::u16string m_strSelectedFsText;  // file-system text of the selected volume
    std::uint8_t m_bVolumeSelected = 0;
  };
  static Memory& Remembered();

  explicit CDataRecovery(QWidget* parent = nullptr);
  ~CDataRecovery() override;

  void ApplyImageTypeFilter();
  void OnBrowse();
  void OnFind();
  void OnMount();
  void OnShowExtents();
  void OnToggleDiskList();
  void OnClickVolumeList(int row);
  void OnClickDiskList(int row);
  void ShowImageDetails();
  void RefreshLists();
  void SetListLayout(int state);
  int ListLayout() const { return m_nLayoutState; }

  CXColorListCtrl* VolumeList() const { return m_volumeList; }
  CXColorListCtrl* DiskList() const { return m_diskList; }
  QString Filter() const { return m_strFilter; }
  QString DefaultExtension() const { return m_strDefExt; }

  // Kind text and disk size in bytes of the mounted image.
  static std::string ImageKindText(const CORVANApp& app);
  // False (and the user told) when the stored records cannot hold `path`.
  static bool PathFitsRecords(const std::filesystem::path& path);

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void AddSourceRows();
  void AddLostVolumeRow(int& row);
  // What Browse and Find share after a file was chosen.
  bool TakeChosenImage(const QString& path, std::uint32_t rememberedType);
  void RestoreTypeRadio(std::uint32_t type);
  void ClearDetails();
  void UpdateMountButton();
  void SetDetailsVisible(bool on);

  QRadioButton* m_radios[3];
  QLineEdit* m_path;
  QPushButton* m_btnMount;
  QLineEdit* m_name;
  QLabel* m_kind;
  QLabel* m_size;
  QLabel* m_sizeHint;
  QLabel* m_volumeCaption;
  QLabel* m_lostLink;
  QWidget* m_volumeFrame;
  QWidget* m_diskFrame;
  CTButton* m_arrow;
  CXColorListCtrl* m_volumeList;
  CXColorListCtrl* m_diskList;
  bool m_bVolumeValid = false;
  bool m_bDiskValid = false;
  int m_nLayoutState = 2;
  QString m_strFilter, m_strDefExt;
};

}  // namespace corvan
