#pragma once
// The start screen: two large buttons switch between the new-recovery page
// and the resume page; small buttons open the settings, the About box and
// the help; the recovery options panel slides out beside it.
//
// The pages, the options panel and the settings dialog come from their own
// subsystems through StartScreenParts; until one is given, the start
// screen shows an empty page or panel, and the Setting button is disabled.

#include <QPointer>
#include <functional>

#include "ui/CSlider.h"
#include "ui/CStandardDlg.h"
#include "ui/CStartPage.h"

namespace corvan {

class CSliderButton;
class CTButton;
class CXBitmapButton;

class CORVANDlg;

struct StartScreenParts {
  std::function<CStartPage*(QWidget* container)> newRecoveryPage;
  std::function<CStartPage*(QWidget* container)> resumePage;
  std::function<CSlider*(CORVANDlg& owner)> optionsPanel;
  std::function<void(QWidget* parent)> runSettings;
};

class CORVANDlg : public CStandardDlg, public OptionsPanelHost {
  Q_OBJECT
 public:
  static constexpr int kWidth = 640;
  static constexpr int kHeight = 700;
  static constexpr int kHelpContext = 130;
  static constexpr int kIdNewRecovery = 1001;
  static constexpr int kIdResumeRecovery = 1002;
  static constexpr int kIdHiddenLarge = 1003;
  static constexpr int kIdAbout = 1007;
  static constexpr int kIdSetting = 1008;
  static constexpr int kIdHelp = 1009;
  static constexpr QRect kPageRect{27, 151, CStartPage::kSize.width(), CStartPage::kSize.height()};

  static StartScreenParts& Parts();

  explicit CORVANDlg(QWidget* parent = nullptr);
  ~CORVANDlg() override;

  void OnNewRecovery();
  void OnResumeRecovery();
  void OnAbout();
  void OnSettings();
  void OnHelp();

  void ShowOptionsPanel() override;
  void CloseOptionsPanel() override;
  CSlider* OptionsPanel() const override { return m_pOptionsPanel; }
  bool IsOptionsPanelOpen() const { return m_bOptionsPanelOpen; }

  CStartPage* DataRecoveryPage() const { return m_pDataRecovery; }
  CStartPage* ResumeRecoveryPage() const { return m_pResumeRecovery; }
  CSliderButton* PageContainer() const { return m_pContainer; }
  int Page() const { return m_nPage; }

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void CreatePages();
  // 0 the new-recovery page, 1 the resume page.
  void ShowPage(int page);

  CSliderButton* m_pContainer;
  CStartPage* m_pDataRecovery = nullptr;
  CStartPage* m_pResumeRecovery = nullptr;
  CTButton* m_btnNew;
  CTButton* m_btnResume;
  CTButton* m_btnHidden;
  CXBitmapButton* m_btnAbout;
  CXBitmapButton* m_btnSetting;
  CXBitmapButton* m_btnHelp;
  QPointer<CSlider> m_pOptionsPanel;
  bool m_bOptionsPanelOpen = false;
  int m_nPage = 0;
};

// The start screen in front, or null.
CORVANDlg* MainDlg();

}  // namespace corvan
