#include "app/cli/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
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

void WriteWholeFile(const std::filesystem::path& path, std::string_view bytes) {
  static std::atomic<unsigned> serial{0};
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  std::string name(1, '.');
  name.append(path.filename().string()).append(".odefit-").append(std::to_string(getpid()));
  name.append(1, '-').append(std::to_string(serial++)).append(".tmp");
  const std::string temporary = (folder / name).string();
  const std::string target = path.string();
  if (temporary.size() >= sizeof pendingFile || target.size() >= sizeof pendingTarget) {
    throw FileError("cannot write " + target + ": name too long");
  }
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) throw FileError("cannot write " + target + ": " + Reason());
  std::memcpy(pendingFile, temporary.c_str(), temporary.size() + 1);
  std::memcpy(pendingTarget, target.c_str(), target.size() + 1);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  filePending = 1;
  const auto fail = [&](const std::string& reason) {
    close(fd);
    unlink(temporary.c_str());
    EndPending();
    throw FileError("cannot write " + target + ": " + reason);
  };
  for (std::size_t written = 0; written < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail(n < 0 ? Reason() : "nothing written");
    written += static_cast<std::size_t>(n);
  }
  if (fsync(fd) != 0 && errno != EINVAL) fail(Reason());
  if (close(fd) != 0) {
    const std::string reason = Reason();
    unlink(temporary.c_str());
    EndPending();
    throw FileError("cannot write " + target + ": " + reason);
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    const std::string reason = Reason();
    unlink(temporary.c_str());
    EndPending();
    throw FileError("cannot write " + target + ": " + reason);
  }
  filesWritten = filesWritten + 1;
  EndPending();
}

}  // namespace odefit::cli
