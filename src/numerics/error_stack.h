#pragma once
// The error mechanism shared by every numerical routine.
//
// Each numerical routine registers its name on entry and removes it when it
// returns (RoutineScope does both), records an error with the parameter
// setters and E1MES, and depending on the error type the message is printed
// at once or when the routine returns; some types end the run.
//
// Types (ErrorType): Note and Alert are never printed; Warning is printed when
// the routine returns; Fatal likewise and stops the run; Terminal is printed
// at once and stops the run; ImmediateWarning and ImmediateFatal are printed
// at once, and ImmediateFatal stops the run.
//
// "The run stops" throws RunStopped after the message is printed. Nothing in
// the numerical core catches it: the front end does, after which it keeps
// what the report already holds and exits with a non-zero status.
//
// All state lives in an ErrorReporter that its caller owns, together with the
// stream its messages go to. The upper-case entry points (E1PSH, E1POP, E1MES,
// the setters, E1USR, N1RCD, N1RTY, UMACH, IMACH) act on the reporter bound to
// the calling thread by an ErrorReporterScope. A thread with no reporter bound
// uses its own default reporter, which prints to standard error; nothing is
// shared between threads.

#include <array>
#include <iosfwd>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace odefit {

// Thrown where a numerical error ends the run; its message is already printed.
class RunStopped : public std::runtime_error {
 public:
  RunStopped() : std::runtime_error("run stopped by a numerical error") {}
};

enum class ErrorType : int {
  Note = 1,
  Alert,
  Warning,
  Fatal,
  Terminal,
  ImmediateWarning,
  ImmediateFatal,
};

// Not types but requests to E1MES: keep the level's type, or record that the
// level has no error (which also drops the pending message).
inline constexpr ErrorType kKeepErrorType = static_cast<ErrorType>(-1);
inline constexpr ErrorType kNoError = static_cast<ErrorType>(0);

// A routine name as a level stores it: the first 32 characters, blank-padded.
using RoutineName = std::array<char, 32>;
constexpr RoutineName PaddedRoutineName(std::string_view name) {
  RoutineName padded{};
  for (std::size_t i = 0; i < padded.size(); ++i) padded[i] = i < name.size() ? name[i] : ' ';
  return padded;
}

// A routine name written in the code, padded when the program is compiled:
// every routine's entry and return handles its name, so they copy and compare
// whole words.
struct RoutineLiteral {
  consteval RoutineLiteral(const char* name) : padded(PaddedRoutineName(name)) {}
  RoutineName padded;
};

// The whole state of the mechanism: up to 50 levels of routine names with
// their error types, codes and user-callable flags, the pending message, the
// parameter list, the immediate-type marks and the channels; and the stream
// the messages go to. Copying gives an independent reporter in the same
// state, writing to the same stream (a worker thread starts from a copy of its
// caller's reporter). Not safe for concurrent use: one thread at a time.
class ErrorReporter {
 public:
  // Prints to standard error.
  ErrorReporter();
  // Prints to *out; nullptr prints nowhere (the state changes all the same and
  // LastMessage still records what would have been printed).
  explicit ErrorReporter(std::ostream* out);
  ErrorReporter(const ErrorReporter& other);
  ErrorReporter& operator=(const ErrorReporter& other);
  ~ErrorReporter();

  std::ostream* Output() const { return out_; }
  void SetOutput(std::ostream* out) { out_ = out; }

  // The current level number (1 when no numerical routine runs).
  int Level() const;
  // The text of the newest printed message, exactly as written (empty before
  // the first): a library caller that catches RunStopped finds the reason here.
  const std::string& LastMessage() const { return lastMessage_; }
  // Back to the state of a new reporter; keeps the output stream and forgets
  // the last message.
  void Reset();

  // Makes the levels, pending message, parameters, marks and channels equal to
  // `other`'s; keeps this reporter's output and last message.
  void RestoreState(const ErrorReporter& other);
  // Whether both would print and decide alike: the same current level, the
  // same names, types and codes up to it, the same flags on every level, and
  // the same pending message, parameters, marks and channels.
  bool SameVisibleState(const ErrorReporter& other) const;
  // Writes `printed`, the text another reporter printed into a buffer, to
  // this reporter's output and makes `lastMessage` the last message when
  // anything was printed. Does not flush.
  void Replay(std::string_view printed, std::string_view lastMessage);

  // Drops every level above `level` with any pending message, parameters and
  // immediate marks, printing nothing; the outermost dropped level stays
  // readable like a returned routine's. For code that leaves routines by an
  // exception (RoutineScope does this itself).
  void DropLevelsAbove(int level);

  // The operations behind the upper-case entry points of the same meaning.
  void Push(std::string_view name);
  void Pop(std::string_view name);
  void Record(ErrorType type, int code, std::string_view message);
  void SetInteger(int index, long long value);
  void SetReal(int index, float value);
  void SetDouble(int index, double value);
  void SetText(int index, std::string_view text);
  void SetUserCallable(std::string_view sw);
  int LevelCode(int option);
  int LevelType(int option);
  void Channel(int n, int& channel);
  int MachineInteger(int n);

 private:
  struct State;
  friend class RoutineScope;

  void PushPadded(const RoutineName& name);
  void PopPadded(const RoutineName& name, std::string_view given);
  void AddParameter(char kind, int index, std::string value);
  void PrintErrorMessage();
  void Write(std::string text);
  [[noreturn]] void StopRun();
  [[noreturn]] void MachineryStop(std::string message);
  int LevelField(int option, const char* routine, bool code);

  std::unique_ptr<State> state_;
  std::ostream* out_;
  std::string lastMessage_;
};

// Binds a reporter to the calling thread while alive: the entry points act on
// it. Bindings nest; destruction brings back the previous one. Must be
// destroyed on the thread that created it, and the reporter must outlive it.
class ErrorReporterScope {
 public:
  explicit ErrorReporterScope(ErrorReporter& reporter);
  ~ErrorReporterScope();
  ErrorReporterScope(const ErrorReporterScope&) = delete;
  ErrorReporterScope& operator=(const ErrorReporterScope&) = delete;

 private:
  ErrorReporter* previous_;
};

// The reporter the calling thread's entry points act on now: the one bound
// last, or the thread's default reporter (standard error) when none is bound.
ErrorReporter& CurrentErrorReporter();

// A numerical routine's entry and exit: pushes `name` on the current reporter, and pops it when the scope ends
// normally, with everything E1POP does then: printing, and stopping the run
// by throwing RunStopped from the destructor. When an exception leaves the
// scope instead, the routine's level and anything above it are dropped
// silently, so the levels stay balanced for a caller that catches it.
class RoutineScope {
 public:
  explicit RoutineScope(RoutineLiteral name);
  ~RoutineScope() noexcept(false);
  RoutineScope(const RoutineScope&) = delete;
  RoutineScope& operator=(const RoutineScope&) = delete;

 private:

  ErrorReporter& reporter_;
  RoutineName name_;
  int level_;
  int exceptions_;
};

// Pushes a routine name (the first 32 characters, blank-padded).
void E1PSH(std::string_view name);
// Pops the routine on top, whose name must equal `name`; prints and stops as
// the recorded error's type demands. A stop leaves the level popped.
void E1POP(std::string_view name);
// Records an error at the current level. kKeepErrorType keeps the level's
// type; a negative code keeps its code. The template's references %(Kn) are
// replaced by the parameters set since the last E1MES.
void E1MES(ErrorType type, int code, std::string_view message);

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

}  // namespace odefit
