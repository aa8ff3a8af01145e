#include "dialogue/prompts.h"

#include <string>

#include "dialogue/warnings.h"
#include "format/fixed_format.h"

namespace odefit {
namespace {

// Asks `prompt` until `convert` accepts the answer line.
template <typename Convert>
void Ask(Console& console, std::string_view prompt, Convert convert) {
  for (;;) {
    console.Write(" ");
    console.Write(prompt);
    const std::optional<std::string> line = console.ReadLine();
    if (!line) throw InputEnded();
    if (convert(*line)) return;
    WriteIncorrectInput(console);
  }
}

fixed::EditDescriptor Descriptor(std::string_view format, char kind) {
  const auto descriptor = fixed::ParseEditDescriptor(format);
  if (!descriptor || descriptor->kind != kind) {
    throw std::invalid_argument("bad input format " + std::string(format));
  }
  return *descriptor;
}

}  // namespace

void WriteIncorrectInput(Console& console) { WriteLine(console, "  Incorrect input"); }

void PromptInteger(Console& console, std::string_view format, std::string_view prompt, int& value) {
  const auto descriptor = Descriptor(format, 'I');
  Ask(console, prompt, [&](std::string_view line) {
    const auto read = fixed::ReadI(line, descriptor.w);
    if (!read) return false;
    value = *read;
    WarnAboutIntegerAnswer(prompt, line, descriptor.w, value);
    return true;
  });
}

void PromptReal(Console& console, std::string_view format, std::string_view prompt, double& value) {
  const auto descriptor = Descriptor(format, 'F');
  Ask(console, prompt, [&](std::string_view line) {
    const auto read = fixed::ReadF(line, descriptor.w, descriptor.d);
    if (!read) return false;
    value = *read;
    WarnAboutRealAnswer(prompt, line, descriptor.w, descriptor.d, value);
    return true;
  });
}

void PromptAnswer(Console& console, std::string_view format, std::string_view prompt, char& answer) {
  const auto descriptor = Descriptor(format, 'A');
  Ask(console, prompt, [&](std::string_view line) {
    answer = fixed::ReadA(line, descriptor.w).front();
    return true;
  });
}

char YesNoQuestion(Console& console, std::string_view prompt) {
  for (;;) {
    char answer = ' ';
    PromptAnswer(console, "(A1)", prompt, answer);
    if (answer == 'y' || answer == 'n') return answer;
    WriteIncorrectInput(console);
  }
}

}  // namespace odefit
