// The program chooses OpenBLAS's kernels for the processor when the library's
// own choice is weaker, by starting itself again with OPENBLAS_CORETYPE set.
#include <gtest/gtest.h>

#include <string>

#include "numerics/blas_kernels.h"
#include "program_run.h"

namespace odefit {
namespace {

using testing::Quoted;
using testing::RunShell;
using testing::ScratchFolder;
using testing::Text;

// Runs `odefit arguments` with the environment assignments `env` (after
// clearing the variables of the choice), in `folder`; returns standard output.
std::string RunOdefit(const ScratchFolder& folder, const std::string& env, const std::string& arguments) {
  const std::string command = "cd " + Quoted(folder.path().string()) +
                              " && env -u OPENBLAS_CORETYPE -u ODEFIT_BLAS_CHOSEN -u ODEFIT_TEST_PRETEND_BLAS_CORETYPE " +
                              env + " " + Quoted(ODEFIT_BINARY) + " " + arguments + " > out.txt 2> err.txt";
  EXPECT_EQ(RunShell(command), 0) << command << "\n" << Text(folder.path() / "err.txt");
  return Text(folder.path() / "out.txt");
}

TEST(BlasChoice, AWeakLibraryChoiceIsReplacedByTheBestThisProcessorRuns) {
  ScratchFolder folder("blas-choice");
  const std::string version = RunOdefit(folder, "ODEFIT_TEST_PRETEND_BLAS_CORETYPE=Prescott", "--version");
  const std::optional<std::string> better = BetterCoreType("Prescott", DetectProcessorFeatures());
  if (!better) {
    EXPECT_NE(version.find("(the library's choice)"), std::string::npos) << version;
    return;
  }
  // The restarted program runs the chosen kernels and says why.
  EXPECT_NE(version.find(", " + *better + " kernels (chosen by odefit for this processor; the library chose Prescott)"),
            std::string::npos)
      << version;
}

TEST(BlasChoice, TheUsersChoiceAndAGoodLibraryChoiceStand) {
  ScratchFolder folder("blas-choice-user");
  if (DetectProcessorFeatures().avx2 && DetectProcessorFeatures().fma) {
    const std::string version =
        RunOdefit(folder, "OPENBLAS_CORETYPE=Haswell ODEFIT_TEST_PRETEND_BLAS_CORETYPE=Prescott", "--version");
    EXPECT_NE(version.find(", Haswell kernels (OPENBLAS_CORETYPE)"), std::string::npos) << version;
  }
  const std::string version = RunOdefit(folder, "", "--version");
  if (!BetterCoreType(BlasCoreType(), DetectProcessorFeatures())) {
    EXPECT_NE(version.find(", " + BlasCoreType() + " kernels (the library's choice)"), std::string::npos) << version;
  }
  EXPECT_EQ(version.rfind("odefit ", 0), 0u) << version;
}

TEST(BlasChoice, TheRestartedProgramGetsTheSameArguments) {
  ScratchFolder folder("blas-choice-arguments");
  const std::string fit = "fit " + Quoted(std::string(ODEFIT_EXAMPLES_DIR) + "/lorenz.txt") +
                          " --dimension 3 --dt 0.01 --train 3000 --points 3 --model 'poly:2'";
  const std::string plain = RunOdefit(folder, "", fit);
  const std::string restarted = RunOdefit(folder, "ODEFIT_TEST_PRETEND_BLAS_CORETYPE=Prescott", fit);
  EXPECT_NE(plain.find("Equation 1: poly:2"), std::string::npos) << plain;
  EXPECT_EQ(restarted, plain);
}

}  // namespace
}  // namespace odefit
