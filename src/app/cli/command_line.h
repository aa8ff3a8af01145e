#pragma once
// The command line front end: odefit fit | show | simulate | test, for
// scripts. It parses arguments, calls the library, prints and writes files.

#include <string_view>

namespace odefit::cli {

// Whether `word` (the program's first argument) names a subcommand.
bool IsSubcommand(std::string_view word);

// Runs the subcommand named by argv[1]; returns the exit status (0 success,
// 1 usage error, 2 bad input, 3 numerical failure, 4 file error).
int RunCommandLine(int argc, char** argv);

// The lines of `odefit --help` about the subcommands, the files written and
// the exit statuses.
extern const char* const kSubcommandHelp;

}  // namespace odefit::cli
