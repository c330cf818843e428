#pragma once
// Pictures of the source page and its dialogs, drawn at run time: the
// 16 x 16 icons of the image types (VMware 1, VirtualBox 2, Virtual PC 3)
// and the 12 x 12 arrow strip of the lost-volume link.

#include <QIcon>
#include <QPixmap>

namespace corvan {

QIcon ImageTypeIcon(int imageIndex);
// Four 12 x 12 states side by side: pointing right (list closed) in states
// 0 and 2, pointing down (list open) in 1 and 3.
QPixmap ArrowStrip();

}  // namespace corvan
