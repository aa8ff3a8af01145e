#include "dialogue/console_dialogs.h"

#include "dialogue/prompts.h"

namespace odefit {

std::string ConsoleFileDialogs::ChooseSeriesFile() {
  console_.Write(" Open: Select File for Unit 1: ");
  const std::optional<std::string> line = console_.ReadLine();
  if (!line) throw InputEnded();
  const auto first = line->find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return line->substr(first, line->find_last_not_of(' ') - first + 1);
}

bool ConsoleFileDialogs::ConfirmTerminate() {
  WriteLine(console_, " File Open Error");
  WriteLine(console_, " A File Must be Selected");
  WriteLine(console_, "");
  return YesNoQuestion(console_, "Terminate Program? (y/n) ") == 'y';
}

void ConsoleFileDialogs::ReportOpenFailure(const std::string& name, const std::string& reason) {
  errors_ << "cannot open " << name << ": " << reason << std::endl;
}

}  // namespace odefit
