// The real program on a virtual X server: it chooses the desktop, runs the
// Lorenz example typed into its windows to the end and leaves a screenshot
// that shows the input window at the left and the efficiency window beside
// it. Without a reachable display it falls back to the terminal.
#include <gtest/gtest.h>

#include <string>

#include "graphics/palette.h"
#include "graphics/png_file.h"
#include "program_run.h"

namespace {

using namespace odefit::testing;

const fs::path kExamples = ODEFIT_EXAMPLES_DIR;

// Counts the pixels of colour `colour` in the rectangle [x0, x1) x [y0, y1).
int Count(const odefit::DrawingSurface& shot, int colour, int x0, int y0, int x1, int y1) {
  int count = 0;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) count += shot.At(x, y) == colour ? 1 : 0;
  }
  return count;
}

TEST(DesktopUnderXvfb, RunsTheLorenzExampleToTheEndAndShowsBothWindows) {
  ASSERT_EQ(RunShell("command -v xvfb-run > /dev/null"), 0) << "xvfb-run is missing (scripts/install-deps)";
  ScratchFolder folder("xvfb");
  fs::copy_file(kExamples / "lorenz.txt", folder.path() / "lorenz.txt");
  const fs::path shotPath = folder.path() / "desktop.png";
  const std::string run = "cd " + Quoted(folder.path().string()) + " && ODEFIT_DESKTOP_ANSWERS=" +
                          Quoted((kExamples / "lorenz-answers.txt").string()) + " ODEFIT_DESKTOP_SCREENSHOT=" +
                          Quoted(shotPath.string()) + " timeout 120 xvfb-run -a -s '-screen 0 1280x800x24' " +
                          Quoted(ODEFIT_BINARY) + " > stdout.txt 2> stderr.txt";
  // xvfb-run -a takes the first display number without a lock file; another
  // server starting at the same moment can take it first. That is the
  // machine's fault, not the program's: a second try gets another number.
  int status = RunShell(run);
  for (int attempt = 1; attempt < 3 && status != 0 && Text(folder.path() / "stderr.txt").find("display") != std::string::npos; ++attempt) {
    status = RunShell(run);
  }
  ASSERT_EQ(status, 0) << Text(folder.path() / "stderr.txt");

  // The dialogue ran in the desktop, not on standard output, and reached its end.
  EXPECT_EQ(Text(folder.path() / "stdout.txt"), "");
  const std::string report = Text(folder.path() / "report.txt");
  EXPECT_NE(report.find("Numbers of infinite solutions:"), std::string::npos);
  EXPECT_NE(report.find("!**************************************************!"), std::string::npos);

  std::string error;
  const std::optional<odefit::DrawingSurface> shot = odefit::ReadPng(shotPath.string(), &error);
  ASSERT_TRUE(shot.has_value()) << error;
  ASSERT_EQ(shot->Width(), 1280);
  ASSERT_EQ(shot->Height(), 800);
  // Below the menu bar: the input window's client area (white, black text) at
  // the left, the efficiency window (black observations, red model) at its
  // right, and nothing drawn further right.
  const int top = 60, bottom = 520;
  const int consoleArea = (380 - 10) * (bottom - top);
  EXPECT_GT(Count(*shot, odefit::kWhite, 10, top, 380, bottom), consoleArea / 2);
  EXPECT_GT(Count(*shot, odefit::kBlack, 10, top, 380, bottom), 2000);
  EXPECT_EQ(Count(*shot, odefit::kBrightRed, 0, top, 395, bottom), 0);
  EXPECT_GT(Count(*shot, odefit::kBrightRed, 410, top, 790, bottom), 500);
  EXPECT_GT(Count(*shot, odefit::kBlack, 410, top, 790, bottom), 1000);
  EXPECT_EQ(Count(*shot, odefit::kBrightRed, 820, top, 1280, 800), 0);
  EXPECT_EQ(Count(*shot, odefit::kBlack, 820, top, 1280, 800), 0);
}

TEST(DesktopUnderXvfb, WithoutAReachableDisplayTheDialogueRunsInTheTerminal) {
  ScratchFolder folder("no-display");
  fs::copy_file(kExamples / "lorenz.txt", folder.path() / "lorenz.txt");
  const int status = RunShell("cd " + Quoted(folder.path().string()) + " && DISPLAY=:32123 WAYLAND_DISPLAY= " +
                              Quoted(ODEFIT_BINARY) + " < " + Quoted((kExamples / "lorenz-answers.txt").string()) +
                              " > stdout.txt 2> stderr.txt");
  EXPECT_EQ(status, 0);
  const std::string screen = Text(folder.path() / "stdout.txt");
  EXPECT_EQ(screen.rfind(" Open: Select File for Unit 1: lorenz.txt\n", 0), 0u);
  EXPECT_NE(screen.find(" 13) Different time series? (y/n) n"), std::string::npos);
}

TEST(DesktopUnderXvfb, HelpAndVersionNeedNoDisplay) {
  ScratchFolder folder("help");
  EXPECT_EQ(RunShell("cd " + Quoted(folder.path().string()) + " && env -u DISPLAY -u WAYLAND_DISPLAY " +
                     Quoted(ODEFIT_BINARY) + " --help > help.txt"),
            0);
  EXPECT_EQ(Text(folder.path() / "help.txt").rfind("Usage: odefit [--console] [--help] [--version]\n", 0), 0u);
  EXPECT_EQ(RunShell("env -u DISPLAY " + Quoted(ODEFIT_BINARY) + " --version > /dev/null"), 0);
}

}  // namespace
