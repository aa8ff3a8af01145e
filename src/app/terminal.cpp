#include "app/terminal.h"

#include "app/png_export.h"

#include <editline/readline.h>
#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>

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

EditingConsole::EditingConsole(std::FILE* out) : out_(out) { using_history(); }

EditingConsole::~EditingConsole() { Flush(); }

void EditingConsole::Write(std::string_view text) {
  prompt_.append(text);
  const std::size_t lineEnd = prompt_.rfind('\n');
  if (lineEnd == std::string::npos) return;
  std::fwrite(prompt_.data(), 1, lineEnd + 1, out_);
  prompt_.erase(0, lineEnd + 1);
}

void EditingConsole::Flush() {
  std::fwrite(prompt_.data(), 1, prompt_.size(), out_);
  prompt_.clear();
  std::fflush(out_);
}

std::optional<std::string> EditingConsole::ReadLine() {
  std::fflush(out_);
  const std::string prompt = std::move(prompt_);
  prompt_.clear();
  char* typed = readline(prompt.c_str());
  if (typed == nullptr) return std::nullopt;
  std::string line(typed);
  std::free(typed);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (!line.empty()) add_history(line.c_str());
  return line;
}

int RunTerminal() {
  // Line editing only for a person at a terminal: scripted input keeps the
  // plain reader and its echo, so a recorded run reads like the screen.
  std::unique_ptr<Console> owned;
  std::unique_ptr<EditingConsole> editing;
  if (isatty(STDIN_FILENO)) {
    editing = std::make_unique<EditingConsole>(stdout);
  } else {
    owned = std::make_unique<TerminalConsole>(stdin, stdout, true);
  }
  Console& console = editing ? static_cast<Console&>(*editing) : *owned;
  ConsoleFileDialogs dialogs(console, std::cerr);
  ReportFile report;
  // The numerical messages go to standard error, never to the dialogue's screen.
  ErrorReporter errors(&std::cerr);
  ErrorReporterScope bindErrors(errors);
  GraphicsLayer layer;
  PngExporter png(layer, {}, [](const std::string& message) { std::cerr << "odefit: " << message << std::endl; });
  layer.AddObserver(&png);
  InitialSettings(layer);
  // Writes what the screen still holds back, before a note on standard error.
  const auto flushScreen = [&editing] {
    if (editing) editing->Flush();
    std::fflush(stdout);
  };
  int status = 0;
  try {
    DialogueOptions options;
    options.threads = 0;  // the efficiency test on every core
    RunMainDialogue(console, dialogs, layer, report, options);
  } catch (const RunStopped&) {
    flushScreen();
    status = 3;  // the numerical message is already printed
  } catch (const InputEnded& e) {
    flushScreen();
    std::cerr << "\nodefit: " << e.what() << std::endl;
    status = 1;
  } catch (const ReportError& e) {
    flushScreen();
    std::cerr << "odefit: " << e.what() << std::endl;
    status = 4;
  } catch (const SeriesFileError& e) {
    flushScreen();
    std::cerr << "odefit: " << e.what() << std::endl;
    status = 4;
  } catch (const std::exception& e) {
    // Storage the machine cannot grant outside the numerical routines, say:
    // the run still ends with its reason and a status, as in the desktop.
    flushScreen();
    std::cerr << "odefit: " << e.what() << std::endl;
    status = 5;
  }
  flushScreen();
  return status;
}

}  // namespace odefit
