#include "numerics/error_stack.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <exception>
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

using Name = RoutineName;
static_assert(std::tuple_size_v<Name> == kNameLength);

struct StackLevel {
  Name name;
  int type = -1;  // 0 no error, -1 free
  int code = -1;
  bool userCallable = false;
};

struct Parameter {
  char kind;  // 'I', 'R', 'D' or 'L'
  int index;  // 1..9
  std::string value;
};

bool Printed(int type) { return type < 1 || type > kMaxType || kPrinted[type]; }
bool Stops(int type) { return type >= 1 && type <= kMaxType && kStops[type]; }
const char* TypeWord(int type) {
  return (type >= 1 && type <= kMaxType) ? kTypeWord[type] : "UNKNOWN ";
}

// Returns the stored name as printed: up to its first blank, with a leading
// lower-case letter raised when an upper-case letter follows (dL2RRR -> DL2RRR).
std::string DisplayName(const Name& stored, bool trim) {
  std::string name(stored.begin(), stored.end());
  if (std::islower(static_cast<unsigned char>(name[0])) && std::isupper(static_cast<unsigned char>(name[1]))) {
    name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
  }
  if (trim) {
    const auto blank = name.find(' ');
    if (blank != std::string::npos) name.resize(blank);
  }
  return name;
}

std::string TrimLeft(std::string text) {
  const auto first = text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first);
}

// Replaces every reference %(Kn) whose parameter is set by the parameter's value.
std::string Substitute(std::string_view text, const std::vector<Parameter>& params) {
  static constexpr std::string_view kKinds = "ACDIKLRSZ";
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
  return text.substr(0, std::min(limit, text.size())).find("%/");
}

// The reporter bound to this thread, if any.
thread_local ErrorReporter* boundReporter = nullptr;

}  // namespace

struct ErrorReporter::State {
  std::array<StackLevel, kMaxLevels + 1> levels;  // 1-based
  int current = 1;
  std::string pending;  // the pending message; empty when nothing is pending
  std::vector<Parameter> parameters;
  std::size_t parameterChars = 0;  // characters the list takes, within kParameterCapacity
  std::array<bool, kMaxType + 1> immediateMark{};
  std::array<int, 4> channels = {0, 5, 6, 6};

  State() {
    for (int l = 1; l <= kMaxLevels; ++l) {
      StackLevel& level = levels[static_cast<std::size_t>(l)];
      level.name = PaddedRoutineName("");
      level.userCallable = l == 2;
    }
    levels[1].name = PaddedRoutineName("USER");
    levels[1].type = 0;
    levels[1].code = 0;
    levels[1].userCallable = true;
  }

  StackLevel& Top() { return levels[static_cast<std::size_t>(current)]; }

  void ClearParameters() {
    parameters.clear();
    parameterChars = 0;
  }
};

ErrorReporter::ErrorReporter() : ErrorReporter(&std::cerr) {}

ErrorReporter::ErrorReporter(std::ostream* out) : state_(std::make_unique<State>()), out_(out) {}

ErrorReporter::ErrorReporter(const ErrorReporter& other)
    : state_(std::make_unique<State>(*other.state_)), out_(other.out_), lastMessage_(other.lastMessage_) {}

ErrorReporter& ErrorReporter::operator=(const ErrorReporter& other) {
  if (this != &other) {
    *state_ = *other.state_;
    out_ = other.out_;
    lastMessage_ = other.lastMessage_;
  }
  return *this;
}

ErrorReporter::~ErrorReporter() = default;

int ErrorReporter::Level() const { return state_->current; }

void ErrorReporter::Reset() {
  *state_ = State();
  lastMessage_.clear();
}

void ErrorReporter::RestoreState(const ErrorReporter& other) {
  if (this != &other) *state_ = *other.state_;
}

bool ErrorReporter::SameVisibleState(const ErrorReporter& other) const {
  const State& a = *state_;
  const State& b = *other.state_;
  if (a.current != b.current || a.pending != b.pending || a.parameters.size() != b.parameters.size() ||
      a.parameterChars != b.parameterChars || a.immediateMark != b.immediateMark || a.channels != b.channels) {
    return false;
  }
  for (std::size_t p = 0; p < a.parameters.size(); ++p) {
    const Parameter& x = a.parameters[p];
    const Parameter& y = b.parameters[p];
    if (x.kind != y.kind || x.index != y.index || x.value != y.value) return false;
  }
  for (int l = 1; l <= kMaxLevels; ++l) {
    const StackLevel& x = a.levels[static_cast<std::size_t>(l)];
    const StackLevel& y = b.levels[static_cast<std::size_t>(l)];
    if (x.userCallable != y.userCallable) return false;
    if (l <= a.current && (x.name != y.name || x.type != y.type || x.code != y.code)) return false;
  }
  return true;
}

void ErrorReporter::Replay(std::string_view printed, std::string_view lastMessage) {
  if (printed.empty()) return;
  if (out_ != nullptr) *out_ << printed;
  lastMessage_.assign(lastMessage);
}

void ErrorReporter::DropLevelsAbove(int level) {
  State& s = *state_;
  level = std::clamp(level, 1, kMaxLevels);
  if (s.current > level) {
    // Level + 1 keeps its record, as a popped routine's; the ones above it are freed.
    for (int l = level + 2; l <= std::min(s.current + 1, kMaxLevels); ++l) {
      s.levels[static_cast<std::size_t>(l)].type = -1;
      s.levels[static_cast<std::size_t>(l)].code = -1;
    }
    s.current = level;
  }
  s.pending.clear();
  s.ClearParameters();
  s.immediateMark.fill(false);
}

void ErrorReporter::Write(std::string text) {
  if (out_ != nullptr) {
    *out_ << text;
    out_->flush();
  }
  lastMessage_ = std::move(text);
}

void ErrorReporter::StopRun() {
  if (out_ != nullptr) out_->flush();
  throw RunStopped();
}

void ErrorReporter::AddParameter(char kind, int index, std::string value) {
  if (index < 1 || index > 9) return;
  State& s = *state_;
  // Each entry takes its kind letter, its index digit, its value and a separator.
  const std::size_t size = value.size() + 3;
  if (s.parameterChars + size > kParameterCapacity) return;
  s.parameterChars += size;
  s.parameters.push_back({kind, index, std::move(value)});
}

void ErrorReporter::PrintErrorMessage() {
  State& s = *state_;
  if (s.pending.empty()) return;
  const StackLevel& level = s.Top();
  std::string out;

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
  std::string_view firstPart;
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
  out += "\n *** ";
  out += TypeWord(level.type);
  out += " ERROR";
  out += header;
  out += firstPart;
  out += "\n";

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
    out += " ***          ";
    out += piece;
    out += "\n";
  }

  if (kTraceback && s.current > 2) {
    out += "     Here is a traceback of subprogram calls in reverse order:\n";
    out += "     Routine name               ";
    out += " ";
    out += "    Error type  Error code\n";
    out += "     ------------  ";
    out += fixed::Blanks(14);
    out += "    ----------  ----------\n";
    for (int l = s.current; l >= 1; --l) {
      const StackLevel& row = s.levels[static_cast<std::size_t>(l)];
      out += "     ";
      out += DisplayName(row.name, false);
      out += fixed::FormatI(row.type, 6);
      out += fixed::Blanks(6);
      out += fixed::FormatI(row.code, 6);
      if (l != 1 && !row.userCallable) out += "    (Called internally)";
      out += "\n";
    }
  }

  s.pending.clear();
  s.ClearParameters();
  Write(std::move(out));
}

void ErrorReporter::MachineryStop(std::string message) {
  State& s = *state_;
  s.Top().type = 5;
  s.Top().code = 1;
  s.pending = std::move(message);
  PrintErrorMessage();
  StopRun();
}

void ErrorReporter::Push(std::string_view name) { PushPadded(PaddedRoutineName(name)); }

void ErrorReporter::PushPadded(const RoutineName& name) {
  State& s = *state_;
  if (s.current < kMaxLevels) {
    StackLevel& level = s.levels[static_cast<std::size_t>(++s.current)];
    level.name = name;
    level.type = 0;
    level.code = 0;
    return;
  }
  SetInteger(1, kMaxLevels);
  Record(ErrorType::Terminal, 1, "Error condition in E1PSH.  Push would cause stack level to exceed %(I1). ");
  StopRun();
}

void ErrorReporter::Pop(std::string_view name) { PopPadded(PaddedRoutineName(name), name); }

// Pops the routine whose padded name is `name`; `given` is the name as the
// caller gave it, for the messages.
void ErrorReporter::PopPadded(const RoutineName& name, std::string_view given) {
  State& s = *state_;
  if (s.current < 2) {
    Push("E1POP");
    SetText(1, given);
    Record(ErrorType::Terminal, 1, "Error condition in E1POP.  Cannot pop from %(L1) because stack is empty.");
    DropLevelsAbove(1);
    StopRun();
  }
  StackLevel& level = s.Top();
  if (level.name != name) {
    SetText(1, given);
    SetText(2, std::string_view(level.name.data(), level.name.size()));
    Record(ErrorType::Terminal, 2, "Error condition in E1POP.  %(L1) does not match the name %(L2) in the stack.");
    StopRun();
  }
  const int t = level.type;
  bool stop = false;
  if (t != 0) {
    StackLevel& caller = s.levels[static_cast<std::size_t>(s.current - 1)];
    if (t >= 2 && t <= 7) {
      caller.type = t;
      caller.code = level.code;
    }
    if (t <= 4) {
      if (Printed(t) && level.userCallable) PrintErrorMessage();
      stop = Stops(t) && level.userCallable;
    } else {
      if (Printed(t)) PrintErrorMessage();
      if (t == 5) stop = Stops(5);
      if (t == 6 || t == 7) {
        bool marked = false;
        for (int type : {6, 7}) {
          if (s.immediateMark[static_cast<std::size_t>(type)] && Stops(type)) marked = true;
          s.immediateMark[static_cast<std::size_t>(type)] = false;
        }
        stop = marked && level.userCallable;
      }
    }
  }
  // The routine has returned, also when it stops the run: a caller that
  // catches the stop finds its own level current.
  if (s.current + 1 <= kMaxLevels) {
    s.levels[static_cast<std::size_t>(s.current + 1)].type = -1;
    s.levels[static_cast<std::size_t>(s.current + 1)].code = -1;
  }
  --s.current;
  if (stop) StopRun();
}

void ErrorReporter::Record(ErrorType type, int code, std::string_view message) {
  State& s = *state_;
  StackLevel& level = s.Top();
  const int t = static_cast<int>(type);
  if (t != -1) level.type = t;
  if (code >= 0) level.code = code;
  if (t == 0 || code == 0) {
    s.pending.clear();
  } else {
    if (!(message.empty() || message == " ")) {
      s.pending = ".  " + Substitute(message.substr(0, std::min(message.size(), kMessageCapacity)), s.parameters);
      if (s.pending.size() > kMessageCapacity) s.pending.resize(kMessageCapacity);
    }
    if (level.type == 6 || level.type == 7) s.immediateMark[static_cast<std::size_t>(level.type)] = true;
    if (level.type >= 5 && Printed(level.type)) PrintErrorMessage();
  }
  s.ClearParameters();
}

void ErrorReporter::SetInteger(int index, long long value) { AddParameter('I', index, std::to_string(value)); }

void ErrorReporter::SetReal(int index, float value) {
  AddParameter('R', index, TrimLeft(fixed::FormatScaledE(value, 14, 6, 'E')));
}

void ErrorReporter::SetDouble(int index, double value) {
  AddParameter('D', index, TrimLeft(fixed::FormatScaledE(value, 24, 15, 'D')));
}

void ErrorReporter::SetText(int index, std::string_view text) {
  const auto last = text.find_last_not_of(' ');
  AddParameter('L', index, last == std::string_view::npos ? " " : std::string(text.substr(0, last + 1)));
}

void ErrorReporter::SetUserCallable(std::string_view sw) {
  State& s = *state_;
  if (sw == "ON" || sw == "on" || sw == "OFF" || sw == "off") {
    if (s.current < kMaxLevels) {
      s.levels[static_cast<std::size_t>(s.current + 1)].userCallable = (sw == "ON" || sw == "on");
    }
    return;
  }
  SetText(1, sw);
  Record(ErrorType::Terminal, 1,
         "Invalid value for SWITCH in call to E1USR.  SWITCH must be set to 'ON' or 'OFF'.  SWITCH = "
         "'%(L1)' ");
}

int ErrorReporter::LevelField(int option, const char* routine, bool code) {
  const State& s = *state_;
  if (option != 0 && option != 1) {
    MachineryStop(std::string(".  The argument passed to ") + routine + " must be 0 or 1.");
  }
  const int l = s.current + option;
  if (l > kMaxLevels) return -1;
  const StackLevel& level = s.levels[static_cast<std::size_t>(l)];
  return code ? level.code : level.type;
}

int ErrorReporter::LevelCode(int option) { return LevelField(option, "N1RCD", true); }
int ErrorReporter::LevelType(int option) { return LevelField(option, "N1RTY", false); }

void ErrorReporter::Channel(int n, int& channel) {
  State& s = *state_;
  const long long magnitude = std::llabs(static_cast<long long>(n));
  if (magnitude < 1 || magnitude > 3) {
    Write("\n *** TERMINAL ERROR 5 from UMACH.  The absolute\n"
          " ***          value of the index variable must be\n"
          " ***          1, 2, or 3.  IABS(N) = " +
          fixed::FormatI(magnitude, 6) + ".\n\n");
    StopRun();
  }
  if (n > 0) {
    channel = s.channels[static_cast<std::size_t>(n)];
  } else {
    s.channels[static_cast<std::size_t>(magnitude)] = channel;
  }
}

int ErrorReporter::MachineInteger(int n) {
  static constexpr std::array<int, 13> kConstants = {0,  32, 4,    2,  31, 2147483647, 2,
                                                     24, -125, 128, 53, -1021, 1024};
  if (n < 1 || n > 12) {
    Write("\n *** TERMINAL ERROR 5 from IMACH.  The argument\n"
          " ***          must be between 1 and 12 inclusive.\n"
          " ***          N = " +
          fixed::FormatI(n, 6) + ".\n\n");
    StopRun();
  }
  return kConstants[static_cast<std::size_t>(n)];
}

ErrorReporterScope::ErrorReporterScope(ErrorReporter& reporter) : previous_(boundReporter) {
  boundReporter = &reporter;
}

ErrorReporterScope::~ErrorReporterScope() { boundReporter = previous_; }

ErrorReporter& CurrentErrorReporter() {
  if (boundReporter != nullptr) return *boundReporter;
  // Each thread without a binding has its own, so threads never share state.
  thread_local ErrorReporter fallback;
  return fallback;
}

RoutineScope::RoutineScope(RoutineLiteral name)
    : reporter_(CurrentErrorReporter()),
      name_(name.padded),
      level_(0),
      exceptions_(std::uncaught_exceptions()) {
  reporter_.PushPadded(name_);
  level_ = reporter_.Level();
}

RoutineScope::~RoutineScope() noexcept(false) {
  if (std::uncaught_exceptions() > exceptions_) {
    reporter_.DropLevelsAbove(level_ - 1);
    return;
  }
  try {
    reporter_.PopPadded(name_, std::string_view(name_.data(), name_.size()));
  } catch (...) {
    // A stop has popped the level already; a pop refused for a wrong name has not.
    reporter_.DropLevelsAbove(level_ - 1);
    throw;
  }
}

void E1PSH(std::string_view name) { CurrentErrorReporter().Push(name); }
void E1POP(std::string_view name) { CurrentErrorReporter().Pop(name); }
void E1MES(ErrorType type, int code, std::string_view message) { CurrentErrorReporter().Record(type, code, message); }

void SetErrorInteger(int index, long long value) { CurrentErrorReporter().SetInteger(index, value); }
void SetErrorReal(int index, float value) { CurrentErrorReporter().SetReal(index, value); }
void SetErrorDouble(int index, double value) { CurrentErrorReporter().SetDouble(index, value); }
void SetErrorText(int index, std::string_view text) { CurrentErrorReporter().SetText(index, text); }

void E1USR(std::string_view sw) { CurrentErrorReporter().SetUserCallable(sw); }
int N1RCD(int option) { return CurrentErrorReporter().LevelCode(option); }
int N1RTY(int option) { return CurrentErrorReporter().LevelType(option); }

void UMACH(int n, int& channel) { CurrentErrorReporter().Channel(n, channel); }
int IMACH(int n) { return CurrentErrorReporter().MachineInteger(n); }

}  // namespace odefit
