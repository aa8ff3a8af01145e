#pragma once
// Files written whole or not at all: the bytes go to a new file beside the
// target, which is renamed over the target once everything is written. The
// new file is unnamed until then (O_TMPFILE, linked into place), so a killed
// run leaves nothing; where the file system has no unnamed files it is a
// hidden named one, which an interrupted run (SIGINT, SIGTERM) removes and
// the next write of the same target removes when its process was killed.
// Only regular files are written: a symbolic link is followed to the file it
// names, anything else at the path (a device, a FIFO, a folder) is refused.
// A replaced file's permissions (and owner, where allowed) are kept.

#include <filesystem>
#include <string_view>

#include "odefit/cancellation.h"

namespace odefit::cli {

// Replaces `path` (or the file its symbolic links lead to) by a regular file
// holding `bytes`. Throws FileError naming the path and the reason; the
// target is then as it was.
void WriteWholeFile(const std::filesystem::path& path, std::string_view bytes);

// Makes SIGINT and SIGTERM end the process with status 128 + the signal's
// number, after removing a file being written and saying on standard error
// what was left: "odefit: interrupted by SIGINT while writing FILE, which is
// left as it was", or "...: no file written" when none was.
void InstallInterruptCleanup();

// While one is alive, the first SIGINT or SIGTERM does not end the process:
// the handler records it and cancels `token` (a lock-free atomic store, which
// is safe in a signal handler), so that work polling the token can stop and
// keep what it has. A second signal ends the process as above. Only one may
// exist at a time.
class DeferredInterrupt {
 public:
  explicit DeferredInterrupt(CancellationToken& token);
  ~DeferredInterrupt();
  DeferredInterrupt(const DeferredInterrupt&) = delete;
  DeferredInterrupt& operator=(const DeferredInterrupt&) = delete;
  // The signal received while this was alive (SIGINT or SIGTERM), 0 when none.
  int Received() const;
};

// "SIGINT", "SIGTERM", or "signal N".
std::string SignalName(int signal);

}  // namespace odefit::cli
