#include "preview/ui/CPdfViewer.h"

#include <QPdfDocument>
#include <QPdfView>
#include <QVBoxLayout>

#include "ui/DialogLayout.h"

namespace corvan {

CPdfViewer::CPdfViewer(QWidget* parent) : QWidget(parent) {
  SetDlgCtrlId(this, kId);
  setObjectName(QStringLiteral("CPdfViewer"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  m_pDocument = new QPdfDocument(this);
  m_pView = new QPdfView(this);
  m_pView->setPageMode(QPdfView::PageMode::MultiPage);
  m_pView->setZoomMode(QPdfView::ZoomMode::FitToWidth);
  m_pView->setFrameStyle(QFrame::Box | QFrame::Plain);
  layout->addWidget(m_pView);
  connect(m_pDocument, &QPdfDocument::statusChanged, this, &CPdfViewer::OnStatus);
}

CPdfViewer::~CPdfViewer() {
  // The view lets go of the document, and the document of its file, first.
  m_pView->setDocument(nullptr);
  m_pDocument->close();
}

void CPdfViewer::LoadPdf(const QString& pdf) {
  m_loaded = false;
  m_reported = false;
  m_pDocument->load(pdf);
  OnStatus();
}

int CPdfViewer::PageCount() const { return m_loaded ? m_pDocument->pageCount() : 0; }

void CPdfViewer::OnStatus() {
  if (m_reported) return;
  const QPdfDocument::Status status = m_pDocument->status();
  if (status == QPdfDocument::Status::Ready) {
    m_loaded = m_pDocument->pageCount() > 0;
    m_reported = true;
    if (m_loaded) m_pView->setDocument(m_pDocument);
    emit Loaded(m_loaded);
  } else if (status == QPdfDocument::Status::Error) {
    m_reported = true;
    emit Loaded(false);
  }
}

}  // namespace corvan
