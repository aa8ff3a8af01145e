// The program starts once, without the desktop's toolkit, with the BLAS
// library's own kernels and one BLAS thread unless the user chose a count;
// with no thread pool, nothing waits at exit under a memory limit; a start
// through the dynamic loader runs as any other.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "program_run.h"

namespace odefit {
namespace {

using testing::Quoted;
using testing::RunShell;
using testing::ScratchFolder;
using testing::Text;

struct ProgramRun {
  int status;
  std::string out, err;
};

// Runs `prefix odefit arguments` in `folder` under `limits` (shell ulimit
// commands, or ""), with the environment assignments `env` after clearing the
// thread counts; ends it after 20 s.
ProgramRun RunOdefit(const ScratchFolder& folder, const std::string& limits, const std::string& env,
              const std::string& prefix, const std::string& arguments) {
  const std::string command = "cd " + Quoted(folder.path().string()) + " && (" + limits +
                              " env -u OPENBLAS_NUM_THREADS -u GOTO_NUM_THREADS -u OMP_NUM_THREADS " + env +
                              " timeout 20 " + prefix + " " + Quoted(ODEFIT_BINARY) + " " + arguments +
                              ") > out.txt 2> err.txt";
  const int status = RunShell(command);
  return {status, Text(folder.path() / "out.txt"), Text(folder.path() / "err.txt")};
}

const std::string kFit = "fit " + Quoted(std::string(ODEFIT_EXAMPLES_DIR) + "/lorenz.txt") +
                         " --dimension 3 --dt 0.01 --train 3000 --points 3 --model 'poly:2'";

TEST(ProgramStart, OneThreadUnlessTheUserChoseAndTheLibrarysKernels) {
  ScratchFolder folder("blas-start");
  struct Case {
    std::string env, expected;
  };
  for (const Case& c : {Case{"", " (the library's choice), 1 thread\n"},
                        Case{"OPENBLAS_NUM_THREADS=2", ", 2 threads\n"}, Case{"OMP_NUM_THREADS=2", ", 2 threads\n"}}) {
    const ProgramRun run = RunOdefit(folder, "", c.env, "", "--version");
    ASSERT_EQ(run.status, 0) << c.env << "\n" << run.err;
    EXPECT_EQ(run.out.rfind("odefit ", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("BLAS: "), std::string::npos) << run.out;
    EXPECT_TRUE(run.out.ends_with(c.expected)) << c.env << "\n" << run.out;
  }
}

TEST(ProgramStart, TheProgramNeedsNoToolkitAndTheDesktopModuleOnlyItsEntry) {
  ScratchFolder folder("program-start-libraries");
  const std::string needed = "cd " + Quoted(folder.path().string()) + " && readelf -d " + Quoted(ODEFIT_BINARY) +
                             " > needed.txt && nm -D --defined-only " + Quoted(ODEFIT_DESKTOP_MODULE_FILE) +
                             " > exported.txt";
  ASSERT_EQ(RunShell(needed), 0);
  const std::string libraries = Text(folder.path() / "needed.txt");
  EXPECT_NE(libraries.find("libopenblas"), std::string::npos) << libraries;
  EXPECT_EQ(libraries.find("libQt"), std::string::npos) << libraries;
  const std::string exported = Text(folder.path() / "exported.txt");
  EXPECT_NE(exported.find(" T odefit_run_desktop"), std::string::npos) << exported;
  EXPECT_EQ(exported.find("odefit::"), std::string::npos) << exported;
  EXPECT_EQ(exported.find("_ZN6odefit"), std::string::npos) << exported;
}

TEST(ProgramStart, AStartThroughTheDynamicLoaderRunsLikeAnyOther) {
  ScratchFolder folder("blas-start-loader");
  const ProgramRun plain = RunOdefit(folder, "", "", "", kFit);
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_NE(plain.out.find("Equation 1: poly:2"), std::string::npos) << plain.out;
  for (const char* loader : {"/lib64/ld-linux-x86-64.so.2", "/lib/ld-linux-aarch64.so.1"}) {
    if (!std::ifstream(loader)) continue;
    const ProgramRun through = RunOdefit(folder, "", "", loader, kFit);
    EXPECT_EQ(through.status, 0) << through.err;
    EXPECT_EQ(through.out, plain.out);
  }
}

// The sanitizers reserve more address space than any such limit allows.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define ODEFIT_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ODEFIT_SANITIZED 1
#endif
#ifndef ODEFIT_SANITIZED
TEST(ProgramStart, UnderAMemoryLimitEveryCommandEndsAndATooLargeFitSaysSo) {
  ScratchFolder folder("blas-start-limit");
  const ProgramRun version = RunOdefit(folder, "ulimit -v 256000;", "", "", "--version");
  EXPECT_EQ(version.status, 0) << version.err;
  const ProgramRun fit = RunOdefit(folder, "ulimit -v 256000;", "", "", kFit);
  EXPECT_EQ(fit.status, 0) << fit.err;
  // A fit of 969 terms needs tens of megabytes for the factors of its
  // chunks: under the smallest limit the program starts with, it cannot have them.
  {
    std::ofstream series(folder.path() / "series.txt");
    for (int i = 0; i < 2000; ++i) series << (i % 7) * 0.1 << ' ' << (i % 11) * 0.1 << ' ' << (i % 13) * 0.1 << '\n';
  }
  std::string least;
  for (int limit = 24000; limit <= 160000 && least.empty(); limit += 8000) {
    const std::string ulimit = "ulimit -v " + std::to_string(limit) + ";";
    if (RunOdefit(folder, ulimit, "", "", "--version").status == 0) least = ulimit;
  }
  ASSERT_FALSE(least.empty());
  const ProgramRun big = RunOdefit(folder, least, "", "", "fit series.txt --dt 0.01 --model poly:16");
  EXPECT_EQ(big.status, 3) << least << "\n" << big.err;
  EXPECT_NE(big.err.find("The required storage cannot be"), std::string::npos) << big.err;
}
#endif

}  // namespace
}  // namespace odefit
