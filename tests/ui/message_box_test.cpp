#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <atomic>
#include <thread>

#include "app/CORVANApp.h"
#include "core/StringTable.h"
#include "app/ui/CMessageBox.h"
#include "app/ui/QtPrompt.h"
#include "ui/DialogLayout.h"
#include "ui/UiTestSupport.h"

namespace corvan {
namespace {

struct ButtonSet {
  unsigned type;
  std::vector<std::pair<int, QPoint>> shown;  // id, top-left
};

const ButtonSet kSets[] = {
    {kMbOk, {{kIdOk, {150, 170}}}},
    {kMbOkCancel, {{kIdOk, {100, 170}}, {kIdCancel, {200, 170}}}},
    {kMbYesNo, {{kIdYes, {100, 170}}, {kIdNo, {200, 170}}}},
    {kMbYesNoCancel, {{kIdYes, {50, 170}}, {kIdNo, {150, 170}}, {kIdCancel, {250, 170}}}},
};

TEST(MessageBox, EachTypeShowsItsButtonSet) {
  for (const ButtonSet& set : kSets) {
    CMessageBox box(QStringLiteral("Question"), kPicQuestion, set.type);
    test::Render(&box);
    for (int id : {kIdOk, kIdCancel, kIdYes, kIdNo}) {
      QWidget* b = GetDlgItem(&box, id);
      ASSERT_NE(b, nullptr);
      const auto it = std::find_if(set.shown.begin(), set.shown.end(), [id](auto& s) { return s.first == id; });
      EXPECT_EQ(b->isVisible(), it != set.shown.end()) << "type " << set.type << " button " << id;
      if (it != set.shown.end()) {
        EXPECT_EQ(b->geometry(), QRect(it->second, QSize(80, 25))) << "type " << set.type << " button " << id;
      }
    }
    box.close();
  }
}

int AnswerWith(unsigned type, int buttonId) {
  CMessageBox box(QStringLiteral("Question"), kPicQuestion, type);
  test::WhenModal([buttonId](QDialog* dlg) { qobject_cast<QPushButton*>(GetDlgItem(dlg, buttonId))->click(); });
  return box.DoModal();
}

int AnswerWithKey(unsigned type, int key) {
  CMessageBox box(QStringLiteral("Question"), kPicQuestion, type);
  test::WhenModal([key](QDialog* dlg) { test::SendKey(dlg->focusWidget() ? dlg->focusWidget() : dlg, key); });
  return box.DoModal();
}

TEST(MessageBox, ButtonsReturnTheirIds) {
  EXPECT_EQ(AnswerWith(kMbOk, kIdOk), 1);
  EXPECT_EQ(AnswerWith(kMbOkCancel, kIdCancel), 2);
  EXPECT_EQ(AnswerWith(kMbYesNo, kIdYes), 6);
  EXPECT_EQ(AnswerWith(kMbYesNo, kIdNo), 7);
  EXPECT_EQ(AnswerWith(kMbYesNoCancel, kIdCancel), 2);
  EXPECT_EQ(AnswerWith(kMbYesNoCancel, kIdNo), 7);
}

TEST(MessageBox, EnterAndEscape) {
  EXPECT_EQ(AnswerWithKey(kMbOk, Qt::Key_Return), kIdOk);
  EXPECT_EQ(AnswerWithKey(kMbOk, Qt::Key_Escape), kIdCancel);
  // Yes and No have no Cancel button, yet Escape still answers Cancel.
  EXPECT_EQ(AnswerWithKey(kMbYesNo, Qt::Key_Escape), kIdCancel);
  EXPECT_EQ(AnswerWithKey(kMbYesNo, Qt::Key_Return), kIdNo);  // never a yes by accident
}

TEST(MessageBox, PictureAndText) {
  CMessageBox box(QString::fromUtf8(LoadString(238).c_str()), kPicWarning, kMbOk);
  auto* picture = GetDlgItemAs<QLabel>(&box, CMessageBox::kIdPicture);
  auto* text = GetDlgItemAs<QLabel>(&box, CMessageBox::kIdText);
  ASSERT_TRUE(picture && text);
  EXPECT_FALSE(picture->pixmap().isNull());
  EXPECT_EQ(text->text(), QString::fromUtf8(LoadString(238).c_str()));
  CMessageBox none(QStringLiteral("x"), 999, kMbOk);
  EXPECT_TRUE(GetDlgItemAs<QLabel>(&none, CMessageBox::kIdPicture)->pixmap().isNull());
}

TEST(QtPromptTest, AnswersOnTheUiThreadDirectly) {
  QtPrompt prompt;
  test::WhenModal([](QDialog* dlg) { qobject_cast<QPushButton*>(GetDlgItem(dlg, kIdNo))->click(); });
  EXPECT_EQ(prompt.MessageBox("Go on?", kPicQuestion, kMbYesNo), kIdNo);
}

TEST(QtPromptTest, WorkerBlocksUntilTheUiThreadAnswers) {
  QtPrompt prompt;
  prompt.Install();
  EXPECT_EQ(&App().GetPrompt(), &prompt);
  std::atomic<int> answer{0};
  std::atomic<bool> done{false};
  test::WhenModal([](QDialog* dlg) {
    EXPECT_EQ(GetDlgItemAs<QLabel>(dlg, CMessageBox::kIdText)->text(), QString::fromUtf8(LoadString(284).c_str()));
    qobject_cast<QPushButton*>(GetDlgItem(dlg, kIdYes))->click();
  });
  std::thread worker([&] {
    answer = App().GetPrompt().MessageBoxId(284, kPicQuestion, kMbYesNo);
    done = true;
  });
  // The UI thread keeps handling events; it never waits for the worker.
  while (!done) QApplication::processEvents(QEventLoop::AllEvents, 10);
  worker.join();
  EXPECT_EQ(answer, kIdYes);
}

}  // namespace
}  // namespace corvan
