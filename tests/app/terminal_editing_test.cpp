// The terminal program at a terminal (a pseudo-terminal here): answers are
// read with line editing and a history.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "program_run.h"

namespace {

using namespace odefit::testing;

// A program running on a pseudo-terminal.
class TerminalSession {
 public:
  TerminalSession(const fs::path& folder, const char* program) {
    pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      if (chdir(folder.c_str()) != 0) _exit(127);
      unsetenv("DISPLAY");
      unsetenv("WAYLAND_DISPLAY");
      setenv("TERM", "xterm", 1);
      execl(program, program, "--console", static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~TerminalSession() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }

  bool Started() const { return pid_ > 0; }

  // Reads the screen until it holds `text` after what was waited for before; false after 10 s.
  bool WaitFor(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      const std::size_t at = screen_.find(text, seen_);
      if (at != std::string::npos) {
        seen_ = at + text.size();
        return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd poller{master_, POLLIN, 0};
      if (poll(&poller, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[4096];
      const ssize_t got = read(master_, buffer, sizeof buffer);
      if (got <= 0) return false;
      screen_.append(buffer, static_cast<std::size_t>(got));
    }
  }

  void Type(const std::string& keys) { ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size())); }

  // Waits for the program to end; returns its exit status, or -1.
  int Wait() {
    int status = 0;
    char buffer[4096];
    for (ssize_t got = 0; (got = read(master_, buffer, sizeof buffer)) > 0;) {
      screen_.append(buffer, static_cast<std::size_t>(got));  // drained, so the program can finish
    }
    if (waitpid(pid_, &status, 0) != pid_) return -1;
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  const std::string& Screen() const { return screen_; }

 private:
  pid_t pid_ = -1;
  int master_ = -1;
  bool exited_ = false;
  std::string screen_;
  std::size_t seen_ = 0;
};

TEST(TerminalLineEditing, RecallsEarlierAnswersAndEditsWithinTheLine) {
  ScratchFolder folder("line-editing");
  fs::copy_file(fs::path(ODEFIT_EXAMPLES_DIR) / "lorenz.txt", folder.path() / "lorenz.txt");
  TerminalSession terminal(folder.path(), ODEFIT_BINARY);
  ASSERT_TRUE(terminal.Started());
  ASSERT_TRUE(terminal.WaitFor("Open: Select File for Unit 1: "));
  terminal.Type("lorenz.txt\r");
  ASSERT_TRUE(terminal.WaitFor("D = "));
  terminal.Type("3\r");
  ASSERT_TRUE(terminal.WaitFor("Ntrain = "));
  terminal.Type("\x1b[A" "000\r");  // Up recalls 3, then 000 makes it 3000
  ASSERT_TRUE(terminal.WaitFor("dt = "));
  terminal.Type("0.1\x1b[D" "0\r");  // Left, then 0 before the last digit: 0.01
  ASSERT_TRUE(terminal.WaitFor("m = ")) << terminal.Screen();
  // The rest typed ahead: m, the fits, and n to every question left.
  terminal.Type("3\rn\r1\r2\r1\r2\r1\r2\rn\rn\rn\rn\r");
  EXPECT_EQ(terminal.Wait(), 0) << terminal.Screen();

  const std::string report = Text(folder.path() / "report.txt");
  EXPECT_NE(report.find(" The number of vectors in a training time series Ntrain =   3000\n"), std::string::npos) << report;
  EXPECT_NE(report.find(" Sampling interval dt =    0.01000\n"), std::string::npos) << report;
}

}  // namespace
