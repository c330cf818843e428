#pragma once
// "Abort saving": Stop was pressed while a file was being saved. Continue
// Saving, Save File && Abort (keep what was written of the file and stop)
// or Abort Immediately (also Esc).

#include <QString>

#include "save/SaveDecisions.h"
#include "ui/SkinnedDialog.h"

namespace corvan {

class CAbortSaving : public CSkinnedDialog {
  Q_OBJECT
 public:
  static constexpr int kIdContinue = 1, kIdSaveAndAbort = 1061, kIdAbortNow = 2, kIdMessage = 1060, kIdGroup = 1036;
  static constexpr int kResultOther = 5;

  CAbortSaving(const std::u16string& fileName, QWidget* parent = nullptr);

  AbortAnswer Answer() const { return m_answer; }
  QString MessageText() const;
  void reject() override;

 private:
  AbortAnswer m_answer = AbortAnswer::AbortImmediately;
};

}  // namespace corvan
