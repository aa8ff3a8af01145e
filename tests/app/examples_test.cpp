// Keeps the examples honest: every answers file of examples/ runs through the
// terminal program to a normal end with good fits, and the committed series
// are exactly what the generator writes.
#include <gtest/gtest.h>

#include <ostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "program_run.h"

namespace {

using namespace odefit::testing;

struct Example {
  const char* name;                 // series <name>.txt, answers <name>-answers.txt
  std::vector<int> coefficients;    // coefficient lines of equations 1..D
  double maxTrainingErrorPercent;   // a few times the largest value obtained
};

// Names the example in test output instead of dumping its bytes.
void PrintTo(const Example& example, std::ostream* out) { *out << example.name; }

// A numbered result line of the report: the equation or variable and its value.
struct NumberedValue {
  int number;
  double value;
};

struct CoefficientBlock {
  int equation;
  int lines;
  double errorPercent;
};

std::vector<CoefficientBlock> CoefficientBlocks(const std::vector<std::string>& report) {
  static const std::regex heading(R"(^ Coefficients of the ([1-6]) equation:$)");
  static const std::regex coefficient(R"(^ *-?[0-9]+\.[0-9]{10}$)");
  static const std::regex error(R"(^ Error of approximation: +([-0-9.]+) %$)");
  std::vector<CoefficientBlock> blocks;
  for (std::size_t i = 0; i < report.size(); ++i) {
    std::smatch match;
    if (!std::regex_match(report[i], match, heading)) continue;
    CoefficientBlock block{std::stoi(match[1]), 0, -1.0};
    while (i + 1 < report.size() && report[i + 1].size() == 20 && std::regex_match(report[i + 1], coefficient)) {
      ++block.lines;
      ++i;
    }
    if (i + 1 < report.size() && std::regex_match(report[i + 1], match, error)) {
      block.errorPercent = std::stod(match[1]);
    }
    blocks.push_back(block);
  }
  return blocks;
}

std::vector<NumberedValue> Matches(const std::vector<std::string>& report, const std::regex& pattern) {
  std::vector<NumberedValue> found;
  for (const std::string& line : report) {
    std::smatch match;
    if (std::regex_match(line, match, pattern)) found.push_back({std::stoi(match[1]), std::stod(match[2])});
  }
  return found;
}

class ExampleRun : public ::testing::TestWithParam<Example> {};

TEST_P(ExampleRun, EndsNormallyWithOneGoodFitPerEquation) {
  const Example& example = GetParam();
  const fs::path examples(ODEFIT_EXAMPLES_DIR);
  const std::string series = std::string(example.name) + ".txt";
  ScratchFolder folder(example.name);
  fs::copy(examples / series, folder.path() / series);

  const fs::path answers = examples / (std::string(example.name) + "-answers.txt");
  const int status = RunScripted(ODEFIT_BINARY, folder.path(), answers);
  ASSERT_EQ(status, 0) << Text(folder.path() / "stdout.txt") << Text(folder.path() / "stderr.txt");
  EXPECT_EQ(Text(folder.path() / "stderr.txt"), "");

  const std::vector<std::string> report = Lines(folder.path() / "report.txt");
  const int D = static_cast<int>(example.coefficients.size());
  const std::vector<CoefficientBlock> blocks = CoefficientBlocks(report);
  ASSERT_EQ(blocks.size(), example.coefficients.size());
  for (int i = 1; i <= D; ++i) {
    const CoefficientBlock& block = blocks[static_cast<std::size_t>(i - 1)];
    EXPECT_EQ(block.equation, i);
    EXPECT_EQ(block.lines, example.coefficients[static_cast<std::size_t>(i - 1)]) << "equation " << i;
    EXPECT_GE(block.errorPercent, 0.0) << "equation " << i;
    EXPECT_LT(block.errorPercent, example.maxTrainingErrorPercent) << "equation " << i;
  }

  // The model must describe the test series, which it has not seen, about as well.
  static const std::regex testError(
      R"(^ Error of approximation of the ([1-6]) equation \(test series\): +([-0-9.]+) %$)");
  const std::vector<NumberedValue> testErrors = Matches(report, testError);
  ASSERT_EQ(testErrors.size(), example.coefficients.size());
  for (const NumberedValue& line : testErrors) EXPECT_LT(line.value, 1.0) << "equation " << line.number;

  // The prediction results, once the program writes them: a good model predicts
  // at least one sampling interval ahead and never runs out of bounds.
  static const std::regex predictionTime(R"(^ Prediction time for the ([1-6]) variable is equal to +([0-9]+)$)");
  const std::vector<NumberedValue> times = Matches(report, predictionTime);
  if (!times.empty()) {
    EXPECT_EQ(times.size(), example.coefficients.size());
    for (const NumberedValue& line : times) EXPECT_GE(line.value, 1.0) << "variable " << line.number;
    for (const std::string& line : report) {
      if (line.rfind(" Numbers of infinite solutions:", 0) == 0) {
        EXPECT_EQ(line, " Numbers of infinite solutions:    0");
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Examples, ExampleRun,
                         ::testing::Values(Example{"lorenz", {10, 10, 10}, 0.5},
                                           Example{"driven", {3, 12}, 0.2},
                                           Example{"predator-prey", {3, 4}, 0.2}),
                         [](const ::testing::TestParamInfo<Example>& info) {
                           std::string name = info.param.name;
                           for (char& c : name) {
                             if (c == '-') c = '_';
                           }
                           return name;
                         });

TEST(ExampleSeries, AreExactlyWhatTheGeneratorWrites) {
  ScratchFolder folder("generated");
  ASSERT_EQ(RunShell(Quoted(ODEFIT_GENERATOR) + " " + Quoted(folder.path().string())), 0);
  for (const char* name : {"lorenz.txt", "lorenz.csv", "driven.txt", "predator-prey.txt"}) {
    const std::string generated = Text(folder.path() / name);
    EXPECT_FALSE(generated.empty()) << name;
    EXPECT_TRUE(generated == Text(fs::path(ODEFIT_EXAMPLES_DIR) / name))
        << name << " differs from the generator's output; regenerate the examples";
  }
}

}  // namespace
