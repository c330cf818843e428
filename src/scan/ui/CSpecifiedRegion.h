#pragma once
// "Select Specified Region": narrows the sectors of the selected media that
// Raw Recovery searches, with a two-thumb slider and two edit boxes. OK
// stores the region, always inside the media and with first <= last.

#include <atomic>
#include <cstdint>
#include <optional>

#include "ui/SkinnedDialog.h"

class QLineEdit;

namespace corvan {

class CDoubleSlider;

struct SectorRegion {
  std::int64_t first = 0;
  std::int64_t last = 0;
};

// A sector number as typed (decimal digits, optional sign, spaces around);
// nothing for any other text.
std::optional<std::int64_t> ParseSectorText(const QString& text);
// The region that OK stores for two typed texts: a text that is no number
// stands for the media's own bound, both ends are kept inside the media, and
// a start past the end falls back to the media's first sector.
SectorRegion CheckedRegion(const QString& startText, const QString& endText, std::int64_t mediaFirst,
                           std::int64_t mediaLast);

class CSpecifiedRegion : public CSkinnedDialog {
  Q_OBJECT
 public:
  static constexpr int kIdHeading = 1036, kIdSlider = 1168, kIdStart = 1170, kIdEnd = 1169, kIdHelp = 1059;
  static constexpr int kHelpContext = 164;

  explicit CSpecifiedRegion(QWidget* parent = nullptr);
  ~CSpecifiedRegion() override;

  // Whether a region dialog is up: the options panel starts nothing then.
  static bool IsOpen() { return OpenFlag() != 0; }

  void OnSliderChanged(int which);
  void OnStartChanged();
  void OnEndChanged();
  void OnOK();
  void OnCancel();
  void accept() override { OnOK(); }
  void reject() override { OnCancel(); }

  CDoubleSlider* Slider() const { return m_slider; }
  QLineEdit* StartBox() const { return m_start; }
  QLineEdit* EndBox() const { return m_end; }

 private:
  static std::atomic<std::uint8_t>& OpenFlag();
  void SetThumbs(double start, double end);

  CDoubleSlider* m_slider;
  QLineEdit* m_start;
  QLineEdit* m_end;
  bool m_bSettingThumbs = false;
  double m_dLower = 0, m_dUpper = 0, m_dStart = 0, m_dEnd = 0;
};

}  // namespace corvan
