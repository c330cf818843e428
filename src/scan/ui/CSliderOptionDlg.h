#pragma once
// The recovery options panel that slides out beside the start screen when a
// volume, the disk or a saved scan is selected: the mode buttons that fit
// the selection, the file-system or scan-type radios, the help links, File
// Type and Select Range. A mode button stores the mode and its options and
// puts the results window in front, which runs the scan.

#include <QPointer>
#include <functional>
#include <cstdint>

#include "ui/CSlider.h"

class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace corvan {

class CXBitmapButton;

class CSliderOptionDlg : public CSlider {
  Q_OBJECT
 public:
  static constexpr int kWidth = 230;
  static constexpr int kIdCancel = 2;
  static constexpr int kIdQuick = 1008, kIdDeleted = 1009, kIdAdvance = 1010, kIdRaw = 1011,
                       kIdLostVolume = 1012, kIdScanNow = 1013;
  static constexpr int kIdRadioFat = 1017, kIdRadioOther = 1018, kIdGroup = 1032;
  static constexpr int kIdLabelQuick = 1028, kIdLabelDeleted = 1029, kIdLabelAdvance = 1030, kIdLabelRaw = 1031;
  static constexpr int kIdLearnQuick = 1019, kIdLearnDeleted = 1020, kIdLearnAdvance = 1021, kIdLearnRaw = 1022;
  static constexpr int kIdFileType = 1023, kIdSelectRange = 1024;
  static constexpr int kIdHeading = 1025, kIdMediaLine = 1026, kIdHint = 1027;

  // `closePanel` slides the panel away (the owner's own way of closing it).
  CSliderOptionDlg(QWidget& owner, std::function<void()> closePanel);

  void HideAll();
  // Sets the panel up for a selection: media kind (0 source page, 7 resume
  // page), selection (0 a volume, 1 the disk, 2 a saved volume scan), page
  // (0 new recovery, 1 resume).
  void UpdateForSelectedMedia(std::uint8_t mediaKind, std::uint8_t selection, std::uint8_t page);

  void OnQuickRecovery();
  void OnDeletedRecovery();
  void OnAdvanceRecovery();
  // Raw Recovery: with no file type to search for it says so and stays.
  void OnRawRecovery();
  void OnScanNow();
  // Search Lost Volume: asks 419 when the disk was searched before, then
  // runs the lost-volume dialog (quick or deep by the radios).
  void OnSearchLostVolume();
  void OnSelectRange();
  // File Type: the choice of the file types Raw Recovery searches for.
  void OnFileType();
  void OnLearnMore(int linkId);
  // The help context of a Learn More link for the current set-up; 0 none.
  int HelpContextOf(int linkId) const;

  bool ModalOpen() const { return m_bModalOpen; }

  // What the source page does around a lost-volume search: it hides, and
  // comes back with its lists refreshed. The page sets them when it selects
  // the disk.
  struct SourcePageHooks {
    std::function<void()> hide;
    std::function<void()> back;
  };
  void SetSourcePageHooks(SourcePageHooks hooks) { m_pageHooks = std::move(hooks); }

 protected:
  void paintEvent(QPaintEvent*) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void ApplyResumeFlagRule();
  // Puts caption `caption` (0 to 3) and its Learn More link under the button
  // at `buttonY`, with `text`.
  void PlaceCaption(int caption, int buttonY, const QString& text);
  // Slides the panel away, stores `mode` and puts the results window in
  // front; queued, so the clicked button is not deleted under its handler.
  void CloseAndRun(std::uint32_t mode, bool rawRegion);
  void SetRadios(const QString& first, const QString& second, bool checkFirst);

  QPointer<QWidget> m_pOwnerDlg;
  SourcePageHooks m_pageHooks;
  std::function<void()> m_closePanel;
  std::uint8_t m_nMediaKind = 0, m_nSelection = 0, m_nPage = 0;
  bool m_bModalOpen = false;
  bool m_bLaunching = false;
  CXBitmapButton* m_btnQuick;
  CXBitmapButton* m_btnDeleted;
  CXBitmapButton* m_btnAdvance;
  CXBitmapButton* m_btnRaw;
  CXBitmapButton* m_btnLostVolume;
  CXBitmapButton* m_btnScanNow;
  QPushButton* m_btnCancel;
  QRadioButton* m_radioFat;
  QRadioButton* m_radioOther;
  QGroupBox* m_group;
  QLabel* m_heading;
  QLabel* m_mediaLine;
  QLabel* m_hint;
  QLabel* m_labels[4];
  QLabel* m_links[6];
};

// The help context a Learn More link opens for the panel's set-up (media
// kind, selection); 0 when the link opens none.
int LearnMoreHelpContext(int linkId, std::uint8_t mediaKind, std::uint8_t selection);

}  // namespace corvan
