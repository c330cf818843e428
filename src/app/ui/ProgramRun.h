#pragma once
// The program's run on the UI thread: start-up, the start window, the one
// event loop, and the exit sequence.

namespace corvan {

class CTransLayerDlg;
class QtPrompt;

// Start-up on a running Qt application: shared fonts and colours, the
// shared state, `prompt` as the application's prompt, the please-wait
// window, the log, and the start window in front.
CTransLayerDlg* StartProgram(QtPrompt& prompt);

int RunProgram(int argc, char** argv);

}  // namespace corvan
