#pragma once
// The program's message box as one blocking call, usable from any thread:
// the Qt side shows the dialog on the UI thread and returns the answer.

#include <string>

namespace corvan {

// Button sets.
enum MessageBoxType : unsigned {
  kMbOk = 401,
  kMbOkCancel = 402,
  kMbYesNo = 403,
  kMbYesNoCancel = 404,
};

// Pictures.
enum MessageBoxPicture : unsigned {
  kPicError = 223,
  kPicQuestion = 224,
  kPicInformation = 225,
  kPicWarning = 241,
};

// Answers.
enum MessageBoxResult : int {
  kIdOk = 1,
  kIdCancel = 2,
  kIdYes = 6,
  kIdNo = 7,
};

class Prompt {
 public:
  virtual ~Prompt() = default;
  virtual int MessageBox(const std::string& text, unsigned picture, unsigned type) = 0;
  // Text from the string table.
  int MessageBoxId(unsigned stringId, unsigned picture, unsigned type);
};

// Answers without asking anyone, for runs without windows: OK where OK is the
// only button, otherwise the answer that leaves things as they are (Cancel
// where offered, else No).
class UnattendedPrompt final : public Prompt {
 public:
  int MessageBox(const std::string& text, unsigned picture, unsigned type) override;
};

}  // namespace corvan
