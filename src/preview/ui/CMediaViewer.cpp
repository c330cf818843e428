#include "preview/ui/CMediaViewer.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QHBoxLayout>
#include <QLabel>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QVideoSink>
#include <QVideoWidget>
#include <algorithm>
#include <climits>

#include "ui/DialogLayout.h"

namespace corvan {

CMediaViewer::CMediaViewer(QWidget* parent) : QFrame(parent) {
  SetDlgCtrlId(this, kId);
  setObjectName(QStringLiteral("CMediaViewer"));
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  m_pPlayer = new QMediaPlayer(this);
  m_pAudio = new QAudioOutput(this);
  m_pPlayer->setAudioOutput(m_pAudio);
  connect(m_pPlayer, &QMediaPlayer::mediaStatusChanged, this, &CMediaViewer::OnStatus);
  connect(m_pPlayer, &QMediaPlayer::errorOccurred, this, [this] {
    if (m_reported) return;
    m_reported = true;
    emit Loaded(false);
  });
}

CMediaViewer::~CMediaViewer() { Clear(); }

void CMediaViewer::ShowMediaFile(const QString& file, bool video) {
  m_loaded = false;
  m_reported = false;
  if (!video) {
    MakePlayBar();
  } else {
    m_pVideo = new QVideoWidget(this);
    m_pVideo->setAspectRatioMode(Qt::KeepAspectRatio);
    m_pPlayer->setVideoOutput(m_pVideo);
    // Queued: the sink tells of a new size while it still holds its own lock,
    // which asking it for the size would wait on for ever.
    connect(m_pVideo->videoSink(), &QVideoSink::videoSizeChanged, this, &CMediaViewer::PlaceVideo,
            Qt::QueuedConnection);
    PlaceVideo();
    m_pVideo->show();
  }
  m_pPlayer->setSource(QUrl::fromLocalFile(file));
}

void CMediaViewer::Clear() {
  if (!m_pPlayer) return;
  m_pPlayer->stop();
  m_pPlayer->setSource(QUrl());
}

void CMediaViewer::OnStatus() {
  switch (m_pPlayer->mediaStatus()) {
    case QMediaPlayer::LoadedMedia:
    case QMediaPlayer::BufferingMedia:
    case QMediaPlayer::BufferedMedia:
    case QMediaPlayer::EndOfMedia:
      if (m_reported) return;
      m_reported = true;
      m_loaded = true;
      ShowTime();
      if (m_canSound) m_pPlayer->play();
      emit Loaded(true);
      return;
    case QMediaPlayer::InvalidMedia:
      if (m_reported) return;
      m_reported = true;
      emit Loaded(false);
      return;
    default:
      return;
  }
}

void CMediaViewer::MakePlayBar() {
  if (m_pPlay) return;
  // Without a sound output (no sound server) the player still reads the
  // file and its length; only playing is not offered.
  m_canSound = !QMediaDevices::audioOutputs().isEmpty();
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(12, 12, 12, 12);
  auto* bar = new QHBoxLayout;
  m_pPlay = new QToolButton(this);
  m_pPlay->setObjectName(QStringLiteral("MediaPlay"));
  m_pPlay->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
  m_pSeek = new QSlider(Qt::Horizontal, this);
  m_pSeek->setObjectName(QStringLiteral("MediaPosition"));
  m_pSeek->setRange(0, 0);
  m_pTime = new QLabel(TimeText(0, 0), this);
  m_pTime->setObjectName(QStringLiteral("MediaTime"));
  bar->addWidget(m_pPlay);
  bar->addWidget(m_pSeek, 1);
  bar->addWidget(m_pTime);
  column->addLayout(bar);
  m_pNoSound = new QLabel(QStringLiteral("Sound cannot be played on this machine: it has no sound output."), this);
  m_pNoSound->setObjectName(QStringLiteral("MediaNoSound"));
  m_pNoSound->setWordWrap(true);
  m_pNoSound->setVisible(!m_canSound);
  column->addWidget(m_pNoSound);
  column->addStretch(1);
  m_pPlay->setEnabled(m_canSound);
  m_pSeek->setEnabled(m_canSound);

  connect(m_pPlay, &QToolButton::clicked, this, [this] {
    if (m_pPlayer->playbackState() == QMediaPlayer::PlayingState) m_pPlayer->pause();
    else m_pPlayer->play();
  });
  connect(m_pPlayer, &QMediaPlayer::playbackStateChanged, this, [this](QMediaPlayer::PlaybackState state) {
    m_pPlay->setIcon(style()->standardIcon(state == QMediaPlayer::PlayingState ? QStyle::SP_MediaPause
                                                                                : QStyle::SP_MediaPlay));
  });
  connect(m_pSeek, &QSlider::sliderMoved, m_pPlayer, [this](int ms) { m_pPlayer->setPosition(ms); });
  connect(m_pPlayer, &QMediaPlayer::durationChanged, this, &CMediaViewer::ShowTime);
  connect(m_pPlayer, &QMediaPlayer::positionChanged, this, &CMediaViewer::ShowTime);
}

QString CMediaViewer::TimeText(qint64 positionMs, qint64 lengthMs) {
  const auto clock = [](qint64 ms) {
    const qint64 s = (std::max<qint64>(ms, 0) + 500) / 1000;
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
  };
  return clock(positionMs) + QStringLiteral(" / ") + clock(lengthMs);
}

void CMediaViewer::ShowTime() {
  if (!m_pTime) return;
  const qint64 length = m_pPlayer->duration();
  const qint64 position = m_pPlayer->position();
  m_pTime->setText(TimeText(position, length));
  if (!m_pSeek->isSliderDown()) {
    m_pSeek->setRange(0, static_cast<int>(std::min<qint64>(length, INT_MAX)));
    m_pSeek->setValue(static_cast<int>(std::min<qint64>(position, INT_MAX)));
  }
}

QRect CMediaViewer::MovieRect(QSize movie, QSize pane) {
  const int W = pane.width(), H = pane.height();
  const int w = movie.width(), h = movie.height();
  if (w <= 0 || h <= 0 || W <= 0 || H <= 0) return QRect(0, 0, std::max(0, W), std::max(0, H));
  if (w < W && h < H) return QRect((W - w) / 2, (H - h) / 2, w, h);
  // Taller than the pane's shape: the full height; else the full width.
  if (static_cast<double>(h) / w > static_cast<double>(H) / W) {
    const int dw = static_cast<int>(static_cast<double>(H) * w / h);
    return QRect((W - dw) / 2, 0, dw, H);
  }
  const int dh = static_cast<int>(static_cast<double>(W) * h / w);
  return QRect(0, (H - dh) / 2, W, dh);
}

void CMediaViewer::PlaceVideo() {
  if (!m_pVideo) return;
  const QRect inner = contentsRect();
  const QSize movie = m_pVideo->videoSink() ? m_pVideo->videoSink()->videoSize() : QSize();
  m_pVideo->setGeometry(MovieRect(movie, inner.size()).translated(inner.topLeft()));
}

void CMediaViewer::resizeEvent(QResizeEvent* e) {
  QFrame::resizeEvent(e);
  PlaceVideo();
}

}  // namespace corvan
