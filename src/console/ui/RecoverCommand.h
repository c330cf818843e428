#pragma once
// Recover of the results window: the destination dialog, then the saving
// progress dialog over the window, which runs the job and closes itself.

namespace corvan {

class CRecoveryConsole;

// IDOK when saving started, IDCANCEL when the destination dialog was
// cancelled.
int RunRecoverDestination(CRecoveryConsole& console);

}  // namespace corvan
