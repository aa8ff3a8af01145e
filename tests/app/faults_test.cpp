// Faults that must lose nothing: signals while a question waits, a series at
// the edge of the double range, a file-size limit on the report.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "program_run.h"

namespace {

using namespace odefit::testing;

std::string SmoothSeries(int vectors, double scale) {
  std::string text;
  char line[64];
  for (int k = 0; k < vectors; ++k) {
    std::snprintf(line, sizeof line, "%.10e\n", scale * std::sin(0.1 * k));
    text += line;
  }
  return text;
}

// Starts the terminal program in `folder` with a pipe as standard input, writes
// `answers`, waits until the report holds `marker`, sends `signal` and returns
// the exit status.
int InterruptedRun(const fs::path& folder, const std::string& answers, const std::string& marker, int signal) {
  int input[2];
  if (pipe(input) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(input[0], STDIN_FILENO);
    close(input[1]);
    const int out = open((folder / "stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, STDOUT_FILENO);
    dup2(out, STDERR_FILENO);
    if (chdir(folder.c_str()) != 0) _exit(99);
    execl(ODEFIT_BINARY, ODEFIT_BINARY, "--console", static_cast<char*>(nullptr));
    _exit(98);
  }
  close(input[0]);
  if (write(input[1], answers.data(), answers.size()) != static_cast<ssize_t>(answers.size())) return -1;
  for (int i = 0; i < 500 && Text(folder / "report.txt").find(marker) == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, signal);
  int status = 0;
  waitpid(pid, &status, 0);
  close(input[1]);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Faults, InterruptAndTerminationKeepTheReport) {
  for (const int signal : {SIGINT, SIGTERM}) {
    ScratchFolder folder("signal-" + std::to_string(signal));
    std::ofstream(folder.path() / "series.txt") << SmoothSeries(40, 1.0);
    const std::string marker = " Sampling interval dt =    0.10000\n";
    EXPECT_EQ(InterruptedRun(folder.path(), "series.txt\n1\n30\n0.1\n", marker, signal), 128 + signal);
    EXPECT_EQ(Text(folder.path() / "report.txt"),
              " Dimension of vectors D =  1\n"
              " The number of vectors in a training time series Ntrain =     30\n" +
                  marker);
  }
}

TEST(Faults, SeriesNearTheLargestDoubleOverflowsTheModelWithoutACrash) {
  ScratchFolder folder("huge-values");
  std::ofstream(folder.path() / "series.txt") << SmoothSeries(200, 1.5e308);
  // RK-4, then RK-5,6 on the same pieces.
  std::ofstream(folder.path() / "answers.txt") << "series.txt\n1\n100\n0.1\n3\nn\n1\n2\ny\n20\n3\n20\n2\n0.1\n"
                                                  "y\ny\n20\n3\n20\n3\n0.1\nn\nn\nn\nn\n";
  EXPECT_EQ(RunScripted(ODEFIT_BINARY, folder.path(), folder.path() / "answers.txt"), 0)
      << Text(folder.path() / "stdout.txt") << Text(folder.path() / "stderr.txt");
  const std::string screen = Text(folder.path() / "stdout.txt");
  const std::string infinite = " Numbers of infinite solutions:    3\n";
  const auto first = screen.find(infinite);
  ASSERT_NE(first, std::string::npos) << screen;
  EXPECT_NE(screen.find(infinite, first + 1), std::string::npos) << screen;
}

TEST(Faults, TimesThatOverflowStopTheDialogueInsteadOfLoopingForever) {
  // dt = 1e307: the test pieces start at (Ntrain + 1) dt, beyond the largest
  // double, where T + H == T. Euler and RK-4 used to loop there for ever.
  for (const char* method : {"1", "2"}) {
    ScratchFolder folder(std::string("time-overflow-") + method);
    std::ofstream(folder.path() / "series.txt") << SmoothSeries(200, 1.0);
    std::ofstream(folder.path() / "answers.txt") << "series.txt\n1\n100\n1.0e307\n3\nn\n1\n2\ny\n20\n3\n20\n"
                                                 << method << "\n1.0e307\nn\nn\nn\nn\n";
    EXPECT_EQ(RunScripted(ODEFIT_BINARY, folder.path(), folder.path() / "answers.txt"), 3) << method;
    const std::string err = Text(folder.path() / "stderr.txt");
    EXPECT_NE(err.find(std::string("TERMINAL ERROR 1 from ") + (method[0] == '1' ? "EulerIntegrate" : "Rk4Integrate")),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("cannot advance the time T = Infinity"), std::string::npos) << err;
  }
}

TEST(Faults, ReportBeyondTheFileSizeLimitEndsTheRunWithItsReason) {
  ScratchFolder folder("file-size");
  std::ofstream(folder.path() / "series.txt") << SmoothSeries(40, 1.0);
  std::ofstream(folder.path() / "report.txt") << std::string(1024, '#') << "\n";
  std::ofstream(folder.path() / "answers.txt") << "series.txt\n1\n30\n0.1\n3\nn\n";
  // ulimit -f counts blocks of 1024 bytes: the report cannot grow past one.
  const int status = RunShell("cd " + Quoted(folder.path().string()) + " && ulimit -f 1 && " +
                              Quoted(ODEFIT_BINARY) + " --console < answers.txt > stdout.txt 2> stderr.txt");
  EXPECT_EQ(status, 4);
  EXPECT_EQ(Text(folder.path() / "stderr.txt"),
            "odefit: cannot write the report file report.txt: File too large\n");
  EXPECT_EQ(Text(folder.path() / "report.txt"), std::string(1024, '#') + "\n");
}

}  // namespace
