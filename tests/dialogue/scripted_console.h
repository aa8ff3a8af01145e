#pragma once
// A console fed from a script of answer lines. The transcript holds what a
// terminal would show for a scripted run: every answer echoed after its prompt.

#include <deque>
#include <string>
#include <vector>

#include "dialogue/console.h"

namespace odefit::testing {

class ScriptedConsole : public Console {
 public:
  explicit ScriptedConsole(std::vector<std::string> answers) : answers_(answers.begin(), answers.end()) {}
  void Write(std::string_view text) override { transcript_ += text; }
  std::optional<std::string> ReadLine() override {
    if (answers_.empty()) return std::nullopt;
    std::string line = answers_.front();
    answers_.pop_front();
    transcript_ += line + "\n";
    return line;
  }

  const std::string& Transcript() const { return transcript_; }
  std::size_t AnswersLeft() const { return answers_.size(); }

 private:
  std::deque<std::string> answers_;
  std::string transcript_;
};

}  // namespace odefit::testing
