#include "dialogue/warnings.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ostream>

#include "format/fixed_format.h"
#include "integration/integrators.h"
#include "numerics/error_stack.h"

namespace odefit {
namespace {

constexpr int kSeriesFieldWidth = 20;
constexpr int kSeriesFieldDecimals = 10;
// At most this many integration steps are followed when the step plan of the
// test's intervals is looked at (a few milliseconds).
constexpr long long kStepsFollowed = 2'000'000;

void WriteNote(std::string_view prefix, std::string_view text) {
  // One flush per note: the desktop's message stream takes each flush as one message.
  if (std::ostream* out = CurrentErrorReporter().Output()) *out << prefix << text << '\n' << std::flush;
}

// Returns "1 line" or "n lines" (the noun in the singular or with an s).
std::string Count(std::int64_t n, std::string_view noun) {
  std::string text = std::to_string(n) + " " + std::string(noun);
  if (n != 1) text += "s";
  return text;
}

std::string WithoutBlanks(std::string_view text) {
  std::string kept;
  for (const char c : text) {
    if (c != ' ') kept.push_back(c);
  }
  return kept;
}

std::string Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

// Whether `text` holds characters other than blanks after its first w.
bool HasCharactersPast(std::string_view text, int w) {
  const auto width = static_cast<std::size_t>(w);
  return text.size() > width && text.find_first_not_of(" \t", width) != std::string_view::npos;
}

// Returns how to type a number without a point so that it reads as meant:
// "12. or 12.0" for 12, "1.e5 or 1.0e5" for 1e5.
std::string WithPoint(std::string_view field) {
  const std::string typed = WithoutBlanks(field);
  const std::size_t exponent = std::min(typed.find_first_of("EeDd"), typed.size());
  const std::string mantissa = typed.substr(0, exponent), rest = typed.substr(exponent);
  return mantissa + "." + rest + " or " + mantissa + ".0" + rest;
}

// Returns the terms of the 1-based `columns` as "a", "a and b", "a, b and
// c", at most kListed of them and then how many more.
std::string TermList(const std::vector<std::string>& names, const std::vector<int>& columns) {
  constexpr std::size_t kListed = 12;
  const std::size_t shown = std::min(columns.size(), kListed);
  std::string list;
  for (std::size_t k = 0; k < shown; ++k) {
    if (k > 0) list += k + 1 == shown && shown == columns.size() ? " and " : ", ";
    const auto column = static_cast<std::size_t>(columns[k] - 1);
    list += column < names.size() ? names[column] : "term " + std::to_string(columns[k]);
  }
  if (shown < columns.size()) list += " and " + std::to_string(columns.size() - shown) + " more";
  return list;
}

}  // namespace

void Warn(std::string_view text) { WriteNote("odefit: warning: ", text); }
void Note(std::string_view text) { WriteNote("odefit: ", text); }

std::string NumberText(double value, int significant) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
  char digits[64];
  const auto end = significant > 0
                       ? std::to_chars(digits, digits + sizeof digits, value, std::chars_format::general, significant).ptr
                       : std::to_chars(digits, digits + sizeof digits, value).ptr;
  std::string text(digits, end);
  const std::size_t e = text.find('e');
  std::string mantissa = text.substr(0, e);
  if (mantissa.find('.') == std::string::npos) mantissa += ".0";
  if (e == std::string::npos) return mantissa;
  // "1e-10" -> "1.0E-10": the exponent's sign always, and at least two digits.
  const char sign = text[e + 1] == '-' ? '-' : '+';
  std::string exponent = text.substr(e + (text[e + 1] == '-' || text[e + 1] == '+' ? 2 : 1));
  mantissa += 'E';
  mantissa += sign;
  if (exponent.size() < 2) mantissa += '0';
  return mantissa + exponent;
}

std::string ShownText(std::string_view text) {
  constexpr std::size_t kShown = 40;
  std::string shown;
  for (std::size_t i = 0; i < text.size() && i < kShown; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    shown.push_back(c < 0x20 || c == 0x7f ? '?' : static_cast<char>(c));
  }
  if (text.size() > kShown) shown += "...";
  return shown;
}

std::string QuotedText(std::string_view text) {
  std::string quoted(1, '"');
  quoted += ShownText(text);
  quoted += '"';
  return quoted;
}

std::string PromptLabel(std::string_view prompt) {
  std::string label = Trimmed(prompt);
  // "3) The value ..." -> "The value ...": the question's number is no name.
  const std::size_t number = label.find(") ");
  if (number != std::string::npos && number > 0 &&
      label.find_first_not_of("0123456789") == number) {
    label.erase(0, number + 2);
  }
  if (!label.empty() && label.back() == '=') {
    const std::size_t name = label.find_last_of(' ', label.size() - 3);
    if (name != std::string::npos) label.erase(0, name + 1);
  }
  return label;
}

void WarnAboutRealAnswer(std::string_view prompt, std::string_view answer, int w, int d, double value) {
  const std::string subject = PromptLabel(prompt) + " " + ShownText(Trimmed(answer));
  const std::string_view field = answer.substr(0, static_cast<std::size_t>(w));
  const std::string typed = WithoutBlanks(field);
  const std::string_view mantissa = std::string_view(typed).substr(0, typed.find_first_of("EeDd"));
  // Only a positive value is advised on: every real the dialogue asks for
  // must be, and typing a refused value with its point helps nobody.
  if (d > 0 && value > 0.0 && typed.find('.') == std::string::npos && mantissa.find_first_of("123456789") != std::string::npos) {
    Warn(subject + " was read as " + NumberText(value) + ": type " + WithPoint(field) +
         " (a number without a decimal point has " + std::to_string(d) + " implied decimals)");
  }
  if (HasCharactersPast(answer, w)) {
    Warn(subject + " was read as " + NumberText(value) + ": only its first " + std::to_string(w) +
         " characters count");
  }
}

void WarnAboutIntegerAnswer(std::string_view prompt, std::string_view answer, int w, int value) {
  if (!HasCharactersPast(answer, w)) return;
  Warn(PromptLabel(prompt) + " " + ShownText(Trimmed(answer)) + " was read as " + std::to_string(value) +
       ": only its first " + Count(w, "character") + (w == 1 ? " counts" : " count"));
}

void NoteRefusedSeries(const std::string& name, const SeriesFindings& found, std::int64_t records, int D) {
  if (found.unreadableLine > 0) {
    Note("cannot read " + name + ": line " + std::to_string(found.unreadableLine) + " " +
         QuotedText(found.unreadableText) + " is not a number");
  } else if (records == found.blank.count) {
    Note(name + " holds no numbers");
  } else {
    Note(name + " holds " + Count(records, "number") + ", " + Count(records / D, "vector") + " of D = " +
         std::to_string(D) + ": at least 2 vectors are needed");
  }
}

void WarnAboutSeriesValues(const std::string& name, const SeriesFindings& found) {
  const auto lines = [](const RecordTally& tally, std::string_view singular, std::string_view plural) {
    return Count(tally.count, "line") + " " + std::string(tally.count == 1 ? singular : plural);
  };
  const auto read = [](const RecordTally& tally) {
    const auto value = fixed::ReadF(tally.firstText, kSeriesFieldWidth, kSeriesFieldDecimals);
    return "line " + std::to_string(tally.firstLine) + " " + QuotedText(tally.firstText) + " was read as " +
           NumberText(value.value_or(0.0));
  };
  if (const RecordTally& t = found.withoutPoint; t.count > 0) {
    Warn(name + ": " + lines(t, "has", "have") + " no decimal point, which gives " +
         std::to_string(kSeriesFieldDecimals) + " implied decimals: " + read(t) + "; write " +
         WithPoint(std::string_view(t.firstText).substr(0, kSeriesFieldWidth)));
  }
  if (const RecordTally& t = found.pastField; t.count > 0) {
    Warn(name + ": " + lines(t, "has", "have") + " characters past column 20, which are ignored: " + read(t) +
         " from " + QuotedText(std::string_view(t.firstText).substr(0, kSeriesFieldWidth)) +
         "; keep every value within 20 characters");
  }
  if (const RecordTally& t = found.blank; t.count > 0) {
    Warn(name + ": " + lines(t, "is", "are") + " blank and read as 0, the first at line " +
         std::to_string(t.firstLine));
  }
}

void WarnAboutEvenM(const RunSettings& s) {
  if (s.m % 2 != 0) return;
  std::string odd;
  if (s.m - 1 >= 3) odd = std::to_string(s.m - 1);
  if (s.m + 1 <= s.Ntrain) odd += (odd.empty() ? "" : " or ") + std::to_string(s.m + 1);
  Warn("m = " + std::to_string(s.m) +
       " is even: each smoothed state belongs to a sample and its slope to the point half a sample "
       "later, so the fitted coefficients are biased; an odd m" +
       (odd.empty() ? std::string() : " (" + odd + ")") + " avoids it");
}

void WarnAboutStep(const RunSettings& s) {
  if (s.method != 1 && s.method != 2) return;  // RK-5,6 only starts with h and chooses its own steps
  // Follow the model orbit run's intervals, T = t0, t0 + dt, ..., as the
  // integrators will see them.
  const std::int64_t intervals = Ntest(s) - 1;
  double T = (s.Ntrain + 1) * s.dt;
  // Times beyond the doubles' range, or steps below their resolution, leave
  // the step loop nothing to count.
  if (!std::isfinite(T + static_cast<double>(intervals) * s.dt) || T + s.h == T) return;
  long long followed = 0, withRest = 0, withoutFullStep = 0, steps = 0;
  long long fewest = 0, most = 0;  // full steps of the intervals with a closing step
  double firstRest = 0.0;
  for (; followed < intervals && steps < kStepsFollowed; ++followed) {
    const double TEND = T + s.dt;
    const IntervalSteps plan = PlanInterval(T, TEND, s.h);
    if (plan.closingStep > 0.0) {
      if (withRest++ == 0) {
        firstRest = plan.closingStep;
        fewest = most = plan.fullSteps;
      }
      fewest = std::min(fewest, plan.fullSteps);
      most = std::max(most, plan.fullSteps);
    }
    if (plan.fullSteps == 0) ++withoutFullStep;
    steps += plan.fullSteps + 1;
    T = TEND;
  }
  if (withRest == 0) return;
  const std::string h = "h = " + NumberText(s.h), dt = "dt = " + NumberText(s.dt);
  const std::string method = s.method == 1 ? "Euler" : "RK-4";
  const std::string hint = "; h = dt avoids it";
  if (withoutFullStep == followed) {
    Warn(h + " is larger than " + dt + ": no step of h fits in a sampling interval, so every interval is one " +
         "Euler step of length dt" + (s.method == 2 ? " and RK-4 is never used" : "") + hint);
    return;
  }
  const double ratio = s.dt / s.h;
  const bool divides = std::abs(ratio - std::round(ratio)) <= 1e-9 * ratio;
  const std::string full =
      (fewest == most ? Count(most, "step") : std::to_string(fewest) + " or " + Count(most, "step")) + " of h (" +
      method + ")";
  const std::string rest = "one closing Euler step of about " + NumberText(firstRest, 4);
  const std::string which = withRest == followed
                                ? "every sampling interval of the test takes " + full + " and then " + rest
                                : "in " + std::to_string(withRest) + " of the " +
                                      Count(followed, "sampling interval") + " from the start of the test, " +
                                      full + ", then " + rest;
  Warn(h + (divides ? " divides " + dt + " only up to rounding: " : " does not divide " + dt + ": ") + which + hint);
}

void NoteSingularFit(int i, const std::vector<std::string>& names, const DependentColumns& found) {
  const auto terms = [&names](const std::vector<int>& columns, std::string_view one, std::string_view many) {
    return std::string(columns.size() == 1 ? "its term " : "its terms ") + TermList(names, columns) + " " +
           std::string(columns.size() == 1 ? one : many);
  };
  std::string why;
  if (!found.zero.empty()) why = terms(found.zero, "is zero on every training row", "are zero on every training row");
  if (!found.dependent.empty()) {
    if (!why.empty()) why += ", and ";
    why += terms(found.dependent, "depends on the terms before it", "depend on the terms before them");
  }
  if (why.empty()) why = "its terms are dependent on the training rows";
  Note("equation " + std::to_string(i) + " cannot be fitted: " + why + "; choose another family or another order");
}

}  // namespace odefit
