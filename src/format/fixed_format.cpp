// Fixed-width formatted input and output (see fixed_format.h for the rules).
//
// Digits come from std::to_chars with an explicit precision. It rounds the
// exact binary value to the requested number of decimals, half to even on
// exact ties, so it gives the same digits as glibc's printf("%.*f") and
// printf("%.*e") (the tests check this against snprintf), but unlike printf
// it never depends on the process locale: a GUI toolkit that calls
// setlocale(LC_ALL, "") cannot turn the decimal point into a comma.
// Likewise input goes through std::from_chars, never strtod.

#include "format/fixed_format.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <streambuf>
#include <system_error>

namespace odefit::fixed {
namespace {

// Returns w asterisks (the "does not fit" field).
std::string Asterisks(int w) { return std::string(w > 0 ? w : 0, '*'); }

// Returns `text` right-justified in w characters, or w asterisks when it is
// longer than w.
std::string RightJustify(std::string_view text, int w) {
  if (w <= 0) return std::string();
  const auto width = static_cast<std::size_t>(w);
  if (text.size() > width) return Asterisks(w);
  std::string field(width - text.size(), ' ');
  field.append(text);
  return field;
}

// Returns NaN or an infinity in a field of width w: "NaN", "Infinity" when
// it fits, else "Inf" (each with a leading minus for -infinity), else w
// asterisks.
std::string FormatNonFinite(double value, int w) {
  if (std::isnan(value)) return RightJustify("NaN", w);
  const bool negative = std::signbit(value);
  const std::string_view long_form = negative ? "-Infinity" : "Infinity";
  if (long_form.size() <= static_cast<std::size_t>(w > 0 ? w : 0)) {
    return RightJustify(long_form, w);
  }
  return RightJustify(negative ? "-Inf" : "Inf", w);
}

// Writes `value` with `precision` digits in `format` (fixed or scientific)
// into `out`. Returns the number of characters.
std::size_t ToChars(std::string& out, double value, std::chars_format format,
                    int precision) {
  // Room for the longest result. Fixed: sign, 309 integer digits, point,
  // decimals. Scientific: sign, digit, point, decimals, "e+308".
  out.resize(static_cast<std::size_t>(precision) + 330);
  const auto result = std::to_chars(out.data(), out.data() + out.size(), value,
                                    format, precision);
  return static_cast<std::size_t>(result.ptr - out.data());
}

// Returns `text` right-justified in w characters, first dropping the "0" of a
// leading "0." or "-0." when `text` is wider than w (the zero is optional in
// the F and E forms); nullopt when it is still too wide.
std::optional<std::string> FitWithOptionalZero(std::string text, int w) {
  const auto width = static_cast<std::size_t>(w);
  if (text.size() > width) {
    const std::size_t at = (!text.empty() && text[0] == '-') ? 1 : 0;
    // Only drop the zero when a digit follows the point: "." alone (or "-.")
    // would carry no digit at all.
    if (text.size() > at + 2 && text[at] == '0' && text[at + 1] == '.' &&
        text[at + 2] >= '0' && text[at + 2] <= '9') {
      text.erase(at, 1);
    }
  }
  if (text.size() > width) return std::nullopt;
  return RightJustify(text, w);
}

// Returns `value` in w characters as a mantissa with one digit before the
// point and as many decimals as fit, "E", the exponent's sign and at least
// two digits ("1.0000E+12"); w asterisks when even "1.E+12" is too wide.
std::string FormatMantissaExponent(double value, int w) {
  std::string text;
  // "d." and "E+dd" take six characters, so no more than w - 6 decimals fit.
  for (int decimals = std::max(w - 6, 0); decimals >= 0; --decimals) {
    text.resize(ToChars(text, value, std::chars_format::scientific, decimals));
    const std::size_t e_at = text.find('e');
    std::string field = text.substr(0, e_at);
    if (decimals == 0) field.push_back('.');
    field.push_back('E');
    field.push_back(text[e_at + 1]);
    // to_chars writes at least two exponent digits, as wanted.
    field.append(text, e_at + 2, std::string::npos);
    if (field.size() <= static_cast<std::size_t>(w)) return RightJustify(field, w);
  }
  return Asterisks(w);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Access to a stream buffer's get area (gptr, egptr, gbump are protected).
// A pointer to a protected member may be formed inside a derived class and
// then applied to any std::streambuf: ReadRecord scans the buffered
// characters in place, as std::getline does, instead of one sbumpc() each.
struct GetArea : std::streambuf {
  static constexpr char* (std::streambuf::*kGptr)() const = &GetArea::gptr;
  static constexpr char* (std::streambuf::*kEgptr)() const = &GetArea::egptr;
  static constexpr void (std::streambuf::*kGbump)(int) = &GetArea::gbump;
};

}  // namespace

std::string FormatI(long long value, int w) {
  if (w <= 0) return std::string();
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  const std::string_view text(digits, static_cast<std::size_t>(result.ptr - digits));
  // A number wider than its field is written in full: asterisks would hide it.
  if (text.size() >= static_cast<std::size_t>(w)) return std::string(text);
  return RightJustify(text, w);
}

std::string FormatF(double value, int w, int d) {
  if (w <= 0) return std::string();
  if (d < 0) d = 0;
  if (!std::isfinite(value)) return FormatNonFinite(value, w);
  // A value too wide for d decimals keeps the width with fewer, down to none;
  // beyond that it is written with an exponent, so that no value is hidden.
  std::string text;
  for (int decimals = d; decimals >= 0; --decimals) {
    text.resize(ToChars(text, value, std::chars_format::fixed, decimals));
    // Fw.0 still writes the decimal point ("3."), as the F form always does;
    // printf("%.0f") would not.
    if (decimals == 0) text.push_back('.');
    if (auto field = FitWithOptionalZero(text, w)) return *std::move(field);
  }
  return FormatMantissaExponent(value, w);
}

std::string FormatScaledE(double value, int w, int d, char letter) {
  if (w <= 0) return std::string();
  if (d < 0) d = 0;
  if (!std::isfinite(value)) return FormatNonFinite(value, w);

  std::string text;
  if (value == 0.0) {
    // Plain Ew.d of zero: "0.000000E+00" (the sign of -0.0 is kept).
    text = std::signbit(value) ? "-0." : "0.";
    text.append(static_cast<std::size_t>(d), '0');
    text.push_back(letter);
    text.append("+00");
    return FitWithOptionalZero(std::move(text), w).value_or(Asterisks(w));
  }

  // "d.ddddde+XX" (at least two exponent digits, three when needed).
  text.resize(ToChars(text, value, std::chars_format::scientific, d));
  const std::size_t e_at = text.find('e');
  int exponent = 0;
  std::from_chars(text.data() + e_at + 2, text.data() + text.size(), exponent);
  if (text[e_at + 1] == '-') exponent = -exponent;
  text.resize(e_at);
  if (d == 0) text.push_back('.');  // "2.E+00", as for Fw.0

  const int magnitude = exponent < 0 ? -exponent : exponent;
  if (magnitude <= 99) text.push_back(letter);  // else "+100": no letter
  text.push_back(exponent < 0 ? '-' : '+');
  char digits[4];
  int count = 0;
  if (magnitude > 99)
    digits[count++] = static_cast<char>('0' + magnitude / 100);
  digits[count++] = static_cast<char>('0' + magnitude / 10 % 10);
  digits[count++] = static_cast<char>('0' + magnitude % 10);
  text.append(digits, static_cast<std::size_t>(count));
  return RightJustify(text, w);
}

std::optional<int> ReadI(std::string_view line, int w) {
  const std::string_view head =
      line.substr(0, static_cast<std::size_t>(w > 0 ? w : 0));
  std::size_t at = 0;
  const std::size_t end = head.size();
  const auto skip_blanks = [&] {
    while (at < end && head[at] == ' ') ++at;
  };

  skip_blanks();
  if (at == end) return 0;  // an all-blank field
  bool negative = false;
  if (head[at] == '+' || head[at] == '-') {
    negative = head[at] == '-';
    ++at;
    skip_blanks();
  }
  if (at == end) return std::nullopt;  // a sign alone
  // Accumulate the magnitude, giving up as soon as it leaves the 32-bit range
  // (so any number of digits is safe).
  const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
  long long magnitude = 0;
  for (; at < end; ++at, skip_blanks()) {
    if (!IsDigit(head[at])) return std::nullopt;
    magnitude = magnitude * 10 + (head[at] - '0');
    if (magnitude > limit) return std::nullopt;
  }
  return static_cast<int>(negative ? -magnitude : magnitude);
}

std::optional<double> ReadF(std::string_view line, int w, int d) {
  if (d < 0) d = 0;
  const std::string_view head =
      line.substr(0, static_cast<std::size_t>(w > 0 ? w : 0));

  // The decimal text handed to from_chars: sign, the mantissa's digits
  // without leading zeros, 'e', the adjusted exponent. It is never longer
  // than the field plus the exponent, so a small field stays on the stack.
  constexpr std::size_t kStackSize = 128;
  constexpr std::size_t kExponentRoom = 24;
  char stack[kStackSize];
  std::unique_ptr<char[]> heap;
  char* text = stack;
  if (head.size() + kExponentRoom > kStackSize) {
    heap = std::make_unique<char[]>(head.size() + kExponentRoom);
    text = heap.get();
  }
  std::size_t length = 0;

  // Grammar, blanks ignored anywhere:
  //   [sign] (digits [. [digits]] | . digits) [(E|e|D|d) [sign] digits]
  std::size_t at = 0;
  const std::size_t end = head.size();
  const auto skip_blanks = [&] {
    while (at < end && head[at] == ' ') ++at;
  };

  skip_blanks();
  if (at == end) return 0.0;  // an all-blank field
  bool negative = false;
  if (head[at] == '+' || head[at] == '-') {
    negative = head[at] == '-';
    if (negative) text[length++] = '-';
    ++at;
  }
  const std::size_t first_digit = length;

  // Mantissa: its digits and how many of them follow the decimal point
  // (explicit, or d implied ones when there is no point).
  std::size_t mantissa_digits = 0;
  long long fraction_digits = 0;
  bool point = false;
  for (skip_blanks(); at < end; ++at, skip_blanks()) {
    const char c = head[at];
    if (IsDigit(c)) {
      ++mantissa_digits;
      if (point) ++fraction_digits;
      if (length > first_digit || c != '0') text[length++] = c;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (mantissa_digits == 0) return std::nullopt;  // "+", ".", "e5", "+.e5"
  if (!point) fraction_digits = d;

  // Exponent: a letter, an optional sign and at least one digit.
  long long exponent = 0;
  if (at < end) {
    const char letter = head[at];
    if (letter != 'E' && letter != 'e' && letter != 'D' && letter != 'd') {
      return std::nullopt;  // a second point, a sign inside, letters, ...
    }
    ++at;
    skip_blanks();
    bool exponent_negative = false;
    if (at < end && (head[at] == '+' || head[at] == '-')) {
      exponent_negative = head[at] == '-';
      ++at;
      skip_blanks();
    }
    if (at == end) return std::nullopt;  // "1e", "1e+"
    // Saturate far beyond any double's range, so long digit runs cannot
    // overflow; the result is then an overflow (failure) or an underflow (0).
    constexpr long long kExponentCap = 1'000'000'000;
    for (; at < end; ++at, skip_blanks()) {
      if (!IsDigit(head[at])) return std::nullopt;
      if (exponent < kExponentCap) exponent = exponent * 10 + (head[at] - '0');
    }
    if (exponent_negative) exponent = -exponent;
  }

  const std::size_t significant_digits = length - first_digit;
  if (significant_digits == 0) return negative ? -0.0 : 0.0;  // all zeros

  // value = digits x 10^scale, converted once, correctly rounded.
  const long long scale = exponent - fraction_digits;
  text[length++] = 'e';
  char* const room_end = text + length + kExponentRoom - 2;
  const char* const exponent_end =
      std::to_chars(text + length, room_end, scale).ptr;
  length = static_cast<std::size_t>(exponent_end - text);

  double value = 0.0;
  const auto result = std::from_chars(text, text + length, value);
  if (result.ec == std::errc::result_out_of_range) {
    // The decimal exponent of the leading digit decides: overflow fails,
    // underflow to zero is an ordinary (zero) value.
    const long long leading_exponent =
        scale + static_cast<long long>(significant_digits) - 1;
    if (leading_exponent >= 0) return std::nullopt;
    return negative ? -0.0 : 0.0;
  }
  if (result.ec != std::errc() || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::string ReadA(std::string_view line, int w) {
  if (w <= 0) return std::string();
  std::string field(line.substr(0, static_cast<std::size_t>(w)));
  field.resize(static_cast<std::size_t>(w), ' ');
  return field;
}

std::optional<EditDescriptor> ParseEditDescriptor(std::string_view format) {
  if (format.size() < 4 || format.front() != '(' || format.back() != ')') {
    return std::nullopt;
  }
  std::string_view body = format.substr(1, format.size() - 2);
  EditDescriptor descriptor;
  const char kind = body[0] == 'i' || body[0] == 'f' || body[0] == 'a'
                        ? static_cast<char>(body[0] - 'a' + 'A')
                        : body[0];
  if (kind != 'I' && kind != 'F' && kind != 'A') return std::nullopt;
  descriptor.kind = kind;
  body.remove_prefix(1);

  // Reads an unsigned decimal number of 1 to 9 digits from the front of body.
  const auto read_number = [&body](int& number) {
    std::size_t count = 0;
    while (count < body.size() && IsDigit(body[count])) ++count;
    if (count == 0 || count > 9) return false;
    std::from_chars(body.data(), body.data() + count, number);
    body.remove_prefix(count);
    return true;
  };

  if (!read_number(descriptor.w) || descriptor.w == 0) return std::nullopt;
  if (descriptor.kind == 'F') {
    if (body.empty() || body[0] != '.') return std::nullopt;
    body.remove_prefix(1);
    if (!read_number(descriptor.d)) return std::nullopt;
  }
  if (!body.empty()) return std::nullopt;
  return descriptor;
}

bool ReadRecord(std::istream& in, std::string& line, std::size_t limit) {
  line.clear();
  const std::istream::sentry ok(in, /*noskipws=*/true);
  if (!ok) return false;

  using Traits = std::istream::traits_type;
  std::streambuf& buffer = *in.rdbuf();
  // Ends the record at `end` (LF or CR, already extracted): a CR followed by
  // an LF ends it together with the LF.
  const auto finish = [&buffer](char end) {
    if (end == '\r' &&
        Traits::eq_int_type(buffer.sgetc(), Traits::to_int_type('\n'))) {
      buffer.sbumpc();
    }
    return true;
  };
  bool any = false;  // whether this call extracted a character
  try {
    for (;;) {
      const char* begin = (buffer.*GetArea::kGptr)();
      const char* end = (buffer.*GetArea::kEgptr)();
      if (begin == end) {
        // Refill the get area (one virtual call per buffer, not per byte).
        if (Traits::eq_int_type(buffer.sgetc(), Traits::eof())) {
          in.setstate(any ? std::ios_base::eofbit
                          : std::ios_base::eofbit | std::ios_base::failbit);
          return any;
        }
        if ((buffer.*GetArea::kGptr)() == (buffer.*GetArea::kEgptr)()) {
          // An unbuffered stream buffer: one character at a time.
          const char c = Traits::to_char_type(buffer.sbumpc());
          any = true;
          if (c == '\n' || c == '\r') return finish(c);
          line.push_back(c);
          if (line.size() > limit) return true;
        }
        continue;
      }
      // Scan the buffered characters for the record's end (gbump takes an
      // int, hence the cap on one run), no further than one past the limit.
      any = true;
      if (end - begin > INT_MAX) end = begin + INT_MAX;
      if (limit < line.max_size() && static_cast<std::size_t>(end - begin) > limit + 1 - line.size()) {
        end = begin + (limit + 1 - line.size());
      }
      const char* stop = begin;
      while (stop != end && *stop != '\n' && *stop != '\r') ++stop;
      line.append(begin, stop);
      (buffer.*GetArea::kGbump)(static_cast<int>(stop - begin));
      if (stop != end) {
        const char c = *stop;
        buffer.sbumpc();
        return finish(c);
      }
      if (line.size() > limit) return true;
    }
  } catch (...) {
    // As the standard extractors do, an exception from the stream buffer
    // marks the stream bad.
    in.setstate(std::ios_base::badbit);
    return false;
  }
}

}  // namespace odefit::fixed
