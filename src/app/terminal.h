#pragma once
// The terminal front end: the dialogue on standard input and output, the
// numerical error messages on standard error.

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

// Runs the whole dialogue in the terminal; returns the process exit status.
int RunTerminal();

}  // namespace odefit
