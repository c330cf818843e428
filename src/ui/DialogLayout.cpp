#include "ui/DialogLayout.h"

#include <QApplication>
#include <QDialog>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QShowEvent>
#include <QVariant>
#include <QWindow>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <functional>

namespace corvan {

namespace {
constexpr const char* kCtrlIdProperty = "corvanCtrlId";
}

void SetDlgCtrlId(QWidget* control, int id) {
  control->setProperty(kCtrlIdProperty, id);
  if (control->objectName().isEmpty()) control->setObjectName(QStringLiteral("ctl%1").arg(id));
}

int DlgCtrlId(const QWidget* control) {
  const QVariant v = control ? control->property(kCtrlIdProperty) : QVariant();
  return v.isValid() ? v.toInt() : 0;
}

QLabel* AddStaticText(QWidget* parent, int id, const QString& text, const QRect& geometry) {
  auto* l = new QLabel(text, parent);
  SetDlgCtrlId(l, id);
  l->setGeometry(geometry);
  return l;
}

QLabel* AddStaticText(QWidget* parent, int id, const QString& text, const QRect& geometry, const QFont& font) {
  QLabel* l = AddStaticText(parent, id, text, geometry);
  l->setFont(font);
  return l;
}

QWidget* GetDlgItem(const QWidget* parent, int id) {
  if (!parent) return nullptr;
  const auto children = parent->findChildren<QWidget*>();
  for (QWidget* w : children)
    if (DlgCtrlId(w) == id) return w;
  return nullptr;
}

// ---- template reading ----

namespace {

class TemplateReader {
 public:
  explicit TemplateReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  bool Has(std::size_t n) const { return pos_ + n <= bytes_.size(); }
  std::size_t Pos() const { return pos_; }
  void Seek(std::size_t p) { pos_ = p; }
  bool AlignDword() {
    pos_ = (pos_ + 3) & ~std::size_t{3};
    return pos_ <= bytes_.size();
  }
  std::optional<std::uint16_t> Word() {
    if (!Has(2)) return std::nullopt;
    const std::uint16_t v = static_cast<std::uint16_t>(bytes_[pos_] | (bytes_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
  }
  std::optional<std::uint32_t> Dword() {
    const auto lo = Word();
    const auto hi = Word();
    if (!lo || !hi) return std::nullopt;
    return static_cast<std::uint32_t>(*lo) | (static_cast<std::uint32_t>(*hi) << 16);
  }
  std::optional<std::uint8_t> Byte() {
    if (!Has(1)) return std::nullopt;
    return bytes_[pos_++];
  }
  // A zero-terminated UTF-16 string.
  std::optional<QString> String() {
    QString s;
    for (;;) {
      const auto c = Word();
      if (!c) return std::nullopt;
      if (*c == 0) return s;
      s.append(QChar(*c));
    }
  }
  // A string or an ordinal: 0 none, 0xFFFF and one word, else a string.
  // Returns whether the field was present (not 0).
  std::optional<bool> StringOrOrdinal() {
    const auto first = Word();
    if (!first) return std::nullopt;
    if (*first == 0) return false;
    if (*first == 0xFFFF) return Word() ? std::optional<bool>(true) : std::nullopt;
    pos_ -= 2;
    return String() ? std::optional<bool>(true) : std::nullopt;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

int Signed16(std::uint16_t v) { return static_cast<std::int16_t>(v); }

}  // namespace

std::optional<DialogTemplate> ParseDialogTemplate(std::span<const std::uint8_t> bytes) {
  TemplateReader r(bytes);
  DialogTemplate t;
  if (!r.Has(4)) return std::nullopt;
  r.Seek(2);
  t.extended = (*r.Word() == 0xFFFF);
  r.Seek(0);
  std::uint16_t count = 0;
  if (t.extended) {
    if (!r.Has(26)) return std::nullopt;
    r.Seek(8);
    t.exStyle = *r.Dword();
    t.style = *r.Dword();
    count = *r.Word();
    r.Seek(22);
    t.cx = Signed16(*r.Word());
    t.cy = Signed16(*r.Word());
  } else {
    if (!r.Has(18)) return std::nullopt;
    t.style = *r.Dword();
    t.exStyle = *r.Dword();
    count = *r.Word();
    r.Seek(14);
    t.cx = Signed16(*r.Word());
    t.cy = Signed16(*r.Word());
  }
  const auto menu = r.StringOrOrdinal();
  if (!menu || !r.StringOrOrdinal() || !r.String()) return std::nullopt;
  t.font.hasMenu = *menu;
  if (t.style & kDsSetFont) {
    const auto size = r.Word();
    if (!size) return std::nullopt;
    t.font.pointSize = NormalisePointSize(*size);
    if (t.extended) {
      const auto weight = r.Word();
      const auto italic = r.Byte();
      const auto charset = r.Byte();
      if (!weight || !italic || !charset) return std::nullopt;
      t.font.weight = *weight;
      t.font.italic = *italic;
    } else {
      t.font.weight = 0;
      t.font.italic = 0;
    }
    const auto face = r.String();
    if (!face) return std::nullopt;
    t.font.faceName = *face;
  }
  for (std::uint16_t i = 0; i < count; ++i) {
    if (!r.AlignDword()) return std::nullopt;
    const std::size_t start = r.Pos();
    DialogItem item;
    if (t.extended) {
      if (!r.Has(24)) return std::nullopt;
      r.Seek(start + 12);
      item.x = Signed16(*r.Word());
      item.y = Signed16(*r.Word());
      item.cx = Signed16(*r.Word());
      item.cy = Signed16(*r.Word());
      item.id = static_cast<int>(*r.Dword());
    } else {
      if (!r.Has(18)) return std::nullopt;
      r.Seek(start + 8);
      item.x = Signed16(*r.Word());
      item.y = Signed16(*r.Word());
      item.cx = Signed16(*r.Word());
      item.cy = Signed16(*r.Word());
      item.id = *r.Word();
    }
    if (!r.StringOrOrdinal() || !r.StringOrOrdinal()) return std::nullopt;
    const auto extra = r.Word();
    if (!extra || !r.Has(*extra)) return std::nullopt;
    r.Seek(r.Pos() + *extra);
    t.items.push_back(item);
  }
  return t;
}

// ---- arithmetic ----

int NormalisePointSize(int stored) {
  const int v = stored & 0xFFFF;
  return v > 32767 ? 65536 - v : v;
}

int DialogFontHeight(int pointSize, double dpi) {
  return -static_cast<int>(std::trunc(pointSize * dpi / 72.0 + 0.5));
}

DialogBaseUnits BaseUnitsFromMetrics(int cellHeight, int alphabetWidth) {
  return {(alphabetWidth / 26 + 1) / 2, cellHeight};
}

DialogBaseUnits GetDialogBaseUnits(const QFont& font) {
  const QFontMetrics fm(font);
  return BaseUnitsFromMetrics(
      fm.height(), fm.horizontalAdvance(QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ")));
}

int DluToPixelsX(int v, DialogBaseUnits base) {
  return static_cast<int>(std::trunc(v * base.x * 0.25 + 0.5));
}
int DluToPixelsY(int v, DialogBaseUnits base) {
  return static_cast<int>(std::trunc(v * base.y * 0.125 + 0.5));
}

QRect DialogUnitsToPixels(const QRect& dlu, DialogBaseUnits base) {
  return QRect(DluToPixelsX(dlu.x(), base), DluToPixelsY(dlu.y(), base), DluToPixelsX(dlu.width(), base),
               DluToPixelsY(dlu.height(), base));
}

QFont DialogFont(const DialogFontInfo& info, double dpi) {
  QFont f(info.faceName == QLatin1String("MS Shell Dlg") ? QStringLiteral("Tahoma") : info.faceName);
  f.setPixelSize(-DialogFontHeight(info.pointSize, dpi));
  f.setWeight(static_cast<QFont::Weight>(qBound(1, info.weight == 0 ? 400 : info.weight, 1000)));
  f.setItalic(info.italic != 0);
  return f;
}

namespace {

// The controls matched to the template items, in template order: each item
// is looked for among the children after the previously matched one.
template <typename Fn>
void WalkTemplateControls(QWidget* dialog, const DialogTemplate& tmpl, Fn&& fn) {
  QList<QWidget*> children;
  for (QObject* o : dialog->children())
    if (auto* w = qobject_cast<QWidget*>(o); w && !w->isWindow()) children.append(w);
  qsizetype next = 0;
  for (const DialogItem& item : tmpl.items) {
    qsizetype found = -1;
    for (qsizetype i = next; i < children.size(); ++i) {
      if (DlgCtrlId(children[i]) == item.id) {
        found = i;
        break;
      }
    }
    if (found < 0) return;
    fn(children[found], item);
    next = found + 1;
  }
}

}  // namespace

void RestoreDialogFont(DialogScaler& scaler) {
  if (!scaler.dialog) {
    scaler.oldFonts.clear();
    return;
  }
  for (auto& [widget, font] : scaler.oldFonts)
    if (widget) widget->setFont(font);
  scaler.oldFonts.clear();
  scaler.dialog = nullptr;
  scaler.font = QFont();
}

void ScaleDialogToDpi(DialogScaler& scaler, QWidget* dialog, const DialogTemplate& tmpl, double dpi) {
  if (scaler.dialog) RestoreDialogFont(scaler);
  scaler.dialog = dialog;
  scaler.tmpl = tmpl;
  scaler.font = DialogFont(tmpl.font, dpi);
  scaler.oldFonts.emplace_back(dialog, dialog->font());
  dialog->setFont(scaler.font);

  const DialogBaseUnits base = GetDialogBaseUnits(scaler.font);
  dialog->resize(DluToPixelsX(tmpl.cx, base), DluToPixelsY(tmpl.cy, base));
  WalkTemplateControls(dialog, tmpl, [&](QWidget* control, const DialogItem& item) {
    control->setGeometry(DialogUnitsToPixels(QRect(item.x, item.y, item.cx, item.cy), base));
    scaler.oldFonts.emplace_back(control, control->font());
    control->setFont(scaler.font);
  });
}

namespace {

// A top-level window's frame as the window system has told Qt of it. While
// the window manager is still framing a new window, Qt can read the frame
// from the manager's unfinished one (1x1 at first) and keep that reading:
// a frame that does not hold its window is no frame, and the window alone
// is taken then.
QRect FrameOf(const QWidget* window) {
  QMargins frame;
  if (const QWindow* handle = window->windowHandle()) frame = handle->frameMargins();
  if (frame.left() < 0 || frame.top() < 0 || frame.right() < 0 || frame.bottom() < 0) frame = QMargins();
  return window->geometry().marginsAdded(frame);
}

// Moves `window` so that its frame lies at `frameTopLeft`. The place is
// given for the window's own area, which the window system keeps whatever
// frame it then adds, and handed on even when Qt believes the window is
// there already: a move to where the window already is (the toolkit's own
// guess for a dialog is often the same point) tells the window system
// nothing, and it would then place the window by its own policy, at the
// screen's edge.
void MoveFrameTo(QWidget* window, const QRect& frame, QPoint frameTopLeft) {
  const QPoint client = frameTopLeft + (window->geometry().topLeft() - frame.topLeft());
  window->setGeometry(QRect(client, window->size()));
  if (QWindow* handle = window->windowHandle()) handle->setPosition(client);
}

QRect FreeAreaFor(const QWidget* window, const QWidget* over) {
  QScreen* screen = over ? over->screen() : window->screen();
  if (!screen) screen = QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect();
}

QRect KeptIn(QRect placed, const QRect& free) {
  // Never off the screen's free area, the caption strip least of all.
  placed.moveLeft(std::max(free.left(), std::min(placed.left(), free.right() + 1 - placed.width())));
  placed.moveTop(std::max(free.top(), std::min(placed.top(), free.bottom() + 1 - placed.height())));
  return placed;
}

// Places a window once more when the window system first shows it: only
// then is its frame known (a window manager adds it as it maps the window),
// and only then has the manager done its own placing.
class PlaceWhenExposed final : public QObject {
 public:
  PlaceWhenExposed(QWidget* window, std::function<void()> place)
      : QObject(window), m_handle(window->windowHandle()), m_place(std::move(place)) {
    m_handle->installEventFilter(this);
  }
  // Done, or overtaken by a later show.
  void Cancel() {
    if (m_handle) m_handle->removeEventFilter(this);
    m_place = nullptr;
    deleteLater();
  }
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Expose && m_place && m_handle->isExposed()) {
      const std::function<void()> place = std::move(m_place);
      Cancel();
      place();
    }
    return false;
  }

 private:
  QPointer<QWindow> m_handle;
  std::function<void()> m_place;
};

// Runs `place` now and again when the window is first exposed.
void PlaceNowAndWhenExposed(QWidget* window, const std::function<void()>& place) {
  place();
  if (!window->windowHandle() || window->windowHandle()->isExposed()) return;
  for (QObject* child : window->children())
    if (auto* pending = dynamic_cast<PlaceWhenExposed*>(child)) pending->Cancel();
  new PlaceWhenExposed(window, place);
}

}  // namespace

void CentreWindow(QWidget* window, const QWidget* owner) {
  const QWidget* over = owner ? owner->window() : nullptr;
  if (over && (!over->isVisible() || over->isMinimized() || over == window)) over = nullptr;
  const QRect free = FreeAreaFor(window, over);
  if (free.isEmpty()) return;
  const QRect around = over ? FrameOf(over) : free;
  const QRect frame = FrameOf(window);
  QRect placed(QPoint(0, 0), frame.size());
  placed.moveCenter(around.center());
  MoveFrameTo(window, frame, KeptIn(placed, free).topLeft());
}

void KeepOnScreen(QWidget* window) {
  const QRect free = FreeAreaFor(window, nullptr);
  const QRect frame = FrameOf(window);
  if (free.isEmpty() || free.contains(frame)) return;
  MoveFrameTo(window, frame, KeptIn(frame, free).topLeft());
}

void PlaceDialog(QWidget* dialog, const QShowEvent* e) {
  if (e->spontaneous()) return;
  QPointer<QWidget> owner = dialog->parentWidget();
  PlaceNowAndWhenExposed(dialog, [dialog, owner] { CentreWindow(dialog, owner); });
}

namespace {
constexpr char kPlacesItself[] = "corvanPlacesItself";
}  // namespace

void PlacesItself(QWidget* window) { window->setProperty(kPlacesItself, true); }

void PlaceTopLevelWindows() {
  // Qt's own dialogs (the file dialogs) and windows that choose their own
  // place are held to the same rules as the program's dialogs; those that
  // place themselves are passed over, so no window is placed twice a show.
  class Placer final : public QObject {
   public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* e) override {
      if (e->type() != QEvent::Show || !watched->isWidgetType()) return false;
      auto* window = static_cast<QWidget*>(watched);
      if (!window->isWindow() || e->spontaneous() || window->windowType() == Qt::Popup ||
          window->windowType() == Qt::ToolTip || window->property(kPlacesItself).toBool())
        return false;
      if (qobject_cast<QDialog*>(window)) {
        PlaceDialog(window, static_cast<QShowEvent*>(e));
      } else {
        PlaceNowAndWhenExposed(window, [window] { KeepOnScreen(window); });
      }
      return false;
    }
  };
  static QPointer<Placer> placer;  // goes with the application object
  if (placer || !qApp) return;
  placer = new Placer(qApp);
  qApp->installEventFilter(placer);
}

}  // namespace corvan
