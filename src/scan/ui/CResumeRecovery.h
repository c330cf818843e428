#pragma once
// The resume page of the start screen: the saved scans of the index, newest
// first, and a path box with Browse for a scan the index does not list. A
// volume scan leads to Scan Now in the options panel; a drive scan replaces
// the volumes loaded from an earlier one with its own and lists them, and a
// volume chosen there is selected as a source to recover from.

#include <QList>
#include <QPixmap>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "scan/ScanInfoIndex.h"
#include "sources/SourceRecords.h"
#include "ui/CStartPage.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace corvan {

class CHTMLListCtrl;
class CXColorListCtrl;
struct HTMLLIST_NOTIFY;
struct SourceRecord;

class CResumeRecovery : public CStartPage {
  Q_OBJECT
 public:
  static constexpr int kIdSavedList = 5123, kIdVolumeList = 1172, kIdTitle = 1173, kIdPath = 1034,
                       kIdBrowse = 1033, kIdHint = 1174, kIdSearchLostVolume = 1059;
  // Kind of a saved disk image; the index may list it, this program never writes it.
  static constexpr std::uint8_t kScanKindDiskImage = kSourceDiskImage;

  explicit CResumeRecovery(QWidget* parent = nullptr);
  // Rewrites the index from what it holds now, so entries whose files are
  // gone are dropped and scans saved while the page existed are kept.
  ~CResumeRecovery() override;

  // 0 the volumes of a drive scan, 1 the saved scans.
  void SetPageMode(int mode) override;

  // A click on item `item` of the saved-scan list (0 the top one).
  void OnSelectSavedScan(int item);
  void OnBrowse();
  // The path box changed: a full ".img" path is opened.
  void OnPathChanged();
  // Opens the scan the path box names by the kind its trailer gives.
  void OpenSavedScan(std::uint8_t kind);
  // Replaces the volumes of a drive scan loaded before with those of the
  // drive scan at `path` and lists them. False, with nothing changed, when
  // the file is not a complete drive scan.
  bool LoadScanImage(const std::filesystem::path& path);
  // A click on row `row` of the volume list.
  void OnClickVolumeList(int row);
  void OnSearchLostVolume();
  // A row for a volume the lost-volume search found in the image.
  void AddLostVolumesToList(SourceRecord& record);

  CHTMLListCtrl* SavedScanList() const { return m_savedList; }
  CXColorListCtrl* VolumeList() const { return m_volumeList; }
  // The records the saved-scan list shows, in its order.
  const std::vector<ScanImageRecord>& ShownScans() const { return m_shown; }
  std::uint8_t OpenedKind() const { return m_nOpenedKind; }

  // The text of a saved-scan item, and the path as it shows there.
  static QString SavedScanItemText(const ScanImageRecord& record, const std::string& sizeText);
  static QString ShortenedScanPath(const QString& path);
  static QString ScanKindText(std::uint8_t kind);
  // Whether the path box names a scan to open: an absolute path ending in
  // ".img" in any case.
  static bool IsFullScanPath(const QString& text);

 private:
  void FillSavedScanList();
  void OnSavedListNotify(const HTMLLIST_NOTIFY& notify);
  int AppendVolumeRow(const QStringList& texts, const SourceRecord& record);
  SourceRecord* RecordOfRow(int row) const;
  void ShowOptionsPanelFor(std::uint8_t selection);

  CHTMLListCtrl* m_savedList;
  CXColorListCtrl* m_volumeList;
  QLabel* m_title;
  QLabel* m_hint;
  QLineEdit* m_path;
  QPushButton* m_btnBrowse;
  QPushButton* m_btnSearch;
  QList<QPixmap> m_scanIcons;
  QPixmap m_volumeIcon;
  std::vector<ScanImageRecord> m_shown;
  std::uint8_t m_nOpenedKind = 0;
  bool m_bFillingVolumes = false;
};

}  // namespace corvan
