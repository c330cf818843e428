#pragma once
// The prompt through which workers and windows ask the user: the message
// box, shown on the UI thread. Called from a worker, it hands the question
// to the UI thread and blocks until it is answered; the UI thread itself
// never waits for a worker.

#include <QObject>

#include "core/Prompt.h"

namespace corvan {

class QtPrompt final : public QObject, public Prompt {
  Q_OBJECT
 public:
  // Lives on the thread that makes it, which must be the UI thread.
  QtPrompt();
  ~QtPrompt() override;

  int MessageBox(const std::string& text, unsigned picture, unsigned type) override;

  // Makes this the application's prompt for the life of the object.
  void Install();

 private:
  bool m_bInstalled = false;
  UnattendedPrompt m_unattended;
};

}  // namespace corvan
