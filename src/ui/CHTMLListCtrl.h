#pragma once
// A vertically scrolling list of markup, plain or path texts, each with an
// optional check box and icon. Tells its owner of clicks, selection and
// check changes through Notify.

#include <QAbstractScrollArea>
#include <QList>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

namespace corvan {

struct HTMLLIST_ITEM {
  int nIndex = -1;
  int nHeight = 0;
  int nFormat = 2;  // 1 markup, 2 plain, 3 file path
  int nKind = 0;    // the owner's kind; 5 shows a check box
  QString strText;
  std::uint32_t nValue = 0;
  QRect rcItem;  // where the item was last drawn (viewport coordinates)
  bool bChecked = false;
  bool bHeightGiven = false;
  std::uint32_t dwData = 0;
};

// Notification codes.
enum HtmlListCode : int {
  kHtmlListSelChanged = 1,  // selection changed (item or -1)
  kHtmlListLButtonDown = 2,
  kHtmlListRButtonDown = 3,
  kHtmlListDblClick = 4,
  kHtmlListCheckChanged = 5,
};

struct HTMLLIST_NOTIFY {
  int code = 0;
  int idFrom = 0;
  int nItem = -1;
  QString strText;
  std::uint32_t nValue = 0;
  bool bChecked = false;
};

class CHTMLListCtrl : public QAbstractScrollArea {
  Q_OBJECT
 public:
  static constexpr int kControlId = 5123;
  enum Format { kMarkupText = 1, kPlainText = 2, kPathText = 3 };
  enum Style { kStyleCheckBoxes = 1, kStyleEdges = 2, kStyleIcons = 4 };
  static constexpr std::uint32_t kSelectionColour = 0xF0FFF0;
  static constexpr std::uint32_t kEmphasisColour = 0xEBFFFA;
  static constexpr std::uint32_t kItemColour = 0xFAFAFA;

  explicit CHTMLListCtrl(QWidget* parent = nullptr);
  ~CHTMLListCtrl() override;

  // Places the list in `rect` of `parent` with control id 5123.
  bool Create(const QRect& rect, QWidget* parent);
  // Appends an item; height 0 measures it. Returns its index.
  int InsertItem(const QString& text, unsigned format, std::uint32_t data, unsigned height, unsigned kind);
  // Edges and icons on, re-layout, scroll range, repaint.
  void UpdateScrollBar();
  void DeleteAllItems();
  QRect GetItemRect(int index) const;
  int GetItemCount() const { return static_cast<int>(m_items.size()); }
  const HTMLLIST_ITEM* GetItem(int index) const;
  int GetSelectedIndex() const { return m_nSelected; }
  int TotalHeight() const { return m_nTotalHeight; }
  void SetItemValue(int index, std::uint32_t value);
  // The owner's item icons, indexed by an item's data; not owned.
  void SetImageList(const QList<QPixmap>* icons) { m_pImageList = icons; }

  virtual void DrawItem(QPainter& p, const QRect& rect, HTMLLIST_ITEM& item, bool selected, bool emphasised);

 signals:
  void Notify(const corvan::HTMLLIST_NOTIFY& notify);

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  bool HasCheckBoxes() const { return m_bHasCheckBoxes || (m_nStyle & kStyleCheckBoxes); }
  bool HasIcon(const HTMLLIST_ITEM& item) const;
  int MeasureItem(const HTMLLIST_ITEM& item) const;
  void Relayout();
  void PlaceItems();
  void UpdateScrollRange();
  void SendNotify(int code, int item);
  void ScrollIntoView(int index);
  QRect CheckBoxRect(const QRect& itemRect) const;
  int ScrollPos() const;

  std::vector<std::unique_ptr<HTMLLIST_ITEM>> m_items;
  bool m_bHasCheckBoxes = false;
  int m_nControlId = kControlId;
  int m_nTotalHeight = 0;
  int m_nSelected = -1;
  bool m_bHasFocus = false;
  int m_nStyle = 0;
  QFont m_font;
  QPixmap m_checkImages[2];
  const QList<QPixmap>* m_pImageList = nullptr;
};

}  // namespace corvan
