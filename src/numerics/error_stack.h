#pragma once
// The error mechanism shared by every numerical routine.
//
// Each numerical routine calls E1PSH with its own name on entry, records an
// error with the parameter setters and E1MES, and calls E1POP with the same
// name before it returns. Depending on the error type the message is printed
// at once or when the routine returns, and some types end the run.
//
// Types: 1 NOTE, 2 ALERT, 3 WARNING, 4 FATAL, 5 TERMINAL, 6 WARNING (printed at
// once), 7 FATAL (printed at once). Types 3 to 7 are printed; 4, 5 and 7 stop
// the run.
//
// "The run stops" throws RunStopped. Nothing in the core catches it: the front
// end does, after which it keeps what the report already holds and exits with
// a non-zero status. Each thread has its own stack; the stream the messages
// go to is chosen once for the process (SetErrorOutput), and a thread may
// divert its own messages for a while (ThreadErrorOutput).

#include <iosfwd>
#include <memory>
#include <stdexcept>
#include <string_view>

namespace odefit {

// Thrown where a numerical error ends the run; its message is already printed.
class RunStopped : public std::runtime_error {
 public:
  RunStopped() : std::runtime_error("run stopped by a numerical error") {}
};

// Pushes a routine name (the first 32 characters, blank-padded).
void E1PSH(std::string_view name);
// Pops the routine on top, whose name must equal `name`; prints and stops as
// the recorded error's type demands.
void E1POP(std::string_view name);
// Records an error at the current level. type -1 keeps the level's type; a
// negative code keeps its code. The template's references %(Kn) are replaced
// by the parameters set since the last E1MES.
void E1MES(int type, int code, std::string_view message);

// Add parameter In, Rn, Dn or Ln (index 1 to 9) for the next E1MES.
void SetErrorInteger(int index, long long value);
void SetErrorReal(int index, float value);
void SetErrorDouble(int index, double value);
void SetErrorText(int index, std::string_view text);

// "ON"/"on" or "OFF"/"off": whether the level the next push creates reports
// to the user.
void E1USR(std::string_view sw);
// Option 0: the error code (N1RCD) or type (N1RTY) of the current level;
// option 1: of the level above it (the routine that returned last).
int N1RCD(int option);
int N1RTY(int option);

// n = 1, 2, 3 returns channel n in `channel`; n = -1, -2, -3 sets it.
void UMACH(int n, int& channel);
// Returns integer machine constant n (1 to 12).
int IMACH(int n);

// Directs every error message to `out` (standard error unless changed), for
// every thread; may be called from any thread.
void SetErrorOutput(std::ostream& out);

// Returns the stream the calling thread's messages go to now.
std::ostream& ErrorOutput();

// Diverts the calling thread's messages to `out` while alive (nests; the
// previous choice comes back on destruction). Other threads are unaffected.
class ThreadErrorOutput {
 public:
  explicit ThreadErrorOutput(std::ostream& out);
  ~ThreadErrorOutput();
  ThreadErrorOutput(const ThreadErrorOutput&) = delete;
  ThreadErrorOutput& operator=(const ThreadErrorOutput&) = delete;

 private:
  std::ostream* previous_;
};

// A copy of one thread's stack (levels, flags, pending message, parameters).
class ErrorStackCopy {
 public:
  ErrorStackCopy();
  ErrorStackCopy(const ErrorStackCopy& other);
  ErrorStackCopy& operator=(const ErrorStackCopy& other);
  ~ErrorStackCopy();

  // Whether both copies would print and decide alike: the same current
  // level, the same names, types and codes up to it, the same flags on every
  // level, and the same pending message, parameters and marks.
  bool SameVisibleState(const ErrorStackCopy& other) const;

 private:
  struct Saved;
  std::unique_ptr<Saved> saved_;
  friend ErrorStackCopy SaveErrorStack();
  friend void RestoreErrorStack(const ErrorStackCopy& copy);
};

// Returns a copy of the calling thread's stack.
ErrorStackCopy SaveErrorStack();
// Makes the calling thread's stack equal to `copy` (a worker thread starts a
// task from its caller's stack this way).
void RestoreErrorStack(const ErrorStackCopy& copy);

// Returns the calling thread's stack to its state at process start (for tests
// and for a new run after a stop); keeps the output stream.
void ResetErrorStack();

// The current level number (1 when no numerical routine runs).
int ErrorStackLevel();

// Drops every level above `level` and any pending message without printing:
// a caller that goes on after a stopping error (RunStopped caught where the
// run is allowed to continue) leaves the stack balanced with this.
void UnwindErrorStack(int level);

}  // namespace odefit
