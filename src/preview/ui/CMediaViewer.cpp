#include "preview/ui/CMediaViewer.h"

#include <QAudioOutput>
#include <QMediaPlayer>
#include <QUrl>
#include <QVideoSink>
#include <QVideoWidget>

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
  if (video) {
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
      m_pPlayer->play();
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
