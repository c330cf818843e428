#pragma once
// The program's start window, put in front by the window kit's
// window-in-front manager.

#include "ui/MainWindows.h"

namespace corvan {

class CTransLayerDlg;

// A new start window in front.
CTransLayerDlg* ShowStartWindow();

}  // namespace corvan
