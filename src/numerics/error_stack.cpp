#include "numerics/error_stack.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "format/fixed_format.h"

namespace odefit {
namespace {

constexpr int kMaxLevels = 50;
constexpr std::size_t kNameLength = 32;
constexpr std::size_t kMessageCapacity = 1024;
constexpr std::size_t kParameterCapacity = 300;
constexpr int kMaxType = 7;

// Per-type attributes, index 1..7 (index 0 unused).
constexpr std::array<const char*, kMaxType + 1> kTypeWord = {
    "", "NOTE    ", "ALERT   ", "WARNING ", "FATAL   ", "TERMINAL", "WARNING ", "FATAL   "};
constexpr std::array<bool, kMaxType + 1> kPrinted = {false, false, false, true, true, true, true, true};
constexpr std::array<bool, kMaxType + 1> kStops = {false, false, false, false, true, true, false, true};
constexpr bool kTraceback = true;  // on for every type

struct Level {
  std::string name;  // always kNameLength characters, blank-padded
  int type = -1;     // 0 no error, -1 free
  int code = -1;
  bool userCallable = false;
};

struct Parameter {
  char kind;  // 'I', 'R', 'D' or 'L'
  int index;  // 1..9
  std::string value;
};

struct ErrorState {
  std::array<Level, kMaxLevels + 1> levels;  // 1-based
  int current = 1;
  std::string pending;  // the pending message; empty when nothing is pending
  std::vector<Parameter> parameters;
  std::size_t parameterChars = 0;  // characters the list takes, within kParameterCapacity
  std::array<bool, kMaxType + 1> immediateMark{};
  std::array<int, 4> channels = {0, 5, 6, 6};

  ErrorState() { Reset(); }

  void Reset() {
    for (int l = 1; l <= kMaxLevels; ++l) {
      levels[l] = Level{std::string(kNameLength, ' '), -1, -1, l == 2};
    }
    AssignName(levels[1].name, "USER");
    levels[1].type = 0;
    levels[1].code = 0;
    levels[1].userCallable = true;
    current = 1;
    pending.clear();
    parameters.clear();
    parameterChars = 0;
    immediateMark.fill(false);
    channels = {0, 5, 6, 6};
  }

  // Stores the first kNameLength characters of `name`, blank-padded, reusing
  // the storage of `stored` (a push or pop allocates nothing).
  static void AssignName(std::string& stored, std::string_view name) {
    stored.assign(name.substr(0, std::min(name.size(), kNameLength)));
    stored.resize(kNameLength, ' ');
  }
  // Whether `name`, blank-padded to kNameLength, equals the stored name.
  static bool SameName(const std::string& stored, std::string_view name) {
    const std::size_t n = std::min(name.size(), kNameLength);
    return stored.compare(0, n, name.substr(0, n)) == 0 &&
           stored.find_first_not_of(' ', n) == std::string::npos;
  }
};

// Each thread has its own stack: the efficiency test computes its pieces on
// worker threads, each with its own nested routines and pending message.
ErrorState& State() {
  thread_local ErrorState state;
  return state;
}

// The stream chosen by SetErrorOutput is one for the process; a front end may
// choose it from another thread than the one computing.
std::atomic<std::ostream*> processOutput{&std::cerr};
// A thread's own stream while a ThreadErrorOutput is alive on it.
thread_local std::ostream* threadOutput = nullptr;

std::ostream& Out() { return threadOutput ? *threadOutput : *processOutput.load(); }

bool Printed(int type) { return type < 1 || type > kMaxType || kPrinted[type]; }
bool Stops(int type) { return type >= 1 && type <= kMaxType && kStops[type]; }
const char* TypeWord(int type) {
  return (type >= 1 && type <= kMaxType) ? kTypeWord[type] : "UNKNOWN ";
}

[[noreturn]] void StopRun() {
  Out().flush();
  throw RunStopped();
}

// Returns the stored name as printed: up to its first blank, with a leading
// lower-case letter raised when an upper-case letter follows (dL2RRR -> DL2RRR).
std::string DisplayName(const std::string& stored, bool trim) {
  std::string name = stored;
  if (name.size() >= 2 && std::islower(static_cast<unsigned char>(name[0])) &&
      std::isupper(static_cast<unsigned char>(name[1]))) {
    name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
  }
  if (trim) {
    const auto blank = name.find(' ');
    if (blank != std::string::npos) name.resize(blank);
  }
  return name;
}

void AddParameter(char kind, int index, std::string value) {
  if (index < 1 || index > 9) return;
  ErrorState& s = State();
  // Each entry takes its kind letter, its index digit, its value and a separator.
  const std::size_t size = value.size() + 3;
  if (s.parameterChars + size > kParameterCapacity) return;
  s.parameterChars += size;
  s.parameters.push_back({kind, index, std::move(value)});
}

void ClearParameters() {
  State().parameters.clear();
  State().parameterChars = 0;
}

std::string TrimLeft(std::string text) {
  const auto first = text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first);
}

// Replaces every reference %(Kn) whose parameter is set by the parameter's value.
std::string Substitute(std::string_view text) {
  static constexpr std::string_view kKinds = "ACDIKLRSZ";
  const auto& params = State().parameters;
  std::string result;
  result.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (i + 5 <= text.size() && text[i] == '%' && text[i + 1] == '(' && text[i + 4] == ')' &&
        std::isdigit(static_cast<unsigned char>(text[i + 3]))) {
      const char kind = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i + 2])));
      const int index = text[i + 3] - '0';
      if (kKinds.find(kind) != std::string_view::npos) {
        // The last parameter set under this kind and index wins.
        const auto found = std::find_if(params.rbegin(), params.rend(), [&](const Parameter& p) {
          return p.kind == kind && p.index == index;
        });
        if (found != params.rend()) {
          result += found->value;
          i += 5;
          continue;
        }
      }
    }
    result += text[i++];
  }
  return result;
}

// Finds "%/" with both characters inside text[0, limit).
std::size_t FindBreak(std::string_view text, std::size_t limit) {
  const auto pos = text.substr(0, std::min(limit, text.size())).find("%/");
  return pos;
}

void PrintErrorMessage() {
  ErrorState& s = State();
  if (s.pending.empty()) return;
  const Level& level = s.levels[s.current];
  std::ostream& out = Out();

  std::string header(1, ' ');
  header += std::to_string(level.code);
  header += " from ";
  header += DisplayName(level.name, true);
  std::size_t room = 59;
  if (s.pending.rfind(".  ", 0) != 0) {
    header += ".  ";
    room -= 3;
  }
  room = room > header.size() ? room - header.size() : 0;

  std::string_view message = s.pending;
  std::string firstPart;
  bool afterBreak = false;
  if (const auto brk = FindBreak(message, room); brk != std::string_view::npos) {
    firstPart = message.substr(0, brk);
    message.remove_prefix(brk + 2);
    afterBreak = true;
  } else if (message.size() > room) {
    const auto blank = message.substr(0, room).rfind(' ');
    const std::size_t cut = blank == std::string_view::npos ? room : blank;
    firstPart = message.substr(0, cut);
    message.remove_prefix(cut);
  } else {
    firstPart = message;
    message = {};
  }
  out << "\n *** " << TypeWord(level.type) << " ERROR" << header << firstPart << "\n";

  constexpr std::size_t kLine = 64;
  while (!message.empty()) {
    if (!afterBreak && message.front() == ' ') {
      message.remove_prefix(1);
      if (message.empty()) break;
    }
    afterBreak = false;
    std::string_view piece;
    if (const auto brk = FindBreak(message, kLine); brk != std::string_view::npos) {
      piece = message.substr(0, brk);
      message.remove_prefix(brk + 2);
      afterBreak = true;
    } else if (message.size() > kLine) {
      // The last blank among the last 63 of the next 64 characters ends the line, blank included.
      const auto blank = message.substr(1, kLine - 1).rfind(' ');
      const std::size_t cut = blank == std::string_view::npos ? kLine : blank + 2;
      piece = message.substr(0, cut);
      message.remove_prefix(cut);
    } else {
      piece = message;
      message = {};
    }
    out << " ***          " << piece << "\n";
  }

  s.pending.clear();
  ClearParameters();

  if (kTraceback && s.current > 2) {
    out << "     Here is a traceback of subprogram calls in reverse order:\n";
    out << "     Routine name               " << " " << "    Error type  Error code\n";
    out << "     ------------  " << fixed::Blanks(14) << "    ----------  ----------\n";
    for (int l = s.current; l >= 1; --l) {
      const Level& row = s.levels[l];
      out << "     " << DisplayName(row.name, false) << fixed::FormatI(row.type, 6) << fixed::Blanks(6)
          << fixed::FormatI(row.code, 6);
      if (l != 1 && !row.userCallable) out << "    (Called internally)";
      out << "\n";
    }
  }
  out.flush();
}

// Records the machinery's own terminal error at the current level, prints it and stops.
[[noreturn]] void MachineryStop(const std::string& message) {
  ErrorState& s = State();
  s.levels[s.current].type = 5;
  s.levels[s.current].code = 1;
  s.pending = message;
  PrintErrorMessage();
  StopRun();
}

}  // namespace

void E1PSH(std::string_view name) {
  ErrorState& s = State();
  if (s.current < kMaxLevels) {
    Level& level = s.levels[++s.current];
    ErrorState::AssignName(level.name, name);
    level.type = 0;
    level.code = 0;
    return;
  }
  SetErrorInteger(1, kMaxLevels);
  E1MES(5, 1, "Error condition in E1PSH.  Push would cause stack level to exceed %(I1). ");
  StopRun();
}

void E1POP(std::string_view name) {
  ErrorState& s = State();
  if (s.current < 2) {
    E1PSH("E1POP");
    SetErrorText(1, name);
    E1MES(5, 1, "Error condition in E1POP.  Cannot pop from %(L1) because stack is empty.");
    StopRun();
  }
  Level& level = s.levels[s.current];
  if (!ErrorState::SameName(level.name, name)) {
    SetErrorText(1, name);
    SetErrorText(2, level.name);
    E1MES(5, 2, "Error condition in E1POP.  %(L1) does not match the name %(L2) in the stack.");
    StopRun();
  }
  const int t = level.type;
  if (t != 0) {
    if (t >= 2 && t <= 7) {
      s.levels[s.current - 1].type = t;
      s.levels[s.current - 1].code = level.code;
    }
    if (t <= 4) {
      if (Printed(t) && level.userCallable) PrintErrorMessage();
      if (Stops(t) && level.userCallable) StopRun();
    } else {
      if (Printed(t)) PrintErrorMessage();
      if (t == 5 && Stops(5)) StopRun();
      if (t == 6 || t == 7) {
        bool stop = false;
        for (int marked : {6, 7}) {
          if (s.immediateMark[marked] && Stops(marked)) stop = true;
          s.immediateMark[marked] = false;
        }
        if (stop && level.userCallable) StopRun();
      }
    }
  }
  if (s.current + 1 <= kMaxLevels) {
    s.levels[s.current + 1].type = -1;
    s.levels[s.current + 1].code = -1;
  }
  --s.current;
}

void E1MES(int type, int code, std::string_view message) {
  ErrorState& s = State();
  Level& level = s.levels[s.current];
  if (type != -1) level.type = type;
  if (code >= 0) level.code = code;
  if (type == 0 || code == 0) {
    s.pending.clear();
  } else {
    if (!(message.empty() || message == " ")) {
      s.pending = ".  " + Substitute(message.substr(0, std::min(message.size(), kMessageCapacity)));
      if (s.pending.size() > kMessageCapacity) s.pending.resize(kMessageCapacity);
    }
    if (level.type == 6 || level.type == 7) s.immediateMark[level.type] = true;
    if (level.type >= 5 && Printed(level.type)) PrintErrorMessage();
  }
  ClearParameters();
}

void SetErrorInteger(int index, long long value) { AddParameter('I', index, std::to_string(value)); }

void SetErrorReal(int index, float value) {
  AddParameter('R', index, TrimLeft(fixed::FormatScaledE(value, 14, 6, 'E')));
}

void SetErrorDouble(int index, double value) {
  AddParameter('D', index, TrimLeft(fixed::FormatScaledE(value, 24, 15, 'D')));
}

void SetErrorText(int index, std::string_view text) {
  const auto last = text.find_last_not_of(' ');
  AddParameter('L', index, last == std::string_view::npos ? " " : std::string(text.substr(0, last + 1)));
}

void E1USR(std::string_view sw) {
  ErrorState& s = State();
  if (sw == "ON" || sw == "on" || sw == "OFF" || sw == "off") {
    if (s.current < kMaxLevels) s.levels[s.current + 1].userCallable = (sw == "ON" || sw == "on");
    return;
  }
  SetErrorText(1, sw);
  E1MES(5, 1,
        "Invalid value for SWITCH in call to E1USR.  SWITCH must be set to 'ON' or 'OFF'.  SWITCH = "
        "'%(L1)' ");
}

namespace {
int LevelField(int option, const char* routine, bool code) {
  ErrorState& s = State();
  if (option != 0 && option != 1) {
    MachineryStop(std::string(".  The argument passed to ") + routine + " must be 0 or 1.");
  }
  const int l = s.current + option;
  if (l > kMaxLevels) return -1;
  return code ? s.levels[l].code : s.levels[l].type;
}
}  // namespace

int N1RCD(int option) { return LevelField(option, "N1RCD", true); }
int N1RTY(int option) { return LevelField(option, "N1RTY", false); }

void UMACH(int n, int& channel) {
  ErrorState& s = State();
  const long long magnitude = std::llabs(static_cast<long long>(n));
  if (magnitude < 1 || magnitude > 3) {
    Out() << "\n *** TERMINAL ERROR 5 from UMACH.  The absolute\n"
           << " ***          value of the index variable must be\n"
           << " ***          1, 2, or 3.  IABS(N) = " << fixed::FormatI(magnitude, 6) << ".\n\n";
    StopRun();
  }
  if (n > 0) {
    channel = s.channels[n];
  } else {
    s.channels[magnitude] = channel;
  }
}

int IMACH(int n) {
  static constexpr std::array<int, 13> kConstants = {0,  32, 4,    2,  31, 2147483647, 2,
                                                     24, -125, 128, 53, -1021, 1024};
  if (n < 1 || n > 12) {
    Out() << "\n *** TERMINAL ERROR 5 from IMACH.  The argument\n"
                 << " ***          must be between 1 and 12 inclusive.\n"
                 << " ***          N = " << fixed::FormatI(n, 6) << ".\n\n";
    StopRun();
  }
  return kConstants[n];
}

void SetErrorOutput(std::ostream& out) { processOutput.store(&out); }

std::ostream& ErrorOutput() { return Out(); }

ThreadErrorOutput::ThreadErrorOutput(std::ostream& out) : previous_(threadOutput) { threadOutput = &out; }

ThreadErrorOutput::~ThreadErrorOutput() { threadOutput = previous_; }

struct ErrorStackCopy::Saved {
  ErrorState state;
};

ErrorStackCopy::ErrorStackCopy() : saved_(std::make_unique<Saved>()) {}
ErrorStackCopy::ErrorStackCopy(const ErrorStackCopy& other) : saved_(std::make_unique<Saved>(*other.saved_)) {}
ErrorStackCopy& ErrorStackCopy::operator=(const ErrorStackCopy& other) {
  *saved_ = *other.saved_;
  return *this;
}
ErrorStackCopy::~ErrorStackCopy() = default;

bool ErrorStackCopy::SameVisibleState(const ErrorStackCopy& other) const {
  const ErrorState& a = saved_->state;
  const ErrorState& b = other.saved_->state;
  if (a.current != b.current || a.pending != b.pending || a.parameters.size() != b.parameters.size() ||
      a.parameterChars != b.parameterChars ||
      a.immediateMark != b.immediateMark || a.channels != b.channels) {
    return false;
  }
  for (int l = 1; l <= kMaxLevels; ++l) {
    const Level& x = a.levels[l];
    const Level& y = b.levels[l];
    if (x.userCallable != y.userCallable) return false;
    if (l <= a.current && (x.name != y.name || x.type != y.type || x.code != y.code)) return false;
  }
  return true;
}

ErrorStackCopy SaveErrorStack() {
  ErrorStackCopy copy;
  copy.saved_->state = State();
  return copy;
}

void RestoreErrorStack(const ErrorStackCopy& copy) { State() = copy.saved_->state; }

void ResetErrorStack() { State().Reset(); }

int ErrorStackLevel() { return State().current; }

void UnwindErrorStack(int level) {
  ErrorState& s = State();
  level = std::clamp(level, 1, kMaxLevels);
  for (int l = s.current; l > level; --l) {
    s.levels[l].type = -1;
    s.levels[l].code = -1;
  }
  if (s.current > level) s.current = level;
  s.pending.clear();
  ClearParameters();
  s.immediateMark.fill(false);
}

}  // namespace odefit
