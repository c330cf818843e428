#include "app/ui/CEula.h"

#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTextStream>

#include "app/CORVANApp.h"
#include "ui/DialogLayout.h"
#include "ui/SharedLook.h"

namespace corvan {

std::filesystem::path CEula::DefaultFile() { return App().m_strInstallPath / "eula.dat"; }

CEula::CEula(QWidget* parent, std::filesystem::path file) : CSkinnedDialog(parent, QSize(560, 420)) {
  setWindowTitle(QStringLiteral("End User License Agreement"));
  QLabel* title = AddStatic(kIdTitle, QStringLiteral("End User License Agreement"), QRect(16, 46, 528, 24));
  title->setFont(SharedFontAt(kFontArial16Bold));

  m_list = new QTableWidget(this);
  SetDlgCtrlId(m_list, kIdList);
  m_list->setGeometry(16, 76, 528, 294);
  m_list->setColumnCount(1);
  m_list->horizontalHeader()->hide();
  m_list->verticalHeader()->hide();
  m_list->setShowGrid(false);
  m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_list->setSelectionMode(QAbstractItemView::SingleSelection);
  m_list->setWordWrap(false);
  m_list->setFont(ArialFont(14));
  m_list->verticalHeader()->setDefaultSectionSize(18);

  QPushButton* close = AddButton(kIdCancel, QStringLiteral("Close"), QRect(464, 382, 80, 26));
  close->setDefault(true);
  connect(close, &QPushButton::clicked, this, [this] { EndDialog(kIdCancel); });

  if (file.empty()) file = DefaultFile();
  QFile in(QString::fromStdString(file.string()));
  if (in.open(QIODevice::ReadOnly | QIODevice::Text)) {
    // The list's client width (it is not laid out yet) and 110 more.
    const int client = m_list->width() - 2 * m_list->frameWidth() - m_list->verticalScrollBar()->sizeHint().width();
    m_list->setColumnWidth(0, client + 110);
    QTextStream stream(&in);
    while (!stream.atEnd()) {
      const int row = m_list->rowCount();
      m_list->insertRow(row);
      m_list->setItem(row, 0, new QTableWidgetItem(stream.readLine()));
    }
  }
}

}  // namespace corvan
