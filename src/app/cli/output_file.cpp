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

// The file being written, for the signal handler; empty when there is none.
// The program writes one file at a time, from one thread.
char pendingFile[4096];
volatile std::sig_atomic_t filePending = 0;

extern "C" void RemovePendingAndEnd(int signal) {
  if (filePending != 0) unlink(pendingFile);
  _exit(128 + signal);
}

std::string Reason() { return std::strerror(errno); }

}  // namespace

void InstallInterruptCleanup() {
  struct sigaction action {};
  action.sa_handler = RemovePendingAndEnd;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void WriteWholeFile(const std::filesystem::path& path, std::string_view bytes) {
  static std::atomic<unsigned> serial{0};
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  std::string name(1, '.');
  name.append(path.filename().string()).append(".odefit-").append(std::to_string(getpid()));
  name.append(1, '-').append(std::to_string(serial++)).append(".tmp");
  const std::string temporary = (folder / name).string();
  if (temporary.size() >= sizeof pendingFile) throw FileError("cannot write " + path.string() + ": name too long");
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) throw FileError("cannot write " + path.string() + ": " + Reason());
  std::memcpy(pendingFile, temporary.c_str(), temporary.size() + 1);
  filePending = 1;
  const auto fail = [&](const std::string& reason) {
    close(fd);
    unlink(temporary.c_str());
    filePending = 0;
    throw FileError("cannot write " + path.string() + ": " + reason);
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
    filePending = 0;
    throw FileError("cannot write " + path.string() + ": " + reason);
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    const std::string reason = Reason();
    unlink(temporary.c_str());
    filePending = 0;
    throw FileError("cannot write " + path.string() + ": " + reason);
  }
  filePending = 0;
}

}  // namespace odefit::cli
