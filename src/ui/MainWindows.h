#pragma once
// The window in front of the program: the start window, or the results
// window while a recovery runs. One event loop serves them all: going from
// one to the other shows the next window and closes the previous one, and
// the program ends when the window in front is closed without a successor.

#include <functional>

class QWidget;

namespace corvan {

// Makes `window` the window in front (taking ownership), shows it and
// closes and deletes the previous one.
void ShowMainWindow(QWidget* window);
QWidget* CurrentMainWindow();
// The start window in front again (Back from a later window), opened by
// what the program set; nothing when it set nothing.
void SetStartWindowOpener(std::function<void()> open);
bool CanReopenStartWindow();
void ReopenStartWindow();
// Closes the window in front without a successor (the program ends).
void CloseMainWindow();
// What ends the program when the window in front goes away without a
// successor; by default the event loop is quit.
void SetProgramEndHandler(std::function<void()> handler);

}  // namespace corvan
