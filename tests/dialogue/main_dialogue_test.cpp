#include "dialogue/main_dialogue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

#include "dialogue/console_dialogs.h"
#include "dialogue/prompts.h"
#include "dialogue/series_file.h"
#include "odefit/model.h"
#include "numerics/error_stack.h"
#include "scripted_console.h"

namespace odefit {
namespace {

namespace fs = std::filesystem;
using testing::ScriptedConsole;

// Counts the occurrences of `what` in `text`.
int Count(const std::string& text, const std::string& what) {
  int count = 0;
  for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++count;
  return count;
}

class DialogueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("odefit-dialogue-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Writes a smooth D-dimensional series of n vectors; returns its path.
  std::string Series(const std::string& name, int D, int n) {
    std::ofstream out(dir_ / name);
    for (int k = 1; k <= n; ++k) {
      for (int j = 1; j <= D; ++j) {
        char line[64];
        std::snprintf(line, sizeof line, "%.10f\n", std::sin(0.05 * k * j + 0.3 * j) + 0.01 * k * j);
        out << line;
      }
    }
    return (dir_ / name).string();
  }
  std::string File(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return (dir_ / name).string();
  }

  DialogueEnd Run(const std::vector<std::string>& answers) {
    console_ = std::make_unique<ScriptedConsole>(answers);
    ConsoleFileDialogs dialogs(*console_, errors_);
    ReportFile report((dir_ / "report.txt").string());
    DialogueOptions options;
    options.modelFitted = [this](const Model& model) { model_ = model; };
    return RunMainDialogue(*console_, dialogs, layer_, report, options);
  }
  const std::string& Screen() const { return console_->Transcript(); }
  std::string Report() const {
    std::ifstream in(dir_ / "report.txt");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  fs::path dir_;
  std::ostringstream errors_;
  ErrorReporter reporter_{&errors_};
  ErrorReporterScope bind_{reporter_};
  std::unique_ptr<ScriptedConsole> console_;
  GraphicsLayer layer_;
  Model model_;  // the last model the dialogue fitted
};

// The answers after m that close every loop with n, for a model of D standard polynomials of order 1.
std::vector<std::string> Close(int D, bool testAsked, const char* order = "1") {
  std::vector<std::string> tail = {"n"};  // 5)
  for (int i = 0; i < D; ++i) {
    tail.push_back("1");
    tail.push_back(order);
  }
  if (testAsked) tail.push_back("n");  // 7)
  tail.insert(tail.end(), {"n", "n", "n"});  // 11) 12) 13)
  return tail;
}

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(DialogueTest, DimensionIsAcceptedFromOneToNine) {
  const std::string file = Series("s.txt", 1, 60);
  Run(Join({file, "", "0", "10", "-1", "x", "1", "50", "0.1", "3"}, Close(1, true)));
  EXPECT_EQ(Count(Screen(), " 1) Dimension of vectors: D = "), 6);
  EXPECT_EQ(Count(Screen(), "  Incorrect input\n"), 5);
  EXPECT_NE(Screen().find("    The time series contains    60 vectors\n"), std::string::npos);
}

TEST_F(DialogueTest, TrailingValuesThatDoNotCompleteAVectorAreIgnored) {
  const std::string seven = File("seven.txt", "1\n2\n3\n4\n5\n6\n7\n");
  const std::string five = File("five.txt", "1\n2\n3\n4\n5\n");
  Run(Join({five, "3", seven, "3", "2", "1.", "2"}, Close(3, false, "0")));
  // Five values make one vector of three: a new choice of file, without a message.
  EXPECT_NE(Screen().find(" 1) Dimension of vectors: D = 3\n Open: Select File for Unit 1: "), std::string::npos);
  EXPECT_NE(Screen().find("    The time series contains     2 vectors\n"), std::string::npos);
  EXPECT_EQ(Count(Screen(), "Incorrect input"), 0);
}

TEST_F(DialogueTest, UnreadableOrMissingFilesLeadBackToTheChoiceOfTheFile) {
  const std::string bad = File("bad.txt", "1.0\n2.0\nabc\n4.0\n");
  const std::string blankLines = File("blank.txt", "1.0\n\n3.0\n   \n");  // blank lines read as 0
  Run(Join({(dir_ / "missing.txt").string(), bad, "1", blankLines, "1", "2", "1.", "2"}, Close(1, false, "0")));
  EXPECT_EQ(errors_.str(), "cannot open " + (dir_ / "missing.txt").string() + ": No such file or directory\n" +
                               "odefit: cannot read " + bad + ": line 3 \"abc\" is not a number\n" +
                               "odefit: warning: " + blankLines + ": 2 lines are blank and read as 0, the first at line 2\n" +
                               "odefit: warning: m = 2 is even: each smoothed state belongs to a sample and its slope to "
                               "the point half a sample later, so the fitted coefficients are biased; an odd m avoids it\n");
  EXPECT_NE(Screen().find(" 1) Dimension of vectors: D = 1\n  Incorrect input\n Open: Select File"),
            std::string::npos);
  EXPECT_NE(Screen().find("The time series contains     4 vectors"), std::string::npos);
}

TEST_F(DialogueTest, NoFileChosenAsksWhetherToTerminate) {
  EXPECT_EQ(Run({"", "Y", "n", "   ", "y"}), DialogueEnd::Terminated);
  EXPECT_EQ(Screen(),
            " Open: Select File for Unit 1: \n File Open Error\n A File Must be Selected\n\n"
            " Terminate Program? (y/n) Y\n  Incorrect input\n Terminate Program? (y/n) n\n"
            " Open: Select File for Unit 1:    \n File Open Error\n A File Must be Selected\n\n"
            " Terminate Program? (y/n) y\n");
  EXPECT_FALSE(fs::exists(dir_ / "report.txt"));
}

TEST_F(DialogueTest, TrainingLengthMustLieBetweenTwoAndN) {
  const std::string file = Series("s.txt", 2, 40);
  Run(Join({file, "2", "1", "41", "40", "0.1", "3"}, Close(2, false)));
  EXPECT_EQ(Count(Screen(), "  Incorrect input\n"), 2);
  // Ntrain = N: no test region, question 7 is never asked.
  EXPECT_EQ(Count(Screen(), "7) Check model efficiency?"), 0);
}

TEST_F(DialogueTest, SamplingIntervalUsesTheImpliedDecimalPoint) {
  const std::string file = Series("s.txt", 1, 30);
  Run(Join({file, "1", "20", "0", "-1", "5", "3"}, Close(1, true)));
  EXPECT_EQ(Count(Screen(), "  Incorrect input\n"), 2);
  EXPECT_NE(Report().find(" Sampling interval dt =    0.00000\n"), std::string::npos);
}

TEST_F(DialogueTest, DifferentiationPointsMayEqualNtrainAndRejectedValuesLeaveNoTrace) {
  const std::string file = Series("s.txt", 1, 30);
  Run(Join({file, "1", "20", "0.5", "1", "21", "5", "y", "20", "y", "7"}, Close(1, true)));
  EXPECT_EQ(Count(Screen(), "  Incorrect input\n"), 2);
  EXPECT_EQ(Count(Report(), "Number of points for differentiation"), 1);
  EXPECT_NE(Report().find(" Number of points for differentiation m =  7\n"), std::string::npos);
}

TEST_F(DialogueTest, SmallestTestRegionForcesTheSettingsQuestions) {
  // N - Ntrain = m + 1: only Ltest = 1 and Ktest = 1 fit, and the defaults do not.
  const std::string file = Series("s.txt", 1, 30);
  Run({file, "1", "26", "0.1", "3", "n", "1", "1", "y",
       "2", "1",          // Ltest: 2 refused, 1 accepted
       "2", "1",          // Ktest: 2 refused, 1 accepted (Stest not asked)
       "4", "1", "0.05",  // method 4 refused, Euler, h
       "y",               // 10) check again
       "n", "n", "n", "n", "n"});
  const std::string& screen = Screen();
  EXPECT_NE(screen.find(" 8) Current settings are:\n"
                        "    Ltest =   500, Ktest =    5, Stest =  100,\n"
                        "    Method: RK-4  , h = 0.1000\n"
                        " 9) The length of a test piece: Ltest = 2\n  Incorrect input\n"),
            std::string::npos)
      << screen;
  EXPECT_EQ(Count(screen, "Shift between test pieces"), 0);
  // The second display shows Stest forced to 1, and the settings now fit: the question is asked.
  EXPECT_NE(screen.find("    Ltest =     1, Ktest =    1, Stest =    1,\n"
                        "    Method: Euler , h = 0.0500\n"
                        "    Change settings? (y/n) n\n"),
            std::string::npos)
      << screen;
  EXPECT_EQ(Count(screen, "Error of approximation (test) (1): "), 2);
}

TEST_F(DialogueTest, StepsTooSmallForTheIntervalAreRefused) {
  // dt = 0.1: "1" reads as 1E-10 (1e9 steps per interval) and 1E-7 would take 1e6 steps.
  const std::string file = Series("s.txt", 1, 60);
  Run({file, "1", "40", "0.1", "3", "n", "1", "1", "y", "5", "1", "1", "0", "1", "1.e-7", "2.e-6",
       "n", "n", "n", "n"});
  EXPECT_EQ(Count(Screen(), "  Incorrect input\n"), 3) << Screen();
  EXPECT_NE(Screen().find("    Step of integration: h = 2.e-6\n Error of approximation (test)"), std::string::npos);
}

TEST_F(DialogueTest, NewTrainingLengthResetsTheStepToTheNewInterval) {
  const std::string file = Series("s.txt", 1, 300);
  Run({file, "1", "100", "0.1", "3", "n", "1", "1", "y", "10", "1", "2", "0.02", "n", "n",
       "y",  // 12) different Ntrain
       "120", "0.25", "3", "n", "1", "1", "y", "n", "n", "n", "n", "n"});
  EXPECT_NE(Screen().find("    Ltest =    10, Ktest =    1, Stest =    1,\n    Method: RK-4  , h = 0.2500\n"),
            std::string::npos)
      << Screen();
  EXPECT_EQ(Count(Report(), " Dimension of vectors D =  1\n"), 2);
}

TEST_F(DialogueTest, AnswersToYesNoQuestionsNeedALowerCaseFirstLetter) {
  const std::string file = Series("s.txt", 1, 30);
  Run({file, "1", "30", "0.1", "3", "Y", "", "x", "yes", "4", "no", "1", "1", "nope", "n", "n"});
  EXPECT_EQ(console_->AnswersLeft(), 0U);
  EXPECT_EQ(Count(Screen(), "  Incorrect input\n"), 3);
  EXPECT_EQ(Count(Screen(), " 4) Number of points for differentiation: m = "), 2);
}

TEST_F(DialogueTest, TheReportAccumulatesEveryRunAndTrainingBlock) {
  const std::string file = Series("s.txt", 1, 30);
  const std::vector<std::string> oneRun = {file, "1", "30", "0.1", "3", "n", "1", "0", "n", "y",
                                           "20", "0.1", "3", "n", "1", "0", "n", "n", "y",
                                           "25", "0.1", "3", "n", "1", "0", "n", "n", "n", "n"};
  Run(oneRun);
  const std::string first = Report();
  Run(oneRun);
  EXPECT_EQ(Report(), first + first);
  EXPECT_EQ(Count(first, " Dimension of vectors D =  1\n"), 3);
  const std::string closing = " !" + std::string(50, '*') + "!\n\n";
  EXPECT_EQ(first.substr(first.size() - closing.size()), closing);
  EXPECT_EQ(Count(first, "!*"), 1);
}

TEST_F(DialogueTest, EndOfInputKeepsWhatTheReportHolds) {
  const std::string file = Series("s.txt", 1, 30);
  EXPECT_THROW(Run({file, "1", "30", "0.1"}), InputEnded);
  EXPECT_EQ(Report(),
            " Dimension of vectors D =  1\n"
            " The number of vectors in a training time series Ntrain =     30\n"
            " Sampling interval dt =    0.10000\n");
}

TEST_F(DialogueTest, AnythingTypedAtAPromptIsReadByTheFieldRulesOrRefused) {
  const std::string file = Series("s.txt", 1, 30);
  const std::vector<std::string> refused = {
      "+", "-", ".", "e5", "1e", "\t1", "\xef\xbc\x91",  // sign, point or exponent alone; a tab; a full-width 1
      "\xe9", "\x1b[A", std::string(100000, '7'),       // Latin-1 byte, an escape sequence, 777777 > N
      std::string("1\0", 2), "0x1",                     // a NUL inside the field; hexadecimal
  };
  std::vector<std::string> answers = {file, "1"};
  answers.insert(answers.end(), refused.begin(), refused.end());
  answers.insert(answers.end(), {"  2 0 ", "0.1", "3", "n", "1", "1", "n", "n", "n", "n"});
  Run(answers);
  EXPECT_EQ(Count(Screen(), "  Incorrect input\n"), static_cast<int>(refused.size())) << Screen();
  // "  2 0 ": blanks are ignored, so Ntrain is 20.
  EXPECT_NE(Report().find(" The number of vectors in a training time series Ntrain =     20\n"), std::string::npos);
}

TEST_F(DialogueTest, UnwritableReportEndsTheRunWithItsReason) {
  const std::string file = Series("s.txt", 1, 30);
  console_ = std::make_unique<ScriptedConsole>(std::vector<std::string>{file, "1", "30", "0.1", "3", "n"});
  ConsoleFileDialogs dialogs(*console_, errors_);
  ReportFile report("/dev/full");
  try {
    RunMainDialogue(*console_, dialogs, layer_, report);
    ADD_FAILURE() << "the run went on";
  } catch (const ReportError& e) {
    EXPECT_EQ(std::string(e.what()), "cannot write the report file /dev/full: No space left on device");
  }
}

TEST_F(DialogueTest, ModelMenuOffersTheReducedPolynomialOnlyForTwoVariables) {
  const std::string one = Series("one.txt", 1, 30);
  Run({one, "1", "30", "0.1", "3", "n", "4", "1", "1", "n", "n", "n"});
  EXPECT_EQ(Count(Screen(), "4 - reduced polynomial"), 0);
  EXPECT_EQ(Count(Screen(), "  Incorrect input\n"), 1);

  const std::string two = Series("two.txt", 2, 30);
  Run({two, "2", "30", "0.1", "3", "n", "4", "0", "0", "4", "1", "1", "n", "n", "n"});
  EXPECT_NE(Screen().find("    3 - rational\n    4 - reduced polynomial\n    Select a function for the 1 equation: "),
            std::string::npos);
}

TEST_F(DialogueTest, OrdersAreTestedAgainstTheRowsOfTheFit) {
  // Ntrain 12 and m 3 give Nfit = 10.
  const std::string two = Series("two.txt", 2, 12);
  Run({two, "2", "12", "0.1", "3", "n",
       "4", "9", "8", "1", "0",  // first order 9 refused (10 is not < 10); with 8 only mu = 0 fits
       "1", "3",                 // order 3 has exactly 10 terms
       "n", "n", "n"});
  EXPECT_EQ(console_->AnswersLeft(), 0U);
  EXPECT_NE(Screen().find("    Order of the first polynomial: 9\n  Incorrect input\n"
                          "    Order of the first polynomial: 8\n"
                          "    Order of the second polynomial: 1\n  Incorrect input\n"
                          "    Order of the second polynomial: 0\n"),
            std::string::npos)
      << Screen();
}

TEST_F(DialogueTest, PolynomialWithMoreTermsThanRowsIsRefused) {
  // Ntrain 7, m 3: Nfit = 5 < 6 terms of order 2 in two variables.
  const std::string two = Series("two.txt", 2, 8);
  Run({two, "2", "7", "0.1", "3", "n", "1", "2", "1", "1", "-1", "34", "1", "n", "n", "n", "n"});
  EXPECT_EQ(Count(Screen(), "  Incorrect input\n"), 3);
}

TEST_F(DialogueTest, OrdersBeyondTheFactorialRangeOrAThousandTermsAreRefused) {
  const std::string three = Series("three.txt", 3, 1200);
  Run({three, "3", "1200", "0.1", "3", "n",
       "1", "32", "17", "16",  // 32 + 3 > 34; C(20, 3) = 1140 > 1000; C(19, 3) = 969 fits
       "3", "17", "13", "13", "2",  // rational: numerator 1140 refused; 560 + 559 refused; 560 + 9
       "1", "0", "n", "n", "n"});
  EXPECT_EQ(Count(Screen(), "  Incorrect input\n"), 4) << Screen();
  EXPECT_EQ(errors_.str(), "");
  EXPECT_EQ(model_.Equation(1).nterms, 969);
  EXPECT_EQ(model_.Equation(2).nterms, 560 + 9);
}

TEST_F(DialogueTest, DrivingPeriodMustBePositiveAndUsesTheImpliedDecimalPoint) {
  const std::string one = Series("one.txt", 1, 60);
  Run({one, "1", "60", "0.1", "3", "n", "2", "1", "0", "-5", "25.", "n", "n", "n"});
  EXPECT_EQ(Count(Screen(), "  Incorrect input\n"), 2);
  const ModelEquation& eq = model_.Equation(1);
  EXPECT_EQ(eq.nterms, 4);
  EXPECT_DOUBLE_EQ(eq.we, 2.0 * M_PI / (25.0 * 0.1));
  EXPECT_DOUBLE_EQ(eq.wdt, 2.0 * M_PI / 25.0);
  EXPECT_NE(Report().find(" Driving frequency we =         2.5132741229\n"), std::string::npos) << Report();
}

TEST_F(DialogueTest, RationalBlockLayout) {
  const std::string two = Series("two.txt", 2, 40);
  Run({two, "2", "40", "0.1", "3", "n", "3", "1", "1", "1", "0", "n", "n", "n"});
  std::istringstream report(Report());
  std::vector<std::string> lines;
  for (std::string line; std::getline(report, line);) lines.push_back(line);
  ASSERT_GE(lines.size(), 18U);
  EXPECT_EQ(lines[4], "");
  EXPECT_EQ(lines[5], " The type of function for the 1 equation: ");
  EXPECT_EQ(lines[6], " rational" + std::string(52, ' '));
  EXPECT_EQ(lines[7], " Numerator polynomial order: nu =  1");
  EXPECT_EQ(lines[8], " Denominator polynomial order: mu =  1");
  EXPECT_EQ(lines[9], " Coefficients of the 1 equation:");
  for (int k = 10; k < 15; ++k) {
    EXPECT_EQ(lines[k].size(), 20U) << lines[k];
    EXPECT_EQ(lines[k][9], '.') << lines[k];
  }
  EXPECT_EQ(lines[15].substr(0, 25), " Error of approximation: ");
  EXPECT_EQ(lines[15].size(), 25U + 20U + 2U);
  EXPECT_EQ(lines[15].substr(45), " %");
  // Equation 2: a standard polynomial of order 1 has three coefficients.
  EXPECT_EQ(lines[16], "");
  EXPECT_EQ(lines[18], " standard polynomial" + std::string(41, ' '));
  EXPECT_EQ(lines[19], " Polynomial order nu =  0");
}

TEST_F(DialogueTest, SingularFitEndsTheRunAndKeepsTheReport) {
  std::string text;
  for (int k = 0; k < 40; ++k) text += "0.0\n" + std::to_string(std::sin(0.2 * k)) + "\n";
  const std::string file = File("zero.txt", text);
  EXPECT_THROW(Run({file, "2", "40", "0.1", "3", "n", "4", "0", "0", "1", "1"}), RunStopped);
  EXPECT_NE(errors_.str().find("FATAL    ERROR 1 from DLQRSL."), std::string::npos);
  EXPECT_NE(Report().find(" Number of points for differentiation m =  3\n"), std::string::npos);
  // After the message, the terms behind it, by name.
  const std::string note =
      "odefit: equation 1 cannot be fitted: its term x1 is zero on every training row; choose another family or "
      "another order\n";
  EXPECT_EQ(errors_.str().substr(errors_.str().size() - note.size()), note);

  // A quadratic in (x1, x2) with x1 = 0 throughout: three zero columns.
  reporter_.Reset();  // as a new process would start
  errors_.str("");
  EXPECT_THROW(Run({file, "2", "40", "0.1", "3", "n", "1", "2", "1", "1"}), RunStopped);
  EXPECT_NE(errors_.str().find("odefit: equation 1 cannot be fitted: its terms x1, x1^2 and x1*x2 are zero on "
                               "every training row; choose another family or another order\n"),
            std::string::npos)
      << errors_.str();
  EXPECT_EQ(Screen().find("odefit: "), std::string::npos);
  EXPECT_EQ(Report().find("odefit: "), std::string::npos);
}

// Answers that the field rules read otherwise than they were typed, and steps
// that do not cover the sampling interval: each accepted as the rules read it, with
// one warning line on the error stream, never on the screen or in the report.
TEST_F(DialogueTest, AnswersReadOtherwiseThanTypedAreWarnedAboutOnTheErrorStreamOnly) {
  const std::string file = Series("s.txt", 1, 60);
  // Ntrain with a seventh digit, dt and a driving period without their point,
  // an order with a third digit.
  Run({file, "1", "1234567", "40", "1", "3", "n", "2", "999", "1", "25", "n", "n", "n", "n"});
  const std::string screen = Screen();
  EXPECT_EQ(errors_.str(),
            "odefit: warning: Ntrain = 1234567 was read as 123456: only its first 6 characters count\n"
            "odefit: warning: dt = 1 was read as 1.0E-10: type 1. or 1.0 (a number without a decimal point has 10 "
            "implied decimals)\n"
            "odefit: warning: Order of the polynomial: 999 was read as 99: only its first 2 characters count\n"
            "odefit: warning: Period of driving (in dt units): 25 was read as 2.5E-09: type 25. or 25.0 (a number "
            "without a decimal point has 10 implied decimals)\n");
  EXPECT_NE(screen.find(" 2) Length of a training series: Ntrain = 1234567\n  Incorrect input\n"), std::string::npos);
  EXPECT_NE(Report().find(" Sampling interval dt =    0.00000\n"), std::string::npos);

  // Steps of integration: larger than dt, not a divisor of it, a divisor only
  // up to rounding (the integrators' own loop ends early), and for RK-5,6,
  // which chooses its own steps, nothing.
  errors_.str("");
  Run({file, "1", "40", "0.1", "3", "n", "1", "1", "y",     //
       "5", "2", "5", "2", "0.2", "y", "y",                 // RK-4, h = 2 dt
       "5", "2", "5", "1", "0.03", "y", "y",                // Euler, h = 0.03
       "5", "2", "5", "2", "0.025", "y", "y",               // RK-4, h = dt / 4
       "5", "2", "5", "2", "0.1", "y", "y",                 // h = dt
       "5", "2", "5", "3", "0.2", "n", "n", "n", "n"});
  EXPECT_EQ(errors_.str(),
            "odefit: warning: h = 0.2 is larger than dt = 0.1: no step of h fits in a sampling interval, so every "
            "interval is one Euler step of length dt and RK-4 is never used; h = dt avoids it\n"
            "odefit: warning: h = 0.03 does not divide dt = 0.1: every sampling interval of the test takes 3 steps "
            "of h (Euler) and then one closing Euler step of about 0.01; h = dt avoids it\n"
            "odefit: warning: h = 0.025 divides dt = 0.1 only up to rounding: every sampling interval of the test "
            "takes 3 steps of h (RK-4) and then one closing Euler step of about 0.025; h = dt avoids it\n");
  for (const std::string& text : {screen, Screen(), Report()}) EXPECT_EQ(text.find("odefit: "), std::string::npos);
}

// Why a series file is refused, and which of its values were probably misread.
TEST_F(DialogueTest, RefusedSeriesFilesSayWhyAndMisreadValuesAreNamed) {
  const std::string empty = File("empty.txt", "");
  const std::string shortFile = File("short.txt", "1.0\n2.0\n3.0\n");
  const std::string bad = File("bad.txt", "1.0\n1.5 2.5\n");
  const std::string ints = File("ints.txt", "12\n0\n-7\n3.5\n1e2\n4.25\n5.5\n6.0\n");
  Run({empty, "1", shortFile, "2", bad, "1", ints, "1", "4", "1.", "3", "n", "1", "1", "n", "n", "n", "n"});
  EXPECT_EQ(errors_.str(), "odefit: " + empty + " holds no numbers\n" +  //
                               "odefit: " + shortFile +
                               " holds 3 numbers, 1 vector of D = 2: at least 2 vectors are needed\n" +
                               "odefit: cannot read " + bad + ": line 2 \"1.5 2.5\" is not a number\n" +
                               "odefit: warning: " + ints +
                               ": 3 lines have no decimal point, which gives 10 implied decimals: line 1 \"12\" was "
                               "read as 1.2E-09; write 12. or 12.0\n");
  // The screen is as before: " Incorrect input" only for the unreadable file.
  EXPECT_EQ(Count(Screen(), "Incorrect input"), 1);
  EXPECT_EQ(Count(Screen(), " Open: Select File for Unit 1: "), 4);

  // numpy's savetxt writes "%.18e": 24 or 25 characters, so the exponent is
  // cut off and 25 reads as 2.5.
  std::string savetxt;
  for (int k = 0; k < 30; ++k) {
    char line[40];
    std::snprintf(line, sizeof line, "%.18e\n", (k + 1) * 2.5);
    savetxt += line;
  }
  savetxt += "\n";  // and a blank line at the end, read as 0
  const std::string cut = File("savetxt.txt", savetxt);
  errors_.str("");
  Run({cut, "1", "20", "0.1", "3", "n", "1", "1", "n", "n", "n", "n"});
  EXPECT_EQ(errors_.str(), "odefit: warning: " + cut +
                               ": 30 lines have characters past column 20, which are ignored: line 1 "
                               "\"2.500000000000000000e+00\" was read as 2.5 from \"2.500000000000000000\"; keep "
                               "every value within 20 characters\n" +
                               "odefit: warning: " + cut + ": 1 line is blank and read as 0, the first at line 31\n");
  EXPECT_NE(Screen().find("The time series contains    31 vectors"), std::string::npos);
  EXPECT_EQ(Screen().find("odefit: "), std::string::npos);
  EXPECT_EQ(Report().find("odefit: "), std::string::npos);
}

TEST(PromptTest, FieldsFollowTheFixedWidthRules) {
  struct Case {
    const char* format;
    const char* answer;
    double expected;
  };
  const Case cases[] = {
      {"(I2)", "123", 12},   {"(I2)", "", 0},        {"(I2)", " 7", 7},      {"(I6)", "1 2", 12},
      {"(I6)", "-5", -5},    {"(F20.10)", "5", 5e-10}, {"(F20.10)", "0.5", 0.5}, {"(F20.10)", "1.", 1.0},
      {"(F20.10)", "1e3", 1e-7}, {"(F20.10)", "2.5D1", 25.0},
  };
  std::ostringstream warnings;
  ErrorReporter reporter(&warnings);
  const ErrorReporterScope divert(reporter);
  for (const Case& c : cases) {
    ScriptedConsole console({c.answer});
    if (c.format[1] == 'I') {
      int value = -99;
      PromptInteger(console, c.format, "Q: ", value);
      EXPECT_EQ(value, static_cast<int>(c.expected)) << c.format << " " << c.answer;
    } else {
      double value = -99;
      PromptReal(console, c.format, "Q: ", value);
      EXPECT_DOUBLE_EQ(value, c.expected) << c.answer;
    }
    EXPECT_EQ(console.Transcript(), std::string(" Q: ") + c.answer + "\n");
  }
  // What was read otherwise than typed is told, with how to type it.
  EXPECT_EQ(warnings.str(),
            "odefit: warning: Q: 123 was read as 12: only its first 2 characters count\n"
            "odefit: warning: Q: 5 was read as 5.0E-10: type 5. or 5.0 (a number without a decimal point has 10 "
            "implied decimals)\n"
            "odefit: warning: Q: 1e3 was read as 1.0E-07: type 1.e3 or 1.0e3 (a number without a decimal point has "
            "10 implied decimals)\n");
}

TEST(PromptTest, UnreadableAnswersAreAskedAgain) {
  ScriptedConsole console({"a", "1.5", "+", "3"});
  int value = 0;
  PromptInteger(console, "(I6)", "N = ", value);
  EXPECT_EQ(value, 3);
  EXPECT_EQ(console.Transcript(),
            " N = a\n  Incorrect input\n N = 1.5\n  Incorrect input\n N = +\n  Incorrect input\n N = 3\n");
  ScriptedConsole empty({});
  EXPECT_THROW(PromptInteger(empty, "(I6)", "N = ", value), InputEnded);
}

TEST(SeriesFileTest, RecordEndsAreAllAlikeAndColumnsBeyondTwentyAreIgnored) {
  const fs::path path = fs::temp_directory_path() / ("odefit-series-" + std::to_string(::getpid()));
  std::ofstream(path, std::ios::binary) << "1.0\r\n2.0\r3.0\n12\n5.0                 remark\n\n";
  SeriesFile file;
  std::string reason;
  ASSERT_TRUE(file.Open(path.string(), reason));
  EXPECT_EQ(file.CountRecords(), 6);
  std::vector<double> values(6);
  file.ReadTrainingSeries(2, 3, values);
  EXPECT_EQ(values, (std::vector<double>{1.0, 2.0, 3.0, 1.2e-9, 5.0, 0.0}));
  fs::remove(path);
  EXPECT_FALSE(file.Open(fs::temp_directory_path().string(), reason));
  EXPECT_EQ(reason, "Is a directory");
}

}  // namespace
}  // namespace odefit
