#include "app/ui/CDriveLoad.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QTimer>

#include "app/CORVANApp.h"
#include "core/StringTable.h"
#include "ui/DialogLayout.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

namespace {

// A row of dots with one lit, moving left to right.
class Animation : public QWidget {
 public:
  explicit Animation(QWidget* parent) : QWidget(parent) {
    SetDlgCtrlId(this, CDriveLoad::kIdAnimation);
    auto* timer = new QTimer(this);
    QObject::connect(timer, &QTimer::timeout, this, [this] {
      m_phase = (m_phase + 1) % kDots;
      update();
    });
    timer->start(40);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const int step = width() / kDots;
    const int d = std::min(height(), step) - 4;
    for (int i = 0; i < kDots; ++i) {
      const int age = (m_phase - i + kDots) % kDots;
      p.setBrush(age == 0 ? FromColorRef(0x1F6B2E) : age == 1 ? FromColorRef(0x5FA870) : FromColorRef(0xC8E6CF));
      p.drawEllipse(QRect(i * step + (step - d) / 2, (height() - d) / 2, d, d));
    }
  }

 private:
  static constexpr int kDots = 10;
  int m_phase = 0;
};

}  // namespace

CDriveLoad::CDriveLoad(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
  PlacesItself(this);
  setWindowTitle(ToQString(LoadString(102)));
  setFixedSize(340, 140);
  m_stFirst = new QLabel(this);
  m_stLater = new QLabel(this);
  SetDlgCtrlId(m_stFirst, kIdFirst);
  SetDlgCtrlId(m_stLater, kIdLater);
  m_stFirst->hide();
  m_stLater->hide();

  CORVANApp& app = App();
  QLabel* shown = m_stLater;
  m_nPictureId = 272;
  if (app.m_bFirstDriveLoad) {
    shown = m_stFirst;
    m_nPictureId = 240;
    app.m_bFirstDriveLoad = 0;
  }
  shown->setPixmap(LoadBitmapResource(m_nPictureId));
  shown->setGeometry(0, 0, 340, 140);
  shown->show();
  (new Animation(this))->setGeometry(70, 112, 200, 14);
}

void CDriveLoad::showEvent(QShowEvent* e) {
  PlaceDialog(this, e);
  QDialog::showEvent(e);
  m_bDone = false;
  QTimer::singleShot(kShowMilliseconds, this, &CDriveLoad::Finish);
}

void CDriveLoad::Finish() {
  m_bDone = true;
  done(0);
}

void CDriveLoad::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
}

void CDriveLoad::keyPressEvent(QKeyEvent* e) { e->accept(); }

void CDriveLoad::closeEvent(QCloseEvent* e) {
  if (m_bDone) e->accept();
  else e->ignore();
}

}  // namespace corvan
