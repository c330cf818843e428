#pragma once
// The media pane: plays the copy of a found audio or video file that the
// preview made in its private folder. A video is shown at its natural size
// in the middle of the pane, or shrunk to fit. Audio shows a play bar (play
// and pause, the position, the time played and the length); where the
// machine has no sound output the bar is disabled and a line says so, and
// the length is still shown.

#include <QFrame>
#include <QRect>
#include <QString>

class QAudioOutput;
class QLabel;
class QMediaPlayer;
class QSlider;
class QToolButton;
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
  // The play bar of audio (null for video), and the line shown when sound
  // cannot be played here.
  QToolButton* PlayButton() const { return m_pPlay; }
  QSlider* PositionBar() const { return m_pSeek; }
  QLabel* TimeLabel() const { return m_pTime; }
  QLabel* NoSoundLine() const { return m_pNoSound; }
  // "m:ss / m:ss": the time played and the length, to the nearest second.
  static QString TimeText(qint64 positionMs, qint64 lengthMs);
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
  void MakePlayBar();
  void ShowTime();

  QMediaPlayer* m_pPlayer = nullptr;
  QAudioOutput* m_pAudio = nullptr;
  QVideoWidget* m_pVideo = nullptr;
  QToolButton* m_pPlay = nullptr;
  QSlider* m_pSeek = nullptr;
  QLabel* m_pTime = nullptr;
  QLabel* m_pNoSound = nullptr;
  bool m_canSound = true;
  bool m_loaded = false;
  bool m_reported = false;
};

}  // namespace corvan
