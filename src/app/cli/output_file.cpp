#include "app/cli/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/cli/exit_status.h"

namespace odefit::cli {
namespace {

// What the signal handler needs, set by one thread (the program writes one
// file at a time) and read by the handler. A compiler fence orders the
// names before the flag that makes them valid.
char pendingFile[4096];    // the temporary file being written
char pendingTarget[4096];  // the file it will replace
volatile std::sig_atomic_t filePending = 0;
volatile std::sig_atomic_t filesWritten = 0;
// The token a DeferredInterrupt cancels, and the signal it received.
static_assert(std::atomic<CancellationToken*>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the signal handler may only use lock-free atomics");
std::atomic<CancellationToken*> deferTo{nullptr};
volatile std::sig_atomic_t deferredSignal = 0;

void Say(const char* text) {
  std::size_t length = 0;
  while (text[length] != '\0') ++length;
  while (length > 0) {
    const ssize_t n = write(STDERR_FILENO, text, length);
    if (n <= 0) return;
    text += n;
    length -= static_cast<std::size_t>(n);
  }
}

extern "C" void OnInterrupt(int signal) {
  const int savedErrno = errno;
  CancellationToken* token = deferTo.load(std::memory_order_relaxed);
  if (token != nullptr && deferredSignal == 0) {
    deferredSignal = signal;
    token->Cancel();
    errno = savedErrno;
    return;
  }
  Say("odefit: interrupted by ");
  Say(signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : "a signal");
  if (filePending != 0) {
    unlink(pendingFile);
    Say(" while writing ");
    Say(pendingTarget);
    Say(", which is left as it was\n");
  } else {
    Say(filesWritten == 0 ? ": no file written\n" : "\n");
  }
  _exit(128 + signal);
}

std::string Reason() { return std::strerror(errno); }

void EndPending() {
  std::atomic_signal_fence(std::memory_order_seq_cst);
  filePending = 0;
}

}  // namespace

void InstallInterruptCleanup() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

DeferredInterrupt::DeferredInterrupt(CancellationToken& token) {
  deferredSignal = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  deferTo.store(&token);
}

DeferredInterrupt::~DeferredInterrupt() { deferTo.store(nullptr); }

int DeferredInterrupt::Received() const { return deferredSignal; }

std::string SignalName(int signal) {
  if (signal == SIGINT) return "SIGINT";
  if (signal == SIGTERM) return "SIGTERM";
  return "signal " + std::to_string(signal);
}

namespace {

namespace fs = std::filesystem;

// The file a path names after its symbolic links (those of the last
// component; the system follows the folders' own), which need not exist yet.
fs::path FollowLinks(const fs::path& path) {
  fs::path current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat status {};
    if (lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return current;
    std::error_code error;
    const fs::path target = fs::read_symlink(current, error);
    if (error) throw FileError("cannot write " + path.string() + ": " + error.message());
    current = target.is_absolute() ? target : current.parent_path() / target;
  }
  throw FileError("cannot write " + path.string() + ": too many levels of symbolic links");
}

// The name of this process's temporary files for `target` in its folder:
// ".<name>.odefit-<pid>-<serial>.tmp".
std::string TemporaryPrefix(const fs::path& target) {
  std::string prefix(1, '.');
  prefix.append(target.filename().string()).append(".odefit-");
  return prefix;
}

// Removes the temporary files for `target` that processes no longer running
// left behind (killed while writing where the file system has no unnamed
// temporary files).
void RemoveStaleTemporaries(const fs::path& folder, const fs::path& target) {
  const std::string prefix = TemporaryPrefix(target);
  std::error_code error;
  for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 || !name.ends_with(".tmp")) {
      continue;
    }
    const char* digits = name.c_str() + prefix.size();
    char* stop = nullptr;
    const long pid = std::strtol(digits, &stop, 10);
    if (stop == digits || *stop != '-' || pid <= 0 || pid == getpid()) continue;
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) unlink(entry->path().c_str());
  }
}

}  // namespace

void WriteWholeFile(const std::filesystem::path& path, std::string_view bytes) {
  static std::atomic<unsigned> serial{0};
  const std::string given = path.string();
  const fs::path target = FollowLinks(path);
  // Only a regular file is replaced: a device, a FIFO, a socket or a folder
  // at the path is refused, never turned into a file.
  struct stat old {};
  const bool replacing = stat(target.c_str(), &old) == 0;
  if (!replacing && errno != ENOENT) throw FileError("cannot write " + given + ": " + Reason());
  if (replacing && !S_ISREG(old.st_mode)) {
    throw FileError("cannot write " + given + ": not a regular file (odefit writes regular files only)");
  }
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::string name = TemporaryPrefix(target);
  name.append(std::to_string(getpid())).append(1, '-').append(std::to_string(serial++)).append(".tmp");
  const std::string temporary = (folder / name).string();
  if (temporary.size() >= sizeof pendingFile || given.size() >= sizeof pendingTarget) {
    throw FileError("cannot write " + given + ": name too long");
  }
  // An unnamed file in the target's folder, named only once it is whole: a
  // process killed while writing leaves nothing. Where the file system has
  // none, a named one; what killed runs left that way is removed first.
  RemoveStaleTemporaries(folder, target);
  int fd = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  const bool unnamed = fd >= 0;
  if (!unnamed) fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) throw FileError("cannot write " + given + ": " + Reason());
  std::memcpy(pendingFile, temporary.c_str(), temporary.size() + 1);
  std::memcpy(pendingTarget, given.c_str(), given.size() + 1);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  filePending = 1;
  bool named = !unnamed;
  const auto fail = [&](const std::string& reason) {
    if (fd >= 0) close(fd);
    if (named) unlink(temporary.c_str());
    EndPending();
    throw FileError("cannot write " + given + ": " + reason);
  };
  for (std::size_t written = 0; written < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail(n < 0 ? Reason() : "nothing written");
    written += static_cast<std::size_t>(n);
  }
  // The file it replaces keeps its permissions (and, where allowed, its owner).
  if (replacing) {
    if (fchmod(fd, old.st_mode & 0777) != 0) fail(Reason());  // no set-user or set-group bit carried over
    if (fchown(fd, old.st_uid, old.st_gid) != 0) {
      // Not the owner's to give: the file is the writer's, as a new one would be.
    }
  }
  if (fsync(fd) != 0 && errno != EINVAL) fail(Reason());
  if (unnamed) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) != 0) fail(Reason());
    named = true;
  }
  const int closed = close(fd);
  fd = -1;
  if (closed != 0) fail(Reason());
  if (std::rename(temporary.c_str(), target.c_str()) != 0) fail(Reason());
  filesWritten = filesWritten + 1;
  EndPending();
}

}  // namespace odefit::cli
