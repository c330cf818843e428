#pragma once
// The media pane: plays the copy of a found audio or video file that the
// preview made in its private folder. A video is shown at its natural size
// in the middle of the pane, or shrunk to fit; audio plays with an empty
// pane.

#include <QFrame>
#include <QRect>
#include <QString>

class QAudioOutput;
class QMediaPlayer;
class QVideoWidget;

namespace corvan {

class CMediaViewer : public QFrame {
  Q_OBJECT
 public:
  static constexpr int kId = 8996;

  explicit CMediaViewer(QWidget* parent = nullptr);
  ~CMediaViewer() override;

  // Opens `file` and plays it once it is loaded; Loaded() follows.
  void ShowMediaFile(const QString& file, bool video);
  // Stops playing and lets go of the file.
  void Clear();
  bool IsLoaded() const { return m_loaded; }
  QMediaPlayer* Player() const { return m_pPlayer; }
  QVideoWidget* VideoWidget() const { return m_pVideo; }
  // Where a movie of `movie` pixels goes in a pane of `pane` pixels.
  static QRect MovieRect(QSize movie, QSize pane);

 signals:
  // The file can be played (true) or not (false).
  void Loaded(bool ok);

 protected:
  void resizeEvent(QResizeEvent*) override;

 private:
  void OnStatus();
  void PlaceVideo();

  QMediaPlayer* m_pPlayer = nullptr;
  QAudioOutput* m_pAudio = nullptr;
  QVideoWidget* m_pVideo = nullptr;
  bool m_loaded = false;
  bool m_reported = false;
};

}  // namespace corvan
