#pragma once
// A page of the start screen (the new-recovery page and the resume page
// derive from it). It paints the dialog colour over its whole area.

#include <QSize>
#include <QString>
#include <QWidget>
#include <functional>

namespace corvan {

class CSlider;

// What a page asks of the start screen it lies on: the options panel that
// slides out beside it.
class OptionsPanelHost {
 public:
  virtual ~OptionsPanelHost() = default;
  virtual void ShowOptionsPanel() = 0;
  virtual void CloseOptionsPanel() = 0;
  virtual CSlider* OptionsPanel() const = 0;
  // The start screen in front, or null; the start screen sets it.
  static OptionsPanelHost*& Current();
};

class CStartPage : public QWidget {
  Q_OBJECT
 public:
  static constexpr QSize kSize{582, 528};

  // The open-file dialog of the pages' Browse buttons; tests set it.
  // Returns the chosen path or an empty text (Cancel).
  static std::function<QString(QWidget* parent, const QString& filter)>& FileChooser();

  explicit CStartPage(QWidget* parent = nullptr);
  // The start screen the page lies on (the one in front when the page has
  // none of its own), or null.
  OptionsPanelHost* PanelHost() const;
  // Slides the options panel away, if one is open.
  void ClosePanel() const;
  // Asked by the start screen when the page is shown; 1 shows the resume
  // page's list of saved scans.
  virtual void SetPageMode(int mode) { m_nPageMode = mode; }
  int PageMode() const { return m_nPageMode; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  int m_nPageMode = 0;
};

}  // namespace corvan
