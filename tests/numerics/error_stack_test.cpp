#include "numerics/error_stack.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <thread>

namespace odefit {
namespace {

class ErrorStackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetErrorStack();
    SetErrorOutput(out_);
  }
  void TearDown() override {
    ResetErrorStack();
    SetErrorOutput(std::cerr);
  }
  std::string Printed() const { return out_.str(); }

  std::ostringstream out_;
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
  E1MES(4, 1,
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
  E1MES(5, 3, "Something went wrong.");
  EXPECT_EQ(Printed(), "\n *** TERMINAL ERROR 3 from DL2RRR.  Something went wrong.\n" + kTracebackHead +
                           Row("DL2RRR", 5, 3, true) + Row("OUTER", 0, 0, false) + Row("USER", 0, 0, false));
  EXPECT_THROW(E1POP("dL2RRR "), RunStopped);
}

TEST_F(ErrorStackTest, UserCallableInnerRoutineIsNotMarkedInternal) {
  E1PSH("OUTER");
  E1USR("ON");
  E1PSH("INNER");
  E1MES(5, 3, "Something went wrong.");
  EXPECT_EQ(Printed(), "\n *** TERMINAL ERROR 3 from INNER.  Something went wrong.\n" + kTracebackHead +
                           Row("INNER", 5, 3, false) + Row("OUTER", 0, 0, false) + Row("USER", 0, 0, false));
}

TEST_F(ErrorStackTest, WarningOfAnInternalRoutineIsPrintedWhenItsCallerReturns) {
  E1PSH("OUTER");
  E1PSH("INNER");
  E1MES(3, 7, "Watch out.");
  E1POP("INNER");
  EXPECT_EQ(Printed(), "");
  EXPECT_NO_THROW(E1POP("OUTER"));
  EXPECT_EQ(Printed(), "\n *** WARNING  ERROR 7 from OUTER.  Watch out.\n");
  EXPECT_EQ(ErrorStackLevel(), 1);
  EXPECT_EQ(N1RCD(1), 7);
  EXPECT_EQ(N1RTY(1), 3);
}

TEST_F(ErrorStackTest, NoteAndAlertAreNeverPrintedButTheirCodesAreReturned) {
  E1PSH("ROUT");
  E1MES(1, 11, "A note.");
  EXPECT_EQ(N1RCD(0), 11);
  EXPECT_EQ(N1RTY(0), 1);
  E1POP("ROUT");
  EXPECT_EQ(N1RCD(1), 11);
  E1PSH("ROUT");
  E1MES(2, 12, "An alert.");
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
  E1MES(5, 1, "A %(I1) b %(i1) c %(I2) d %(L1).");
  EXPECT_EQ(Printed(), "\n *** TERMINAL ERROR 1 from ROUT.  A 7 b 7 c %(I2) d %(L1).\n");
}

TEST_F(ErrorStackTest, ParameterValueTexts) {
  E1PSH("ROUT");
  auto printedWith = [this](auto set, const char* reference) {
    out_.str("");
    set();
    E1MES(5, 1, reference);
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
  E1MES(3, 1, "first %(I1)");
  E1MES(5, 2, "second %(I1)");
  EXPECT_EQ(Printed(), "\n *** TERMINAL ERROR 2 from ROUT.  second %(I1)\n");
}

TEST_F(ErrorStackTest, ParameterListDropsEntriesBeyondItsCapacity) {
  E1PSH("ROUT");
  SetErrorText(1, std::string(250, 'a'));
  SetErrorText(2, std::string(60, 'b'));  // does not fit any more
  SetErrorInteger(3, 5);                  // still fits
  E1MES(5, 1, "%(L2)%(I3)");
  EXPECT_EQ(Printed(), "\n *** TERMINAL ERROR 1 from ROUT.  %(L2)5\n");
}

TEST_F(ErrorStackTest, BlankTemplateKeepsThePendingMessage) {
  E1PSH("ROUT");
  E1MES(1, 1, "kept text");
  E1MES(-1, -1, " ");
  E1MES(5, -1, "");
  EXPECT_EQ(Printed(), "\n *** TERMINAL ERROR 1 from ROUT.  kept text\n");
}

TEST_F(ErrorStackTest, LongMessageWithoutBlanksIsCutIntoLinesOf64) {
  E1PSH("ROUT");
  E1MES(5, 1, std::string(200, 'x'));
  const std::string x64(64, 'x');
  EXPECT_EQ(Printed(), "\n *** TERMINAL ERROR 1 from ROUT. \n ***          " + x64 + "\n ***          " + x64 +
                           "\n ***          " + x64 + "\n ***          xxxxxxxx\n");
}

TEST_F(ErrorStackTest, LineBreakMarkersEndLinesAndAreNotPrinted) {
  E1PSH("ROUT");
  E1MES(5, 2, "First part.%/ Second part keeps its blank.%/Third.");
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
  E1MES(5, 1, words);
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
  EXPECT_EQ(ErrorStackLevel(), 50);
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
  E1MES(6, 4, "Careful.");
  EXPECT_EQ(Printed(), "\n *** WARNING  ERROR 4 from ROUT.  Careful.\n");
  EXPECT_NO_THROW(E1POP("ROUT"));
  E1PSH("ROUT");
  E1MES(7, 5, "Broken.");
  EXPECT_THROW(E1POP("ROUT"), RunStopped);
}

TEST_F(ErrorStackTest, UnknownTypeIsPrintedWithItsWord) {
  E1PSH("OUTER");
  E1USR("ON");
  E1PSH("ROUT");
  E1MES(9, 1, "Odd.");
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

  ResetErrorStack();
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

TEST_F(ErrorStackTest, UnwindingAfterACaughtStopLeavesTheStackBalanced) {
  E1PSH("OUTER");
  E1PSH("INNER");
  E1MES(4, 3, "Too many steps.");
  E1POP("INNER");
  EXPECT_THROW(E1POP("OUTER"), RunStopped);
  EXPECT_EQ(ErrorStackLevel(), 2);
  UnwindErrorStack(1);
  EXPECT_EQ(ErrorStackLevel(), 1);
  out_.str("");
  E1PSH("NEXT");
  E1POP("NEXT");
  EXPECT_EQ(Printed(), "");
}

// --- Threads ---------------------------------------------------------------------------------------

TEST_F(ErrorStackTest, EachThreadHasItsOwnStack) {
  E1PSH("OUTER");
  int levelOnWorker = 0, levelAfterPush = 0;
  std::thread worker([&] {
    levelOnWorker = ErrorStackLevel();
    E1PSH("WORKER");
    levelAfterPush = ErrorStackLevel();
    E1POP("WORKER");
  });
  worker.join();
  EXPECT_EQ(levelOnWorker, 1);
  EXPECT_EQ(levelAfterPush, 2);
  EXPECT_EQ(ErrorStackLevel(), 2);
  E1POP("OUTER");
}

TEST_F(ErrorStackTest, ThreadOutputDivertsOnlyItsOwnThreadsMessages) {
  std::ostringstream diverted;
  std::thread worker([&] {
    ThreadErrorOutput divert(diverted);
    E1PSH("WORKER");
    E1MES(6, 3, "Worker message.");
    E1POP("WORKER");
  });
  worker.join();
  E1PSH("MAIN");
  E1MES(6, 4, "Main message.");
  E1POP("MAIN");
  EXPECT_NE(diverted.str().find("3 from WORKER.  Worker message."), std::string::npos) << diverted.str();
  EXPECT_EQ(diverted.str().find("Main"), std::string::npos);
  EXPECT_NE(Printed().find("4 from MAIN.  Main message."), std::string::npos) << Printed();
  EXPECT_EQ(Printed().find("Worker"), std::string::npos);
}

TEST_F(ErrorStackTest, OutputChosenOnAnotherThreadServesEveryThread) {
  std::ostringstream chosen;
  std::thread front([&] { SetErrorOutput(chosen); });
  front.join();
  EXPECT_EQ(&ErrorOutput(), &chosen);
  E1PSH("MAIN");
  E1MES(6, 5, "After the choice.");
  E1POP("MAIN");
  EXPECT_NE(chosen.str().find("After the choice."), std::string::npos);
}

TEST_F(ErrorStackTest, SavedStackComesBackOnAnotherThread) {
  E1PSH("OUTER");
  E1USR("ON");
  const ErrorStackCopy saved = SaveErrorStack();
  int level = 0;
  bool same = false;
  std::thread worker([&] {
    RestoreErrorStack(saved);
    level = ErrorStackLevel();
    same = SaveErrorStack().SameVisibleState(saved);
    E1PSH("INNER");
    E1MES(3, 2, "A warning.");  // printed at the pop: level 3 is user-callable after E1USR
    E1POP("INNER");
    same = same && !SaveErrorStack().SameVisibleState(saved);  // OUTER now carries the warning
    E1POP("OUTER");
  });
  worker.join();
  EXPECT_EQ(level, 2);
  EXPECT_TRUE(same);
  EXPECT_NE(Printed().find("2 from INNER.  A warning."), std::string::npos) << Printed();
  E1POP("OUTER");
}

}  // namespace
}  // namespace odefit
