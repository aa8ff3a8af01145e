#pragma once
// The file-choice dialogs in a text console: the file-open dialog is the
// prompt " Open: Select File for Unit 1: ", the File Open Error box its lines
// and a (y/n) question, and a file that cannot be opened a line on a separate
// error stream.

#include <ostream>

#include "dialogue/console.h"

namespace odefit {

class ConsoleFileDialogs : public FileDialogs {
 public:
  ConsoleFileDialogs(Console& console, std::ostream& errors) : console_(console), errors_(errors) {}
  // Returns the typed name without its surrounding blanks.
  std::string ChooseSeriesFile() override;
  bool ConfirmTerminate() override;
  // Writes "cannot open NAME: REASON" to the error stream.
  void ReportOpenFailure(const std::string& name, const std::string& reason) override;

 private:
  Console& console_;
  std::ostream& errors_;
};

}  // namespace odefit
