#pragma once
// Dialog re-layout for a screen DPI, done on Qt geometry.
//
// The dialogs are designed in 96-DPI pixels. Qt's own high-DPI scaling keeps
// that geometry on any screen, so the program never needs the run-time
// re-layout; it stays here, with its arithmetic, for dialogs whose design
// is given in dialog units and for screens where a caller wants it.
// Controls are matched by their control id (SetDlgCtrlId).

#include <QFont>
#include <QPointer>
#include <QRect>
#include <QString>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class QLabel;
class QShowEvent;
class QWidget;

namespace corvan {

// ---- control ids ----
void SetDlgCtrlId(QWidget* control, int id);
int DlgCtrlId(const QWidget* control);  // 0 when none
// The descendant of `parent` with control id `id`, or null.
QWidget* GetDlgItem(const QWidget* parent, int id);
template <typename T>
T* GetDlgItemAs(const QWidget* parent, int id) {
  return qobject_cast<T*>(GetDlgItem(parent, id));
}
// A static text of `parent` with control id `id` at `geometry`.
QLabel* AddStaticText(QWidget* parent, int id, const QString& text, const QRect& geometry);
QLabel* AddStaticText(QWidget* parent, int id, const QString& text, const QRect& geometry, const QFont& font);

// Places top-level `window` in the middle of `owner`'s window, or of the
// screen's free area when it has no owner in sight (none, hidden or
// minimised), and keeps it on that screen, frames counted. The place is
// handed to the window system as one the program chose, so no placement
// policy of its own overrides it.
void CentreWindow(QWidget* window, const QWidget* owner);
// Moves top-level `window` back onto its screen's free area, frame and all,
// when it lies partly off it.
void KeepOnScreen(QWidget* window);

// Every dialog opens through here, each time it is shown (from its
// showEvent): in the middle of its owner, on the screen; and once more when
// the window system first shows it, when its frame is known. A window
// restored from the task bar (a spontaneous show) stays where it was.
void PlaceDialog(QWidget* dialog, const QShowEvent* e);

// A window whose showEvent calls PlaceDialog says so once, from its
// constructor: the application's placing below then leaves it to itself.
void PlacesItself(QWidget* window);

// From now on every other dialog of the application, Qt's own among them,
// opens through PlaceDialog, and every other top-level window is kept on
// the screen when shown. The program calls it once at its start.
void PlaceTopLevelWindows();

// A work area given by its edges (right and bottom exclusive).
inline QRect WorkAreaRect(int left, int top, int right, int bottom) {
  return QRect(left, top, right - left, bottom - top);
}

// ---- templates ----
inline constexpr std::uint32_t kDsSetFont = 0x40;

struct DialogFontInfo {
  int pointSize = 8;
  bool hasMenu = false;
  int weight = 400;
  int italic = 0;
  QString faceName = QStringLiteral("MS Shell Dlg");
};

struct DialogItem {
  int id = 0;
  int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
};

struct DialogTemplate {
  bool extended = false;
  std::uint32_t style = 0;
  std::uint32_t exStyle = 0;
  int cx = 0, cy = 0;  // dialog units
  DialogFontInfo font;
  std::vector<DialogItem> items;
};

// Reads a dialog template in its plain or extended binary form. Nothing when
// the bytes end before the template does.
std::optional<DialogTemplate> ParseDialogTemplate(std::span<const std::uint8_t> bytes);

// ---- arithmetic ----
struct DialogBaseUnits {
  int x = 0;
  int y = 0;
};

// Point size as stored, corrected: a negative value, or one above 32767 read
// as unsigned, stands for its magnitude.
int NormalisePointSize(int stored);
// Font height for the re-layout: -trunc(pointSize x dpi / 72 + 0.5).
int DialogFontHeight(int pointSize, double dpi);
// Base units from a font's cell height and the width of the 52 letters
// a-z A-Z: x = (width / 26 + 1) / 2, y = height.
DialogBaseUnits BaseUnitsFromMetrics(int cellHeight, int alphabetWidth);
DialogBaseUnits GetDialogBaseUnits(const QFont& font);
// A rectangle in dialog units, in pixels: trunc(v x baseX x 0.25 + 0.5)
// horizontally, trunc(v x baseY x 0.125 + 0.5) vertically.
QRect DialogUnitsToPixels(const QRect& dlu, DialogBaseUnits base);
int DluToPixelsX(int v, DialogBaseUnits base);
int DluToPixelsY(int v, DialogBaseUnits base);

// The font a template asks for, at `dpi`.
QFont DialogFont(const DialogFontInfo& info, double dpi);

// The one re-layout state of the program: the dialog last re-laid out and
// the fonts it had before.
struct DialogScaler {
  QPointer<QWidget> dialog;
  DialogTemplate tmpl;
  QFont font;
  std::vector<std::pair<QPointer<QWidget>, QFont>> oldFonts;  // dialog first, then its controls
};

// Re-lays out `dialog` from `tmpl` with a font made for `dpi`: the dialog's
// client size and each control matched in template order (the walk ends at
// the first item whose id is not found among the windows left).
void ScaleDialogToDpi(DialogScaler& scaler, QWidget* dialog, const DialogTemplate& tmpl, double dpi);
// Gives the last re-laid-out dialog and its controls their previous fonts.
void RestoreDialogFont(DialogScaler& scaler);

}  // namespace corvan
