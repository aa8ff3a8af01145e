// The hand-off between the dialogue thread and the GUI: the console channel,
// the pause gate and the error-message stream.
#include "app/desktop/console_channel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <sstream>
#include <thread>

#include "app/desktop/message_stream.h"
#include "app/desktop/pause_gate.h"

namespace odefit {
namespace {

using namespace std::chrono_literals;

// Waits until `condition` holds, at most two seconds.
template <typename Condition>
bool Eventually(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + 2s;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(ConsoleChannel, LinesTypedAheadAreReadInOrderAndEchoedAfterTheirPrompts) {
  PauseGate gate;
  ConsoleChannel channel(gate);
  channel.Submit("3");
  channel.Submit("3000");
  channel.Write(" 1) D = ");
  EXPECT_EQ(channel.ReadLine(), "3");
  channel.Write(" 2) Ntrain = ");
  EXPECT_EQ(channel.ReadLine(), "3000");
  const ConsoleChannel::News news = channel.Take();
  EXPECT_EQ(news.output, " 1) D = 3\n 2) Ntrain = 3000\n");
  EXPECT_TRUE(news.unread.empty());
  EXPECT_TRUE(news.asked);
}

TEST(ConsoleChannel, TakeReportsTheLinesNotReadYet) {
  PauseGate gate;
  ConsoleChannel channel(gate);
  channel.Submit("y");
  channel.Submit("n");
  EXPECT_EQ(channel.ReadLine(), "y");
  const ConsoleChannel::News news = channel.Take();
  EXPECT_EQ(news.unread, (std::vector<std::string>{"n"}));
  EXPECT_FALSE(news.reading);
}

TEST(ConsoleChannel, ReadLineWaitsForALineFromAnotherThread) {
  PauseGate gate;
  ConsoleChannel channel(gate);
  auto read = std::async(std::launch::async, [&] { return channel.ReadLine(); });
  ASSERT_TRUE(Eventually([&] { return channel.Reading(); }));
  EXPECT_EQ(read.wait_for(20ms), std::future_status::timeout);
  channel.Submit("lorenz.txt");
  EXPECT_EQ(read.get(), "lorenz.txt");
}

TEST(ConsoleChannel, CloseWakesAWaitingReadAndEndsEveryLaterOne) {
  PauseGate gate;
  ConsoleChannel channel(gate);
  auto read = std::async(std::launch::async, [&] { return channel.ReadLine(); });
  ASSERT_TRUE(Eventually([&] { return channel.Reading(); }));
  channel.Close();
  EXPECT_EQ(read.get(), std::nullopt);
  channel.Submit("too late");
  EXPECT_EQ(channel.ReadLine(), std::nullopt);
}

TEST(ConsoleChannel, SendsOneNoticeUntilTheNewsAreTaken) {
  PauseGate gate;
  ConsoleChannel channel(gate);
  int notices = 0;
  channel.SetNotifier([&] { ++notices; });
  channel.Write("a");
  channel.Write("b");
  channel.ClearScreen();
  EXPECT_EQ(notices, 1);
  EXPECT_EQ(channel.Take().output, "ab\f");
  channel.Write("c");
  EXPECT_EQ(notices, 2);
}

TEST(PauseGate, HoldsOutputWhilePausedAndLetsItGoOnResume) {
  PauseGate gate;
  ConsoleChannel channel(gate);
  gate.Pause();
  auto write = std::async(std::launch::async, [&] { channel.Write("held"); });
  ASSERT_TRUE(Eventually([&] { return gate.Holding(); }));
  EXPECT_EQ(channel.Take().output, "");
  gate.Resume();
  write.get();
  EXPECT_FALSE(gate.Holding());
  EXPECT_EQ(channel.Take().output, "held");
}

TEST(PauseGate, CloseReleasesAHeldThreadWithTheEndOfInput) {
  PauseGate gate;
  gate.Pause();
  auto pass = std::async(std::launch::async, [&] { gate.Pass(); });
  ASSERT_TRUE(Eventually([&] { return gate.Holding(); }));
  gate.Close();
  EXPECT_THROW(pass.get(), InputEnded);
  EXPECT_THROW(gate.Pass(), InputEnded);
}

TEST(MessageStream, DeliversEachFlushedMessageWholeAndCopiesIt) {
  std::ostringstream copy;
  std::vector<std::string> delivered;
  MessageStream stream(copy, [&](const std::string& message) { delivered.push_back(message); });
  stream << "\n *** FATAL    ERROR 1 from DLQRSL.  Computation\n";
  stream << " ***          has been requested\n";
  stream.flush();
  stream << "second\n" << std::flush;
  stream.flush();  // nothing new: no empty message
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[0], "\n *** FATAL    ERROR 1 from DLQRSL.  Computation\n ***          has been requested\n");
  EXPECT_EQ(stream.LastMessage(), "second\n");
  EXPECT_EQ(copy.str(), delivered[0] + delivered[1]);
}

TEST(MessageStream, TheStopTextKeepsItsNotesAndLeavesWarningsOut) {
  std::ostringstream copy;
  std::vector<std::string> delivered;
  MessageStream stream(copy, [&](const std::string& message) { delivered.push_back(message); });
  stream << "odefit: warning: m = 4 is even\n" << std::flush;
  EXPECT_EQ(stream.LastMessage(), "");
  stream << "\n *** FATAL    ERROR 1 from DLQRSL.  singular\n" << std::flush;
  stream << "odefit: warning: late\n" << std::flush;
  stream << "odefit: equation 1 cannot be fitted: its term x1 is zero\n" << std::flush;
  EXPECT_EQ(stream.LastMessage(),
            "\n *** FATAL    ERROR 1 from DLQRSL.  singular\nodefit: equation 1 cannot be fitted: its term x1 is zero\n");
  ASSERT_EQ(delivered.size(), 4u);  // the window shows everything, in order
  EXPECT_EQ(delivered[0], "odefit: warning: m = 4 is even\n");
  EXPECT_EQ(copy.str(), delivered[0] + delivered[1] + delivered[2] + delivered[3]);
  stream << "\n *** TERMINAL ERROR 4 from fac\n" << std::flush;  // a new message starts afresh
  EXPECT_EQ(stream.LastMessage(), "\n *** TERMINAL ERROR 4 from fac\n");
}

}  // namespace
}  // namespace odefit
