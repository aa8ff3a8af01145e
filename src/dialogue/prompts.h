#pragma once
// The dialogue's prompt routines. Each writes one blank and the prompt without
// ending the line, reads one line, converts it with the one-descriptor format
// ("(I2)", "(F20.10)", "(A1)") under the fixed-width input rules, and on a
// failed conversion writes " Incorrect input" on a line of its own and asks
// again. Each returns only when a value was read; at the end of the input it
// throws InputEnded. A number read otherwise than it was most likely meant
// (characters past its field, a real without its decimal point) is accepted
// as the rules read it, with a warning on the error output (warnings.h).

#include <string_view>

#include "dialogue/console.h"

namespace odefit {

// Writes the line " Incorrect input" (one blank, then the text, which begins with a blank).
void WriteIncorrectInput(Console& console);

void PromptInteger(Console& console, std::string_view format, std::string_view prompt, int& value);
void PromptReal(Console& console, std::string_view format, std::string_view prompt, double& value);
void PromptAnswer(Console& console, std::string_view format, std::string_view prompt, char& answer);

// Asks until the first character of the answer is 'y' or 'n' (lower case) and returns it.
char YesNoQuestion(Console& console, std::string_view prompt);

}  // namespace odefit
