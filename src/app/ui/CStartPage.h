#pragma once
// A page of the start screen (the new-recovery page and the resume page
// derive from it). It paints the dialog colour over its whole area.

#include <QWidget>

namespace corvan {

class CStartPage : public QWidget {
  Q_OBJECT
 public:
  explicit CStartPage(QWidget* parent = nullptr);
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
