#pragma once
// The terminal front end: the dialogue on standard input and output, the
// numerical error messages on standard error. When standard input is a
// terminal, lines are read with line editing and a history (libedit).

#include <cstdio>
#include <optional>
#include <string>

#include "dialogue/console.h"

namespace odefit {

// Standard input and output as the input window. When standard input is not a
// terminal, every answer read is echoed after its prompt, so that the output
// of a scripted run reads like the screen.
class TerminalConsole : public Console {
 public:
  TerminalConsole(std::FILE* in, std::FILE* out, bool echo) : in_(in), out_(out), echo_(echo) {}
  void Write(std::string_view text) override;
  std::optional<std::string> ReadLine() override;

 private:
  std::FILE* in_;
  std::FILE* out_;
  bool echo_;
};

// Standard input is a terminal: each line is read by libedit, with editing
// and a history of the session's answers. The text written since the last
// line end is held back and handed to the line editor as its prompt, so that
// editing redraws the line whole.
class EditingConsole : public Console {
 public:
  explicit EditingConsole(std::FILE* out);
  ~EditingConsole() override;
  void Write(std::string_view text) override;
  std::optional<std::string> ReadLine() override;
  // Writes the text held back for the next prompt.
  void Flush();

 private:
  std::FILE* out_;
  std::string prompt_;
};

// Runs the whole dialogue in the terminal; returns the process exit status.
int RunTerminal();

}  // namespace odefit
