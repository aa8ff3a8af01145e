// Whole scripted runs of the terminal program, compared with recorded runs of
// an independent implementation: the screen text, report.txt, standard error
// and the exit status.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "graphics/png_file.h"
#include "program_run.h"
#include "../graphics/pixel_expectations.h"

namespace {

using namespace odefit::testing;

// Whether two lines agree: the same text, and numbers in the same places that
// differ by at most two units of their last printed digit.
bool SameLine(const std::string& actual, const std::string& expected) {
  if (actual == expected) return true;
  static const std::regex number(R"(-?[0-9]*\.?[0-9]+)");
  std::sregex_iterator a(actual.begin(), actual.end(), number), b(expected.begin(), expected.end(), number), end;
  std::size_t lastA = 0, lastB = 0;
  for (; a != end && b != end; ++a, ++b) {
    if (actual.substr(lastA, a->position() - lastA) != expected.substr(lastB, b->position() - lastB)) return false;
    const std::string x = a->str(), y = b->str();
    if (x.size() != y.size()) return false;
    const auto point = y.find('.');
    const int decimals = point == std::string::npos ? 0 : static_cast<int>(y.size() - point - 1);
    if (std::abs(std::stod(x) - std::stod(y)) > 2.0001 * std::pow(10.0, -decimals)) return false;
    lastA = a->position() + a->length();
    lastB = b->position() + b->length();
  }
  return a == end && b == end && actual.substr(lastA) == expected.substr(lastB);
}

void ExpectSameLines(const std::vector<std::string>& actual, const std::vector<std::string>& expected,
                     const std::string& what) {
  for (std::size_t i = 0; i < std::min(actual.size(), expected.size()); ++i) {
    if (!SameLine(actual[i], expected[i])) {
      ADD_FAILURE() << what << " line " << i + 1 << "\n  actual:   [" << actual[i] << "]\n  expected: ["
                    << expected[i] << "]";
      return;
    }
  }
  EXPECT_EQ(actual.size(), expected.size()) << what;
}

// The program's own notes and warnings on standard error ("odefit: ..."),
// which the recorded runs do not hold: each run must give exactly these, and
// the rest of standard error must be the recording.
const std::map<std::string, std::vector<std::string>> kNotes = {
    {"lorenz",
     {"odefit: warning: h = 0.0025 divides dt = 0.01 only up to rounding: every sampling interval of the test "
      "takes 3 steps of h (Euler) and then one closing Euler step of about 0.0025; h = dt avoids it"}},
    {"loops",
     {"odefit: warning: m = 4 is even: each smoothed state belongs to a sample and its slope to the point half a "
      "sample later, so the fitted coefficients are biased; an odd m (3 or 5) avoids it"}},
    {"reduced", {}},
    {"singular",
     {"odefit: equation 1 cannot be fitted: its term x1 is zero on every training row; choose another family or "
      "another order"}},
    {"wrong",
     {"odefit: short.txt holds 5 numbers, 1 vector of D = 3: at least 2 vectors are needed",
      "odefit: cannot read bad.txt: line 3 \"abc\" is not a number",
      "odefit: warning: dt = 5 was read as 5.0E-10: type 5. or 5.0 (a number without a decimal point has 10 "
      "implied decimals)",
      "odefit: warning: Order of the polynomial: 249 was read as 24: only its first 2 characters count"}},
};

class FixtureRun : public ::testing::TestWithParam<const char*> {};

TEST_P(FixtureRun, MatchesTheRecordedRun) {
  const fs::path fixture = fs::path(ODEFIT_FIXTURES_DIR) / GetParam();
  const ScratchFolder folder(std::string("fixture-") + GetParam());
  const fs::path& dir = folder.path();
  for (const auto& entry : fs::directory_iterator(fixture)) {
    const std::string name = entry.path().filename().string();
    if (name != "answers.txt" && name != "expected") fs::copy(entry.path(), dir / name);
  }
  const int status = RunScripted(ODEFIT_BINARY, dir, fixture / "answers.txt");
  ASSERT_GE(status, 0);

  const fs::path expected = fixture / "expected";
  const std::string kind = Text(expected / "status.txt");
  if (kind.rfind("normal", 0) == 0) {
    EXPECT_EQ(status, 0);
  } else if (kind.rfind("stopped", 0) == 0) {
    EXPECT_NE(status, 0);
  } else {
    EXPECT_EQ(status, 1);
  }

  ExpectSameLines(Lines(dir / "stdout.txt"), Lines(expected / "stdout.txt"), "stdout");
  ExpectSameLines(Lines(dir / "report.txt"), Lines(expected / "report.txt"), "report.txt");

  // Standard error: exact, but the reason after "cannot open NAME:" is the
  // system's own, and the program's notes are compared on their own.
  std::vector<std::string> errors, notes, expectedErrors = Lines(expected / "stderr.txt");
  for (const std::string& line : Lines(dir / "stderr.txt")) {
    (line.rfind("odefit: ", 0) == 0 ? notes : errors).push_back(line);
  }
  for (auto* lines : {&errors, &expectedErrors}) {
    for (auto& line : *lines) {
      if (line.rfind("cannot open ", 0) == 0) line = line.substr(0, line.find(':'));
    }
  }
  EXPECT_EQ(errors, expectedErrors);
  EXPECT_EQ(notes, kNotes.at(GetParam()));

  // The pictures: the last complete drawing of each window, or no picture at all.
  for (const auto& [json, png] : {std::pair{"differentiation.pixels.json", "differentiation.png"},
                                  std::pair{"model-efficiency.pixels.json", "model-efficiency.png"}}) {
    std::string error;
    const auto expectations = LoadPixelExpectations((expected / json).string(), &error);
    ASSERT_TRUE(expectations) << json << ": " << error;
    if (!expectations->drawn) {
      EXPECT_FALSE(fs::exists(dir / png)) << png;
      continue;
    }
    const auto picture = odefit::ReadPng((dir / png).string(), &error);
    ASSERT_TRUE(picture) << png << ": " << error;
    const PixelCheck check = CheckSurface(*expectations, *picture);
    EXPECT_TRUE(check.Ok()) << png << ": " << check.Summary();
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FixtureRun, ::testing::Values("lorenz", "loops", "reduced", "singular", "wrong"));

TEST(LineComparison, AllowsTwoUnitsOfTheLastDigitOnly) {
  EXPECT_TRUE(SameLine(" Error:    0.29904 %", " Error:    0.29906 %"));
  EXPECT_FALSE(SameLine(" Error:    0.29904 %", " Error:    0.29907 %"));
  EXPECT_FALSE(SameLine(" Error:    0.29904 %", " Error:    0.2990  %"));
  EXPECT_FALSE(SameLine(" Error (1):  1.0", " Fault (1):  1.0"));
  EXPECT_FALSE(SameLine(" Time (1): 52", " Time (1): 55"));
  EXPECT_TRUE(SameLine("-0.0713516105", "-0.0713516103"));
}

}  // namespace
