#pragma once
// Files written whole or not at all: the bytes go to a new file beside the
// target, which is renamed over the target once everything is written. An
// interrupted run (SIGINT, SIGTERM) removes the half-written file.

#include <filesystem>
#include <string_view>

namespace odefit::cli {

// Replaces `path` by a file holding `bytes`. Throws FileError naming the
// path and the reason; the target is then as it was.
void WriteWholeFile(const std::filesystem::path& path, std::string_view bytes);

// Makes SIGINT and SIGTERM remove a file being written before the process
// ends with status 128 + the signal's number.
void InstallInterruptCleanup();

}  // namespace odefit::cli
