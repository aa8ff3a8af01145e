#pragma once
// The command line front end: odefit fit | show | simulate | test, for
// scripts. It parses arguments, calls the library, prints and writes files.

#include <iosfwd>
#include <string_view>

namespace odefit::cli {

class InputFiles;

// Whether `word` (the program's first argument) names a subcommand.
bool IsSubcommand(std::string_view word);

// Runs the subcommand named by argv[1]; returns the exit status (0 success,
// 1 usage error, 2 bad input, 3 numerical failure, 4 file error, 128 + the
// signal's number for a search that SIGINT or SIGTERM stopped).
int RunCommandLine(int argc, char** argv);

// What RunCommandLine does before the work: parses the arguments, reads the
// subcommand's input files through `files` and checks every setting against
// them; nothing long runs, nothing is written, no signal handler changes.
// Returns the status the program would end with at that point (help goes to
// `out`, messages to `err`), or 0 when it would go on to the work.
int CheckCommandLine(int argc, const char* const* argv, InputFiles& files, std::ostream& out, std::ostream& err);

// The lines of `odefit --help` about the subcommands, the files written and
// the exit statuses.
extern const char* const kSubcommandHelp;

}  // namespace odefit::cli
