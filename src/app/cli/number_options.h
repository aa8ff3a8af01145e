#pragma once
// One rule for the numbers of every option: whole numbers in decimal digits
// (a sign allowed, no leading zero that could mean octal, no hexadecimal);
// reals in decimal notation within double precision (no hexadecimal, no inf
// or nan). CLI11 alone would read "010" as 8 and "0x10" as 16.

#include <string>

namespace CLI {
class App;
}

namespace odefit::cli {

// Why `text` is not a whole number as the options take them ("" when it is).
std::string WholeNumberProblem(const std::string& text);
// Why `text` is not a real number as the options take them ("" when it is).
std::string RealNumberProblem(const std::string& text);

// Puts the rule in front of every numeric option of `app` and its
// subcommands (by CLI11's type of the option: INT, UINT or FLOAT), so that
// an option added later is covered too.
void RequireDecimalNumbers(CLI::App& app);

}  // namespace odefit::cli
