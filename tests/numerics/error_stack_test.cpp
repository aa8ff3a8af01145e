#include "numerics/error_stack.h"

#include <gtest/gtest.h>

#include <iostream>
#include <new>
#include <sstream>
#include <string>
#include <thread>

namespace odefit {
namespace {

// Each test's messages go to out_ through a reporter of its own, bound to the test's thread.
class ErrorStackTest : public ::testing::Test {
 protected:
  std::string Printed() const { return out_.str(); }

  std::ostringstream out_;
  ErrorReporter reporter_{&out_};
  ErrorReporterScope bind_{reporter_};
};

// One traceback row: the name in 32 characters, type and code in I6 with six blanks between.
std::string Row(const std::string& name, int type, int code, bool internal) {
  std::string row = "     " + name + std::string(32 - name.size(), ' ');
  auto i6 = [](int v) {
    std::string s = std::to_string(v);
    return std::string(6 - s.size(), ' ') + s;
  };
  row += i6(type) + std::string(6, ' ') + i6(code);
  if (internal) row += "    (Called internally)";
  return row + "\n";
}

const std::string kTracebackHead =
    "     Here is a traceback of subprogram calls in reverse order:\n"
    "     Routine name                    Error type  Error code\n"
    "     ------------                    ----------  ----------\n";

TEST_F(ErrorStackTest, FatalErrorOfADirectlyCalledRoutinePrintsAtReturnWithoutTracebackAndStops) {
  E1PSH("DLQRSL ");
  SetErrorInteger(1, 1);
  E1MES(ErrorType::Fatal, 1,
        "Computation of the least squares solution has been requested but the upper triangular "
        "matrix R is exactly singular; the index of the first zero diagonal element of R is %(I1).");
  EXPECT_EQ(Printed(), "");
  EXPECT_THROW(E1POP("DLQRSL "), RunStopped);
  EXPECT_EQ(Printed(),
            "\n"
            " *** FATAL    ERROR 1 from DLQRSL.  Computation of the least squares solution\n"
            " ***          has been requested but the upper triangular matrix R is exactly \n"
            " ***          singular; the index of the first zero diagonal element of R is \n"
            " ***          1.\n");
}

TEST_F(ErrorStackTest, TerminalErrorInAnInnerRoutinePrintsAtOnceWithTraceback) {
  E1PSH("OUTER");
  E1PSH("dL2RRR ");
  E1MES(ErrorType::Terminal, 3, "Something went wrong.");
  EXPECT_EQ(Printed(), "\n *** TERMINAL ERROR 3 from DL2RRR.  Something went wrong.\n" + kTracebackHead +
                           Row("DL2RRR", 5, 3, true) + Row("OUTER", 0, 0, false) + Row("USER", 0, 0, false));
  EXPECT_THROW(E1POP("dL2RRR "), RunStopped);
}

TEST_F(ErrorStackTest, UserCallableInnerRoutineIsNotMarkedInternal) {
  E1PSH("OUTER");
  E1USR("ON");
  E1PSH("INNER");
  E1MES(ErrorType::Terminal, 3, "Something went wrong.");
  EXPECT_EQ(Printed(), "\n *** TERMINAL ERROR 3 from INNER.  Something went wrong.\n" + kTracebackHead +
                           Row("INNER", 5, 3, false) + Row("OUTER", 0, 0, false) + Row("USER", 0, 0, false));
}

TEST_F(ErrorStackTest, WarningOfAnInternalRoutineIsPrintedWhenItsCallerReturns) {
  E1PSH("OUTER");
  E1PSH("INNER");
  E1MES(ErrorType::Warning, 7, "Watch out.");
  E1POP("INNER");
  EXPECT_EQ(Printed(), "");
  EXPECT_NO_THROW(E1POP("OUTER"));
  EXPECT_EQ(Printed(), "\n *** WARNING  ERROR 7 from OUTER.  Watch out.\n");
  EXPECT_EQ(reporter_.Level(), 1);
  EXPECT_EQ(N1RCD(1), 7);
  EXPECT_EQ(N1RTY(1), 3);
}

TEST_F(ErrorStackTest, NoteAndAlertAreNeverPrintedButTheirCodesAreReturned) {
  E1PSH("ROUT");
  E1MES(ErrorType::Note, 11, "A note.");
  EXPECT_EQ(N1RCD(0), 11);
  EXPECT_EQ(N1RTY(0), 1);
  E1POP("ROUT");
  EXPECT_EQ(N1RCD(1), 11);
  E1PSH("ROUT");
  E1MES(ErrorType::Alert, 12, "An alert.");
  E1POP("ROUT");
  EXPECT_EQ(N1RCD(1), 12);
  EXPECT_EQ(N1RTY(1), 2);
  EXPECT_EQ(Printed(), "");
}

TEST_F(ErrorStackTest, ParameterReferencesAreReplacedWithoutRegardToCase) {
  E1PSH("ROUT");
  SetErrorInteger(1, 7);
  SetErrorInteger(0, 99);   // outside 1..9: dropped
  SetErrorInteger(10, 99);  // likewise
  E1MES(ErrorType::Terminal, 1, "A %(I1) b %(i1) c %(I2) d %(L1).");
  EXPECT_EQ(Printed(), "\n *** TERMINAL ERROR 1 from ROUT.  A 7 b 7 c %(I2) d %(L1).\n");
}

TEST_F(ErrorStackTest, ParameterValueTexts) {
  E1PSH("ROUT");
  auto printedWith = [this](auto set, const char* reference) {
    out_.str("");
    set();
    E1MES(ErrorType::Terminal, 1, reference);
    return Printed();
  };
  const std::string head = "\n *** TERMINAL ERROR 1 from ROUT.  ";
  EXPECT_EQ(printedWith([] { SetErrorReal(1, 1.5F); }, "%(R1)"), head + "1.500000E+00\n");
  EXPECT_EQ(printedWith([] { SetErrorReal(1, 0.0F); }, "%(R1)"), head + "0.000000E+00\n");
  EXPECT_EQ(printedWith([] { SetErrorDouble(2, 1.5); }, "%(D2)"), head + "1.500000000000000D+00\n");
  EXPECT_EQ(printedWith([] { SetErrorDouble(2, -0.000123); }, "%(D2)"), head + "-1.230000000000000D-04\n");
  EXPECT_EQ(printedWith([] { SetErrorText(5, "NAME   "); }, "'%(L5)'"), head + "'NAME'\n");
  EXPECT_EQ(printedWith([] { SetErrorText(5, "   "); }, "'%(L5)'"), head + "' '\n");
  EXPECT_EQ(printedWith([] { SetErrorInteger(9, -42); }, "%(I9)"), head + "-42\n");
}

TEST_F(ErrorStackTest, ParametersAreForgottenAfterEachMessage) {
  E1PSH("ROUT");
  SetErrorInteger(1, 7);
  E1MES(ErrorType::Warning, 1, "first %(I1)");
  E1MES(ErrorType::Terminal, 2, "second %(I1)");
  EXPECT_EQ(Printed(), "\n *** TERMINAL ERROR 2 from ROUT.  second %(I1)\n");
}

TEST_F(ErrorStackTest, ParameterListDropsEntriesBeyondItsCapacity) {
  E1PSH("ROUT");
  SetErrorText(1, std::string(250, 'a'));
  SetErrorText(2, std::string(60, 'b'));  // does not fit any more
  SetErrorInteger(3, 5);                  // still fits
  E1MES(ErrorType::Terminal, 1, "%(L2)%(I3)");
  EXPECT_EQ(Printed(), "\n *** TERMINAL ERROR 1 from ROUT.  %(L2)5\n");
}

TEST_F(ErrorStackTest, BlankTemplateKeepsThePendingMessage) {
  E1PSH("ROUT");
  E1MES(ErrorType::Note, 1, "kept text");
  E1MES(kKeepErrorType, -1, " ");
  E1MES(ErrorType::Terminal, -1, "");
  EXPECT_EQ(Printed(), "\n *** TERMINAL ERROR 1 from ROUT.  kept text\n");
}

TEST_F(ErrorStackTest, LongMessageWithoutBlanksIsCutIntoLinesOf64) {
  E1PSH("ROUT");
  E1MES(ErrorType::Terminal, 1, std::string(200, 'x'));
  const std::string x64(64, 'x');
  EXPECT_EQ(Printed(), "\n *** TERMINAL ERROR 1 from ROUT. \n ***          " + x64 + "\n ***          " + x64 +
                           "\n ***          " + x64 + "\n ***          xxxxxxxx\n");
}

TEST_F(ErrorStackTest, LineBreakMarkersEndLinesAndAreNotPrinted) {
  E1PSH("ROUT");
  E1MES(ErrorType::Terminal, 2, "First part.%/ Second part keeps its blank.%/Third.");
  EXPECT_EQ(Printed(),
            "\n *** TERMINAL ERROR 2 from ROUT.  First part.\n"
            " ***           Second part keeps its blank.\n"
            " ***          Third.\n");
}

TEST_F(ErrorStackTest, ContinuationLinesBreakAtTheLastBlankAndKeepIt) {
  E1PSH("ROUT");
  // 40 words of "abcd ". The first line's room is 59 - len(" 1 from ROUT") = 47 characters, which
  // ".  " and nine words fill exactly; the line still ends at the last blank inside the room.
  std::string words;
  for (int i = 0; i < 40; ++i) words += "abcd ";
  E1MES(ErrorType::Terminal, 1, words);
  EXPECT_EQ(Printed(),
            "\n *** TERMINAL ERROR 1 from ROUT.  abcd abcd abcd abcd abcd abcd abcd abcd\n"
            " ***          abcd abcd abcd abcd abcd abcd abcd abcd abcd abcd abcd abcd \n"
            " ***          abcd abcd abcd abcd abcd abcd abcd abcd abcd abcd abcd abcd \n"
            " ***          abcd abcd abcd abcd abcd abcd abcd abcd \n");
}

TEST_F(ErrorStackTest, TheFiftyFirstLevelOverflowsTheStack) {
  for (int level = 2; level <= 50; ++level) {
    std::string name = "R";
    name += std::to_string(level);
    E1PSH(name);
  }
  EXPECT_EQ(reporter_.Level(), 50);
  EXPECT_THROW(E1PSH("R51"), RunStopped);
  const std::string printed = Printed();
  EXPECT_EQ(printed.rfind(
                "\n *** TERMINAL ERROR 1 from R50.  Error condition in E1PSH.  Push would cause\n"
                " ***          stack level to exceed 50. \n",
                0),
            0U)
      << printed;
  EXPECT_NE(printed.find(Row("R50", 5, 1, true)), std::string::npos);
}

TEST_F(ErrorStackTest, PopWithTheWrongNameStopsUnderTheStackedName) {
  E1PSH("ROUT");
  EXPECT_THROW(E1POP("OTHER"), RunStopped);
  EXPECT_EQ(Printed(),
            "\n *** TERMINAL ERROR 2 from ROUT.  Error condition in E1POP.  OTHER does not\n"
            " ***          match the name ROUT in the stack.\n");
}

TEST_F(ErrorStackTest, PopFromAnEmptyStackStops) {
  EXPECT_THROW(E1POP("ROUT"), RunStopped);
  EXPECT_EQ(Printed(),
            "\n *** TERMINAL ERROR 1 from E1POP.  Error condition in E1POP.  Cannot pop from\n"
            " ***          ROUT because stack is empty.\n");
}

TEST_F(ErrorStackTest, ImmediateWarningDoesNotStopButImmediateFatalDoes) {
  E1PSH("ROUT");
  E1MES(ErrorType::ImmediateWarning, 4, "Careful.");
  EXPECT_EQ(Printed(), "\n *** WARNING  ERROR 4 from ROUT.  Careful.\n");
  EXPECT_NO_THROW(E1POP("ROUT"));
  E1PSH("ROUT");
  E1MES(ErrorType::ImmediateFatal, 5, "Broken.");
  EXPECT_THROW(E1POP("ROUT"), RunStopped);
}

TEST_F(ErrorStackTest, UnknownTypeIsPrintedWithItsWord) {
  E1PSH("OUTER");
  E1USR("ON");
  E1PSH("ROUT");
  E1MES(static_cast<ErrorType>(9), 1, "Odd.");
  E1POP("ROUT");
  EXPECT_EQ(Printed().substr(0, 45), "\n *** UNKNOWN  ERROR 1 from ROUT.  Odd.\n     ");
}

TEST_F(ErrorStackTest, InvalidSwitchAndOptionsStop) {
  E1PSH("ROUT");
  E1USR("maybe");
  EXPECT_EQ(Printed(),
            // The room ends after the first of two blanks: the line keeps that one.
            "\n *** TERMINAL ERROR 1 from ROUT.  Invalid value for SWITCH in call to E1USR. \n"
            " ***          SWITCH must be set to 'ON' or 'OFF'.  SWITCH = 'maybe' \n");
  EXPECT_THROW(E1POP("ROUT"), RunStopped);

  reporter_.Reset();
  out_.str("");
  EXPECT_THROW(N1RCD(2), RunStopped);
  EXPECT_EQ(Printed(), "\n *** TERMINAL ERROR 1 from USER.  The argument passed to N1RCD must be 0 or 1.\n");
}

TEST_F(ErrorStackTest, MachineConstantsAndChannels) {
  const int expected[] = {32, 4, 2, 31, 2147483647, 2, 24, -125, 128, 53, -1021, 1024};
  for (int n = 1; n <= 12; ++n) EXPECT_EQ(IMACH(n), expected[n - 1]) << n;
  int channel = 0;
  UMACH(1, channel);
  EXPECT_EQ(channel, 5);
  UMACH(3, channel);
  EXPECT_EQ(channel, 6);
  channel = 9;
  UMACH(-3, channel);
  channel = 0;
  UMACH(3, channel);
  EXPECT_EQ(channel, 9);

  EXPECT_THROW(IMACH(13), RunStopped);
  EXPECT_EQ(Printed(),
            "\n *** TERMINAL ERROR 5 from IMACH.  The argument\n"
            " ***          must be between 1 and 12 inclusive.\n"
            " ***          N =     13.\n\n");
  out_.str("");
  EXPECT_THROW(UMACH(-4, channel), RunStopped);
  EXPECT_EQ(Printed(),
            "\n *** TERMINAL ERROR 5 from UMACH.  The absolute\n"
            " ***          value of the index variable must be\n"
            " ***          1, 2, or 3.  IABS(N) =      4.\n\n");
}

TEST_F(ErrorStackTest, ACaughtStopLeavesTheLevelWhereTheStoppingRoutineWasEntered) {
  E1PSH("OUTER");
  E1PSH("INNER");
  E1MES(ErrorType::Fatal, 3, "Too many steps.");
  E1POP("INNER");
  EXPECT_THROW(E1POP("OUTER"), RunStopped);
  EXPECT_EQ(reporter_.Level(), 1);
  EXPECT_EQ(N1RTY(1), 4);  // the stopped routine's result stays readable
  EXPECT_EQ(N1RCD(1), 3);
  out_.str("");
  E1PSH("NEXT");
  E1POP("NEXT");
  EXPECT_EQ(Printed(), "");
}

// --- Routine scopes ---------------------------------------------------------------------------

// A routine that records `type` with code 7 inside a scope of its own.
void Recording(ErrorType type) {
  RoutineScope routine("RECORDS ");
  E1MES(type, 7, "Recorded.");
}

// A routine at the next level that calls `inner` inside its scope.
template <typename Inner>
void Calling(Inner inner) {
  RoutineScope routine("CALLS ");
  inner();
}

TEST_F(ErrorStackTest, ScopeOfARoutineThatReturnsPopsAndPrintsAsE1Pop) {
  Recording(ErrorType::Warning);
  EXPECT_EQ(reporter_.Level(), 1);
  EXPECT_EQ(Printed(), "\n *** WARNING  ERROR 7 from RECORDS.  Recorded.\n");
  EXPECT_EQ(N1RCD(1), 7);
  EXPECT_THROW(Recording(ErrorType::Fatal), RunStopped);
  EXPECT_EQ(reporter_.Level(), 1);
}

TEST_F(ErrorStackTest, StopInsideNestedRoutinesLeavesTheCallersLevel) {
  E1PSH("CALLER");
  // A terminal error two levels down prints at once and stops at the inner
  // routine's return; the outer routine is left by the exception.
  EXPECT_THROW(Calling([] { Recording(ErrorType::Terminal); }), RunStopped);
  EXPECT_EQ(reporter_.Level(), 2);
  EXPECT_NE(Printed().find("TERMINAL ERROR 7 from RECORDS.  Recorded."), std::string::npos) << Printed();
  EXPECT_EQ(N1RTY(0), 0);
  // A fatal error of an internal routine travels down and stops at the first user-callable level.
  out_.str("");
  E1USR("ON");
  EXPECT_THROW(Calling([] { Recording(ErrorType::Fatal); }), RunStopped);
  EXPECT_EQ(reporter_.Level(), 2);
  EXPECT_NE(Printed().find("FATAL    ERROR 7 from CALLS.  Recorded."), std::string::npos) << Printed();
  // CALLS returned with its error before stopping, so CALLER inherited it;
  // the terminal error before ended inside CALLS, which never returned.
  EXPECT_EQ(N1RTY(0), 4);
  EXPECT_THROW(E1POP("CALLER"), RunStopped);
  EXPECT_EQ(reporter_.Level(), 1);
}

TEST_F(ErrorStackTest, AnyExceptionThroughRoutinesDropsTheirLevelsSilently) {
  EXPECT_THROW(Calling([] {
                 RoutineScope routine("ALLOCATES ");
                 E1MES(ErrorType::Warning, 2, "Pending, never printed.");
                 throw std::bad_alloc();
               }),
               std::bad_alloc);
  EXPECT_EQ(reporter_.Level(), 1);
  EXPECT_EQ(Printed(), "");
  // Nothing of the dropped routines is left pending for the next one.
  Calling([] {});
  E1PSH("ROUT");
  E1MES(ErrorType::Terminal, -1, "");
  EXPECT_EQ(Printed(), "");
  E1MES(kNoError, 0, "");
  E1POP("ROUT");
}

TEST_F(ErrorStackTest, ScopeWhoseNameWasPushedOverStopsAndStillBalances) {
  EXPECT_THROW(Calling([] { E1PSH("FORGOTTEN"); }), RunStopped);
  EXPECT_EQ(Printed(),
            "\n *** TERMINAL ERROR 2 from FORGOTTEN.  Error condition in E1POP.  CALLS does\n"
            " ***          not match the name FORGOTTEN in the stack.\n"
            "     Here is a traceback of subprogram calls in reverse order:\n"
            "     Routine name                    Error type  Error code\n"
            "     ------------                    ----------  ----------\n" +
                Row("FORGOTTEN", 5, 2, true) + Row("CALLS", 0, 0, false) + Row("USER", 0, 0, false));
  EXPECT_EQ(reporter_.Level(), 1);
}

TEST_F(ErrorStackTest, OverflowInAScopesPushLeavesTheLevelsBalanced) {
  for (int level = 2; level <= 50; ++level) E1PSH("FULL");
  EXPECT_THROW(Calling([] {}), RunStopped);
  EXPECT_EQ(reporter_.Level(), 50);
}

// --- The reporter object ----------------------------------------------------------------------

TEST_F(ErrorStackTest, LastMessageIsTheNewestPrintedText) {
  EXPECT_EQ(reporter_.LastMessage(), "");
  Recording(ErrorType::Note);  // not printed
  EXPECT_EQ(reporter_.LastMessage(), "");
  Recording(ErrorType::ImmediateWarning);
  EXPECT_EQ(reporter_.LastMessage(), Printed());
  out_.str("");
  EXPECT_THROW(IMACH(0), RunStopped);
  EXPECT_EQ(reporter_.LastMessage(), Printed());
  reporter_.Reset();
  EXPECT_EQ(reporter_.LastMessage(), "");
}

TEST_F(ErrorStackTest, ReporterWithoutStreamPrintsNowhereButDecidesAlike) {
  ErrorReporter silent(nullptr);
  ErrorReporterScope bind(silent);
  EXPECT_THROW(Recording(ErrorType::Terminal), RunStopped);
  EXPECT_EQ(silent.LastMessage(), "\n *** TERMINAL ERROR 7 from RECORDS.  Recorded.\n");
  EXPECT_EQ(silent.Level(), 1);
  EXPECT_EQ(Printed(), "");
}

TEST_F(ErrorStackTest, CopiesAreIndependent) {
  E1PSH("OUTER");
  ErrorReporter copy(reporter_);
  EXPECT_TRUE(copy.SameVisibleState(reporter_));
  EXPECT_EQ(copy.Output(), &out_);
  {
    ErrorReporterScope bind(copy);
    E1PSH("INNER");
    EXPECT_EQ(CurrentErrorReporter().Level(), 3);
  }
  EXPECT_EQ(reporter_.Level(), 2);
  EXPECT_EQ(copy.Level(), 3);
  EXPECT_FALSE(copy.SameVisibleState(reporter_));
  copy = reporter_;
  EXPECT_TRUE(copy.SameVisibleState(reporter_));
  E1POP("OUTER");
}

TEST_F(ErrorStackTest, RestoreStateKeepsTheOutputAndTheLastMessage) {
  std::ostringstream other;
  ErrorReporter source(&other);
  {
    ErrorReporterScope bind(source);
    E1PSH("OUTER");
    E1MES(ErrorType::ImmediateWarning, 3, "Seen by the source.");
  }
  Recording(ErrorType::ImmediateWarning);
  const std::string mine = reporter_.LastMessage();
  reporter_.RestoreState(source);
  EXPECT_TRUE(reporter_.SameVisibleState(source));
  EXPECT_EQ(reporter_.Output(), &out_);
  EXPECT_EQ(reporter_.LastMessage(), mine);
  EXPECT_NO_THROW(E1POP("OUTER"));
}

TEST_F(ErrorStackTest, ReplayWritesWhatAnotherReporterPrinted) {
  reporter_.Replay("", "ignored");
  EXPECT_EQ(reporter_.LastMessage(), "");
  reporter_.Replay("first\nsecond\n", "second\n");
  EXPECT_EQ(Printed(), "first\nsecond\n");
  EXPECT_EQ(reporter_.LastMessage(), "second\n");
}

TEST_F(ErrorStackTest, BindingsNestAndComeBack) {
  ErrorReporter a(nullptr), b(nullptr);
  EXPECT_EQ(&CurrentErrorReporter(), &reporter_);
  {
    ErrorReporterScope bindA(a);
    EXPECT_EQ(&CurrentErrorReporter(), &a);
    {
      ErrorReporterScope bindB(b);
      E1PSH("IN B");
      EXPECT_EQ(&CurrentErrorReporter(), &b);
    }
    EXPECT_EQ(&CurrentErrorReporter(), &a);
  }
  EXPECT_EQ(&CurrentErrorReporter(), &reporter_);
  EXPECT_EQ(a.Level(), 1);
  EXPECT_EQ(b.Level(), 2);
}

// --- Threads ---------------------------------------------------------------------------------------

TEST_F(ErrorStackTest, AThreadWithoutABindingHasItsOwnDefaultReporter) {
  E1PSH("OUTER");
  int levelOnWorker = 0, levelAfterPush = 0;
  const ErrorReporter* workerDefault = nullptr;
  const std::ostream* workerStream = nullptr;
  std::thread worker([&] {
    workerDefault = &CurrentErrorReporter();
    workerStream = workerDefault->Output();
    levelOnWorker = CurrentErrorReporter().Level();
    E1PSH("WORKER");
    levelAfterPush = CurrentErrorReporter().Level();
    E1POP("WORKER");
  });
  worker.join();
  EXPECT_EQ(levelOnWorker, 1);
  EXPECT_EQ(levelAfterPush, 2);
  EXPECT_EQ(workerStream, &std::cerr);
  EXPECT_NE(workerDefault, &reporter_);
  EXPECT_EQ(reporter_.Level(), 2);
  E1POP("OUTER");
}

TEST_F(ErrorStackTest, AWorkersReporterTakesOnlyItsOwnMessages) {
  std::ostringstream diverted;
  std::thread worker([&] {
    ErrorReporter own(&diverted);
    ErrorReporterScope bind(own);
    E1PSH("WORKER");
    E1MES(ErrorType::ImmediateWarning, 3, "Worker message.");
    E1POP("WORKER");
  });
  worker.join();
  E1PSH("MAIN");
  E1MES(ErrorType::ImmediateWarning, 4, "Main message.");
  E1POP("MAIN");
  EXPECT_NE(diverted.str().find("3 from WORKER.  Worker message."), std::string::npos) << diverted.str();
  EXPECT_EQ(diverted.str().find("Main"), std::string::npos);
  EXPECT_NE(Printed().find("4 from MAIN.  Main message."), std::string::npos) << Printed();
  EXPECT_EQ(Printed().find("Worker"), std::string::npos);
}

TEST_F(ErrorStackTest, AReporterMadeOnOneThreadServesTheThreadItIsBoundTo) {
  std::ostringstream chosen;
  ErrorReporter front(&chosen);
  std::thread dialogue([&] {
    ErrorReporterScope bind(front);
    E1PSH("MAIN");
    E1MES(ErrorType::ImmediateWarning, 5, "After the choice.");
    E1POP("MAIN");
  });
  dialogue.join();
  EXPECT_NE(chosen.str().find("After the choice."), std::string::npos);
  EXPECT_EQ(front.Level(), 1);
  EXPECT_EQ(Printed(), "");
}

TEST_F(ErrorStackTest, ACopyCarriesTheStateToAnotherThread) {
  E1PSH("OUTER");
  E1USR("ON");
  const ErrorReporter saved(reporter_);
  ErrorReporter worker(saved);
  int level = 0;
  bool same = false;
  std::thread thread([&] {
    ErrorReporterScope bind(worker);
    level = CurrentErrorReporter().Level();
    same = worker.SameVisibleState(saved);
    E1PSH("INNER");
    E1MES(ErrorType::Warning, 2, "A warning.");  // printed at the pop: level 3 is user-callable after E1USR
    E1POP("INNER");
    same = same && !worker.SameVisibleState(saved);  // OUTER now carries the warning
    E1POP("OUTER");
  });
  thread.join();
  EXPECT_EQ(level, 2);
  EXPECT_TRUE(same);
  EXPECT_NE(Printed().find("2 from INNER.  A warning."), std::string::npos) << Printed();
  EXPECT_EQ(reporter_.Level(), 2);
  E1POP("OUTER");
}

}  // namespace
}  // namespace odefit
