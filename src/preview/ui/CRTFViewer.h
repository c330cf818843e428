#pragma once
// The RTF pane: a found RTF file read by our own reader and shown as a
// formatted document, read-only. Keys do not reach it.

#include <QTextEdit>

namespace corvan {

struct RtfDocument;

class CRTFViewer : public QTextEdit {
  Q_OBJECT
 public:
  static constexpr int kId = 8998;

  explicit CRTFViewer(QWidget* parent = nullptr);
  // Shows `doc`; false when it holds no text (the pane then shows nothing).
  bool LoadRtf(const RtfDocument& doc);

 protected:
  void keyPressEvent(QKeyEvent*) override;
};

// The document `doc` as Qt lays it out.
void BuildTextDocument(const RtfDocument& doc, QTextDocument& out);

}  // namespace corvan
