#pragma once
// Helpers of the window tests: input events, modal dialogs answered from a
// timer, pixels of rendered widgets.

#include <QApplication>
#include <QDialog>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "core/Prompt.h"
#include "core/StringTable.h"

namespace corvan::test {

inline void Settle() {
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
}

inline void SendKey(QWidget* w, int key, const QString& text = QString()) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QApplication::sendEvent(w, &press);
  QApplication::sendEvent(w, &release);
}

inline void SendMouse(QWidget* w, QEvent::Type type, const QPoint& pos, Qt::MouseButton button = Qt::LeftButton,
                      Qt::MouseButtons held = Qt::LeftButton) {
  const QPointF local(pos);
  const QPointF global(w->mapToGlobal(pos));
  QMouseEvent e(type, local, local, global, button, held, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

inline void Press(QWidget* w, const QPoint& pos, Qt::MouseButton b = Qt::LeftButton) {
  SendMouse(w, QEvent::MouseButtonPress, pos, b, b);
}
inline void Release(QWidget* w, const QPoint& pos, Qt::MouseButton b = Qt::LeftButton) {
  SendMouse(w, QEvent::MouseButtonRelease, pos, b, Qt::NoButton);
}
inline void Drag(QWidget* w, const QPoint& pos) { SendMouse(w, QEvent::MouseMove, pos, Qt::NoButton, Qt::LeftButton); }
inline void Click(QWidget* w, const QPoint& pos, Qt::MouseButton b = Qt::LeftButton) {
  Press(w, pos, b);
  Release(w, pos, b);
}
inline void Enter(QWidget* w) {
  QEnterEvent e(QPointF(1, 1), QPointF(1, 1), QPointF(w->mapToGlobal(QPoint(1, 1))));
  QApplication::sendEvent(w, &e);
}
inline void Leave(QWidget* w) {
  QEvent e(QEvent::Leave);
  QApplication::sendEvent(w, &e);
}

// Runs `act` on the first modal dialog (of class T) that opens after this
// call (from a timer, while that dialog's own loop runs). `act` must end
// the dialog.
template <typename T = QDialog>
void WhenModal(std::type_identity_t<std::function<void(T*)>> act) {
  auto* timer = new QTimer;
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    if (auto* dlg = dynamic_cast<T*>(QApplication::activeModalWidget())) {
      timer->stop();
      timer->deleteLater();
      act(dlg);
    }
  });
  timer->start();
}

inline QImage Render(QWidget* w) {
  w->show();
  Settle();
  return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

inline QRgb Pixel(const QImage& img, int x, int y) { return img.pixel(x, y) & 0xFFFFFF; }
inline QRgb Rgb(int r, int g, int b) { return static_cast<QRgb>((r << 16) | (g << 8) | b); }

// The message box of the window tests: remembers every question, from any
// thread, and gives `answer` (or the answer set for that question) to each
// that is not a plain OK.
struct AnsweringPrompt : Prompt {
  int MessageBox(const std::string& text, unsigned, unsigned type) override {
    std::lock_guard lock(mutex);
    asked.push_back(text);
    if (type == kMbOk) return kIdOk;
    const auto given = answers.find(text);
    return given != answers.end() ? given->second : answer;
  }
  void AnswerTo(unsigned id, int given) {
    std::lock_guard lock(mutex);
    answers[LoadString(id)] = given;
  }
  bool Asked(unsigned id) {
    std::lock_guard lock(mutex);
    return std::find(asked.begin(), asked.end(), LoadString(id)) != asked.end();
  }
  std::mutex mutex;
  std::vector<std::string> asked;
  std::map<std::string, int> answers;
  int answer = kIdYes;
};

}  // namespace corvan::test
