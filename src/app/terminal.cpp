#include "app/terminal.h"

#include "app/png_export.h"

#include <unistd.h>

#include <iostream>

#include "dialogue/console_dialogs.h"
#include "dialogue/main_dialogue.h"
#include "dialogue/prompts.h"
#include "dialogue/report_file.h"
#include "dialogue/series_file.h"
#include "numerics/error_stack.h"

namespace odefit {

void TerminalConsole::Write(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), out_);
}

std::optional<std::string> TerminalConsole::ReadLine() {
  std::fflush(out_);
  std::string line;
  int c = 0;
  while ((c = std::getc(in_)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
  if (c == EOF && line.empty()) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (echo_) {
    Write(line);
    Write("\n");
  }
  return line;
}

int RunTerminal() {
  TerminalConsole console(stdin, stdout, !isatty(STDIN_FILENO));
  ConsoleFileDialogs dialogs(console, std::cerr);
  ReportFile report;
  SetErrorOutput(std::cerr);
  GraphicsLayer layer;
  PngExporter png(layer, {}, [](const std::string& message) { std::cerr << "odefit: " << message << std::endl; });
  layer.AddObserver(&png);
  InitialSettings(layer);
  int status = 0;
  try {
    RunMainDialogue(console, dialogs, layer, report);
  } catch (const RunStopped&) {
    status = 3;  // the numerical message is already printed
  } catch (const InputEnded& e) {
    std::fflush(stdout);
    std::cerr << "\nodefit: " << e.what() << std::endl;
    status = 1;
  } catch (const ReportError& e) {
    std::fflush(stdout);
    std::cerr << "odefit: " << e.what() << std::endl;
    status = 4;
  } catch (const SeriesFileError& e) {
    std::fflush(stdout);
    std::cerr << "odefit: " << e.what() << std::endl;
    status = 4;
  }
  std::fflush(stdout);
  return status;
}

}  // namespace odefit
