#pragma once
// Fixed-width formatted input and output: the edit descriptors Iw, Fw.d, A,
// 1X and the scaled exponent forms 1PEw.d / 1PDw.d. Everything in odefit
// that reads or writes a number goes through this file.
//
// Output rules: numbers are right-justified in w characters, and no value is
// hidden behind asterisks when it can be shown. An integer wider than its
// field is written in full (the field widens). Fw.d rounds exactly like
// printf("%w.df"); a value below 1 in magnitude gets its leading 0 only when
// there is room; a negative value that rounds to zero keeps its minus sign. A
// real too wide for Fw.d keeps the width w: it gets fewer decimals, down to
// none with the point kept ("1000." for 999.96 in F5.1), and when no number of
// decimals fits, a mantissa with as many decimals as fit, "E", the exponent's
// sign and at least two digits ("1.0000E+12" for 1e12 in F10.5); only when
// even "1.E+12" does not fit is the field w asterisks. NaN is written
// right-justified as "NaN"; +-infinity as "Infinity" when it fits, else "Inf",
// else asterisks. Fw.0 and 1PEw.0 still write the decimal point ("3.",
// "2.E+00"), as the F and E forms always do; 1PEw.d too wide for w is w
// asterisks. Digits are formed without regard to the process locale (the
// point is always '.').
//
// Input rules: only the first w characters of a line form the field; blanks
// inside the field are ignored; an all-blank field reads 0; Fw.d without a
// decimal point has d implied decimals counted from the right end of the
// mantissa's digits; E and D exponents are accepted; anything else fails.

#include <istream>
#include <optional>
#include <string>
#include <string_view>

namespace odefit::fixed {

// Returns `value` in an Iw field, or in full when it is wider than w.
std::string FormatI(long long value, int w);

// Returns `value` in an Fw.d field of exactly w characters (see above).
std::string FormatF(double value, int w, int d);

// Returns `value` in a 1PEw.d field (letter 'E') or 1PDw.d field (letter 'D'):
// one nonzero digit before the point, d after, then the letter, the exponent's
// sign and two digits (three digits and no letter when |exponent| > 99).
// Zero and NaN are written as the unscaled Ew.d would write them
// ("0.000000E+00" for zero in E14.6).
std::string FormatScaledE(double value, int w, int d, char letter = 'E');

// Returns n blanks (nX).
inline std::string Blanks(int n) { return std::string(n > 0 ? n : 0, ' '); }

// Reads an Iw field from the start of `line`; nullopt when unreadable or
// outside the 32-bit range.
std::optional<int> ReadI(std::string_view line, int w);

// Reads an Fw.d field from the start of `line`, correctly rounded; nullopt
// when unreadable or too large for a double.
std::optional<double> ReadF(std::string_view line, int w, int d);

// Reads an Aw field: the first w characters of `line`, blank-padded to w.
std::string ReadA(std::string_view line, int w);

// One edit descriptor of an input format such as "(I2)", "(F20.10)", "(A1)".
struct EditDescriptor {
  char kind = 'I';  // 'I', 'F' or 'A'
  int w = 0;
  int d = 0;
};

// Parses a one-descriptor format text "(Iw)", "(Fw.d)" or "(Aw)".
std::optional<EditDescriptor> ParseEditDescriptor(std::string_view format);

// Reads one record of a text file into `line` (without its end): a record ends
// at LF, at CR LF or at a lone CR, and a final line break adds no record.
// Returns false at the end of the input. At most limit + 1 characters are
// taken: a longer record leaves `line` one character over the limit and the
// rest of the record unread, so that a caller can refuse it without reading
// a record that never ends.
bool ReadRecord(std::istream& in, std::string& line, std::size_t limit = std::string::npos);

}  // namespace odefit::fixed
