#pragma once
// The short please-wait window shown at start-up: a picture and a running
// animation for about a tenth of a second, after which it closes itself.
// The user cannot close it. The first showing in a run shows picture 240,
// later ones picture 272.

#include <QDialog>

class QLabel;

namespace corvan {

class CDriveLoad : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kShowMilliseconds = 100;
  static constexpr int kIdFirst = 1320;
  static constexpr int kIdLater = 1321;
  static constexpr int kIdAnimation = 1136;

  explicit CDriveLoad(QWidget* parent = nullptr);

  unsigned PictureId() const { return m_nPictureId; }
  bool IsDone() const { return m_bDone; }

  void accept() override {}
  void reject() override {}

 protected:
  void showEvent(QShowEvent* e) override;
  void paintEvent(QPaintEvent*) override;
  void keyPressEvent(QKeyEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  void Finish();

  unsigned m_nPictureId = 0;
  bool m_bDone = false;
  QLabel* m_stFirst;
  QLabel* m_stLater;
};

}  // namespace corvan
