// Tests of the fixed-width edit descriptors: one TEST per rule, exact strings,
// with the C library (snprintf, strtod) as the oracle where its rules agree.

#include "format/fixed_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace odefit::fixed {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Returns printf(format, ...) as a string (the oracle).
[[gnu::format(printf, 1, 2)]] std::string Printf(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  const int size = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(static_cast<std::size_t>(size) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, again);
  va_end(again);
  text.resize(static_cast<std::size_t>(size));
  return text;
}

// Returns strtod(text) (the oracle for input; the tests run in the "C" locale).
double Strtod(const std::string& text) {
  return std::strtod(text.c_str(), nullptr);
}

// Returns true when a and b are the same double, bit for bit.
bool SameBits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// ---------------------------------------------------------------------------
// Iw output

TEST(FormatI, RightJustifiesInTheField) {
  EXPECT_EQ(FormatI(0, 1), "0");
  EXPECT_EQ(FormatI(0, 3), "  0");
  EXPECT_EQ(FormatI(7, 2), " 7");
  EXPECT_EQ(FormatI(42, 6), "    42");
  EXPECT_EQ(FormatI(-42, 6), "   -42");
  EXPECT_EQ(FormatI(123456, 6), "123456");
  EXPECT_EQ(FormatI(-12345, 6), "-12345");
}

TEST(FormatI, WiderThanTheFieldIsWrittenInFull) {
  struct Case {
    long long value;
    int w;
    const char* field;
  };
  const Case cases[] = {
      {100, 2, "100"},
      {-1, 1, "-1"},
      {-10, 2, "-10"},
      {1234567, 6, "1234567"},
      {250000, 5, "250000"},  // "The time series contains 250000 vectors"
      {LLONG_MIN, 19, "-9223372036854775808"},
      {LLONG_MIN, 20, "-9223372036854775808"},
      {LLONG_MAX, 20, " 9223372036854775807"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatI(c.value, c.w), c.field) << c.value << " in I" << c.w;
  }
}

TEST(FormatI, NonPositiveWidthIsEmpty) {
  EXPECT_EQ(FormatI(5, 0), "");
  EXPECT_EQ(FormatI(5, -3), "");
}

TEST(FormatI, AgreesWithPrintf) {
  const long long values[] = {0,      1,       -1,      9,         -9,
                              10,     99,      -99,     100,       12345,
                              -12345, INT_MAX, INT_MIN, LLONG_MAX, LLONG_MIN};
  for (const long long value : values) {
    for (int w = 1; w <= 22; ++w) {
      const std::string expected = Printf("%*lld", w, value);
      SCOPED_TRACE(expected);
      EXPECT_EQ(FormatI(value, w), expected);
    }
  }
}

// ---------------------------------------------------------------------------
// Fw.d output

TEST(FormatF, WritesTheReferenceExamples) {
  EXPECT_EQ(FormatF(0.5, 10, 5), "   0.50000");
  EXPECT_EQ(FormatF(0.5, 6, 5), ".50000");
  EXPECT_EQ(FormatF(99.999, 5, 2), "100.0");
  EXPECT_EQ(FormatF(6.0, 8, 3), "   6.000");
  EXPECT_EQ(FormatF(999.96, 5, 1), "1000.");
  EXPECT_EQ(FormatF(1.5, 20, 10), "        1.5000000000");
}

TEST(FormatF, RightJustifiesWithLeadingBlanks) {
  EXPECT_EQ(FormatF(3.14159, 8, 3), "   3.142");
  EXPECT_EQ(FormatF(-3.14159, 8, 3), "  -3.142");
  EXPECT_EQ(FormatF(123.456, 7, 3), "123.456");
  EXPECT_EQ(FormatF(-12.5, 5, 1), "-12.5");
  EXPECT_EQ(FormatF(2.0, 4, 1), " 2.0");
}

TEST(FormatF, LeadingZeroOnlyWhenThereIsRoom) {
  EXPECT_EQ(FormatF(0.25, 5, 2), " 0.25");
  EXPECT_EQ(FormatF(0.25, 4, 2), "0.25");
  EXPECT_EQ(FormatF(0.25, 3, 2), ".25");
  EXPECT_EQ(FormatF(0.25, 2, 2), ".2");  // one decimal fewer (a tie: to even)
  EXPECT_EQ(FormatF(-0.25, 6, 2), " -0.25");
  EXPECT_EQ(FormatF(-0.25, 5, 2), "-0.25");
  EXPECT_EQ(FormatF(-0.25, 4, 2), "-.25");
  EXPECT_EQ(FormatF(-0.25, 3, 2), "-.2");
  EXPECT_EQ(FormatF(0.0, 3, 2), ".00");
  EXPECT_EQ(FormatF(0.0, 4, 2), "0.00");
  EXPECT_EQ(FormatF(0.0, 20, 10), "        0.0000000000");
  EXPECT_EQ(FormatF(0.0, 11, 10), ".0000000000");
  EXPECT_EQ(FormatF(0.5, 7, 5), "0.50000");
}

// A value too wide for its decimals keeps the width: fewer decimals down to
// none (the point kept), then a mantissa and exponent with as many decimals
// as fit, and asterisks only when even "1.E+12" does not fit.
TEST(FormatF, TooWideKeepsTheWidthBeforeItGivesAsterisks) {
  struct Case {
    double value;
    int w, d;
    const char* field;
  };
  const Case cases[] = {
      // Fewer decimals.
      {999.96, 5, 1, "1000."},
      {12345678901.234, 20, 10, "12345678901.23399925"},
      {100.0, 5, 2, "100.0"},
      {-10.0, 5, 2, "-10.0"},
      {1000.0, 5, 1, "1000."},
      {-100.0, 5, 1, "-100."},
      {1.0, 2, 2, "1."},
      {99.996, 5, 2, "100.0"},
      {-137.51204381100007, 5, 1, "-138."},  // a plot label
      {1795195802.051310301, 20, 10, "1795195802.051310301"},
      {-23984974144.2985191, 20, 10, "-23984974144.2985191"},
      {123456.0, 10, 5, "123456.000"},
      {9999.96, 6, 2, "10000."},  // the carry costs the last decimal too
      // Mantissa and exponent.
      {1e12, 10, 5, "1.0000E+12"},
      {-1e300, 20, 10, "-1.000000000000E+300"},
      {1e300, 20, 10, "1.0000000000000E+300"},
      {-DBL_MAX, 20, 10, "-1.797693134862E+308"},
      {DBL_MAX, 10, 5, "1.798E+308"},
      {123456.0, 6, 1, "1.E+05"},
      {999999.5, 7, 1, "1.0E+06"},  // rounding carries into the exponent
      {9.96e99, 7, 0, "1.E+100"},
      {-2.5e7, 8, 2, "-2.5E+07"},
      // Asterisks only when nothing fits.
      {12345.6, 5, 1, "*****"},
      {1.0, 1, 0, "*"},
      {-1e12, 6, 1, "******"},
      {9.96e99, 6, 0, "******"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatF(c.value, c.w, c.d), c.field)
        << Printf("%.17g", c.value) << " in F" << c.w << "." << c.d;
  }
}

TEST(FormatF, FewerDecimalsExactlyFromTheRoundingBoundary) {
  // F5.1: from 999.95 up and from -99.95 down one decimal no longer fits.
  EXPECT_EQ(FormatF(999.94, 5, 1), "999.9");
  EXPECT_EQ(FormatF(999.95, 5, 1), "1000.");
  EXPECT_EQ(FormatF(-99.94, 5, 1), "-99.9");
  EXPECT_EQ(FormatF(-99.95, 5, 1), "-100.");
  EXPECT_EQ(FormatF(99999.4, 6, 1), "99999.");
}

TEST(FormatF, RoundingCarry) {
  // 9.995 is 9.99499999999999957... in binary, so printf gives 9.99.
  EXPECT_EQ(FormatF(9.995, 5, 2), " 9.99");
  EXPECT_EQ(FormatF(9.996, 5, 2), "10.00");
  EXPECT_EQ(FormatF(9.9951, 5, 2), "10.00");
  EXPECT_EQ(FormatF(99.996, 5, 2), "100.0");
  EXPECT_EQ(FormatF(99.996, 6, 2), "100.00");
  EXPECT_EQ(FormatF(0.9996, 5, 3), "1.000");
  EXPECT_EQ(FormatF(0.9996, 4, 3), "1.00");
  EXPECT_EQ(FormatF(-0.9996, 6, 3), "-1.000");
  EXPECT_EQ(FormatF(-0.9996, 5, 3), "-1.00");
  EXPECT_EQ(FormatF(0.99999999999, 20, 10), "        1.0000000000");
}

TEST(FormatF, ExactTiesRoundHalfToEvenLikePrintf) {
  EXPECT_EQ(FormatF(0.125, 5, 2), " 0.12");
  EXPECT_EQ(FormatF(0.375, 5, 2), " 0.38");
  EXPECT_EQ(FormatF(-0.125, 5, 2), "-0.12");
  EXPECT_EQ(FormatF(2.5, 4, 0), "  2.");
  EXPECT_EQ(FormatF(3.5, 4, 0), "  4.");
}

TEST(FormatF, ZeroDecimalsStillWritesThePoint) {
  EXPECT_EQ(FormatF(3.0, 5, 0), "   3.");
  EXPECT_EQ(FormatF(-3.0, 3, 0), "-3.");
  EXPECT_EQ(FormatF(0.4, 2, 0), "0.");
  EXPECT_EQ(FormatF(0.4, 1, 0), "*");  // never a lone "."
  EXPECT_EQ(FormatF(-0.4, 3, 0), "-0.");
  EXPECT_EQ(FormatF(-0.4, 2, 0), "**");
}

TEST(FormatF, NegativeValueRoundingToZeroKeepsItsSign) {
  EXPECT_EQ(FormatF(-0.000001, 10, 5), "  -0.00000");
  EXPECT_EQ(FormatF(-0.000001, 8, 5), "-0.00000");
  EXPECT_EQ(FormatF(-0.000001, 7, 5), "-.00000");
  EXPECT_EQ(FormatF(-0.004, 5, 2), "-0.00");
  EXPECT_EQ(FormatF(-0.005, 5, 2), "-0.01");  // -0.005000000000000000104...
  EXPECT_EQ(FormatF(-0.0, 6, 2), " -0.00");
  EXPECT_EQ(FormatF(-DBL_TRUE_MIN, 20, 10), "       -0.0000000000");
}

TEST(FormatF, NaNIsRightJustified) {
  EXPECT_EQ(FormatF(kNaN, 10, 5), "       NaN");
  EXPECT_EQ(FormatF(-kNaN, 10, 5), "       NaN");
  EXPECT_EQ(FormatF(kNaN, 3, 1), "NaN");
  EXPECT_EQ(FormatF(kNaN, 2, 1), "**");
}

TEST(FormatF, InfinityShortensThenGivesAsterisks) {
  EXPECT_EQ(FormatF(kInf, 20, 10), "            Infinity");
  EXPECT_EQ(FormatF(kInf, 8, 3), "Infinity");
  EXPECT_EQ(FormatF(kInf, 7, 3), "    Inf");
  EXPECT_EQ(FormatF(kInf, 3, 1), "Inf");
  EXPECT_EQ(FormatF(kInf, 2, 1), "**");
  EXPECT_EQ(FormatF(-kInf, 20, 10), "           -Infinity");
  EXPECT_EQ(FormatF(-kInf, 9, 3), "-Infinity");
  EXPECT_EQ(FormatF(-kInf, 8, 3), "    -Inf");
  EXPECT_EQ(FormatF(-kInf, 4, 1), "-Inf");
  EXPECT_EQ(FormatF(-kInf, 3, 1), "***");
}

TEST(FormatF, NonPositiveWidthIsEmpty) {
  EXPECT_EQ(FormatF(1.0, 0, 0), "");
  EXPECT_EQ(FormatF(kNaN, -1, 2), "");
}

TEST(FormatF, HugeValuesUseAllTheirDigits) {
  const std::string expected = Printf("%.3f", 1e300);
  EXPECT_EQ(FormatF(1e300, static_cast<int>(expected.size()), 3), expected);
  const std::string max = Printf("%.0f.", DBL_MAX);
  EXPECT_EQ(FormatF(DBL_MAX, static_cast<int>(max.size()), 0), max);
  const std::string tiny = Printf("%.330f", DBL_TRUE_MIN);
  EXPECT_EQ(FormatF(DBL_TRUE_MIN, static_cast<int>(tiny.size()), 330), tiny);
}

// Values for the sweeps: hand-picked boundaries plus pseudo-random values
// spread over many magnitudes.
std::vector<double> SweepValues() {
  std::vector<double> values = {0.0,   -0.0,   0.5,    -0.5,   1.0,   -1.0,
                                0.05,  0.005,  0.0005, 0.125,  0.375, 2.5,
                                9.995, 99.995, 999.95, -99.95, 1e-10, 1e-11,
                                1e15,  1e16,   1e22,   0.1,    0.2,   0.3};
  values.insert(values.end(),
                {1.0 / 3, 2.0 / 3, 123456.789, std::numbers::pi,
                 -std::numbers::e, 4503599627370497.5, DBL_MIN, DBL_TRUE_MIN});
  std::mt19937_64 random(20240611);
  std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
  std::uniform_int_distribution<int> power(-12, 12);
  for (int i = 0; i < 3000; ++i) {
    values.push_back(mantissa(random) * std::pow(10.0, power(random)));
  }
  // Decimal ties and near-ties: k / 2^n and short decimals.
  for (int k = -400; k <= 400; ++k) {
    values.push_back(k / 64.0);
    values.push_back(k / 1000.0);
    values.push_back(k * 0.005);
  }
  return values;
}

TEST(FormatF, AgreesWithPrintfWhereTheRulesAgree) {
  // Where printf("%*.*f") fits in w characters and d > 0 the two rules agree.
  long long compared = 0;
  for (const double value : SweepValues()) {
    for (int d = 1; d <= 12; ++d) {
      for (int w = 1; w <= 30; ++w) {
        const std::string expected = Printf("%*.*f", w, d, value);
        if (expected.size() > static_cast<std::size_t>(w)) continue;
        ASSERT_EQ(FormatF(value, w, d), expected)
            << "value " << Printf("%.17g", value) << " F" << w << "." << d;
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 500000);
}

// ---------------------------------------------------------------------------
// 1PEw.d and 1PDw.d output

TEST(FormatScaledE, WritesTheReferenceExamples) {
  EXPECT_EQ(FormatScaledE(1.5, 14, 6), "  1.500000E+00");
  EXPECT_EQ(FormatScaledE(1.5, 24, 15, 'D'), "   1.500000000000000D+00");
  EXPECT_EQ(FormatScaledE(0.0, 14, 6), "  0.000000E+00");
  EXPECT_EQ(FormatScaledE(0.0, 24, 15, 'D'), "   0.000000000000000D+00");
  EXPECT_EQ(FormatScaledE(kNaN, 14, 6), "           NaN");
  EXPECT_EQ(FormatScaledE(kNaN, 24, 15, 'D'), std::string(21, ' ') + "NaN");
}

TEST(FormatScaledE, OneDigitBeforeThePoint) {
  EXPECT_EQ(FormatScaledE(123.456, 14, 6), "  1.234560E+02");
  EXPECT_EQ(FormatScaledE(-123.456, 14, 6), " -1.234560E+02");
  EXPECT_EQ(FormatScaledE(0.000123456, 14, 6), "  1.234560E-04");
  EXPECT_EQ(FormatScaledE(1e-10, 14, 6), "  1.000000E-10");
  EXPECT_EQ(FormatScaledE(0.1, 24, 15, 'D'), "   1.000000000000000D-01");
  EXPECT_EQ(FormatScaledE(1.0 / 3, 24, 15, 'D'), "   3.333333333333333D-01");
  EXPECT_EQ(FormatScaledE(2.0, 6, 0), "2.E+00");
  EXPECT_EQ(FormatScaledE(2.5, 8, 1, 'e'), " 2.5e+00");
}

TEST(FormatScaledE, RoundingCarriesIntoTheExponent) {
  EXPECT_EQ(FormatScaledE(9.9999999, 14, 6), "  1.000000E+01");
  EXPECT_EQ(FormatScaledE(-9.9999999e-6, 14, 6), " -1.000000E-05");
  EXPECT_EQ(FormatScaledE(9.99999949, 14, 6), "  9.999999E+00");
  EXPECT_EQ(FormatScaledE(9.9999999e-100, 14, 6), "  1.000000E-99");
  EXPECT_EQ(FormatScaledE(9.9999999e99, 14, 6), "  1.000000+100");
}

TEST(FormatScaledE, ExponentAbove99DropsTheLetter) {
  EXPECT_EQ(FormatScaledE(1.5e100, 14, 6), "  1.500000+100");
  EXPECT_EQ(FormatScaledE(1.5e-100, 14, 6), "  1.500000-100");
  EXPECT_EQ(FormatScaledE(-1.5e100, 14, 6), " -1.500000+100");
  EXPECT_EQ(FormatScaledE(1e99, 14, 6), "  1.000000E+99");
  EXPECT_EQ(FormatScaledE(1e-99, 14, 6), "  1.000000E-99");
  EXPECT_EQ(FormatScaledE(DBL_MAX, 14, 6), "  1.797693+308");
  EXPECT_EQ(FormatScaledE(DBL_MIN, 14, 6), "  2.225074-308");
  EXPECT_EQ(FormatScaledE(DBL_TRUE_MIN, 14, 6), "  4.940656-324");
  EXPECT_EQ(FormatScaledE(1.5e100, 24, 15, 'D'), "   1.500000000000000+100");
  EXPECT_EQ(FormatScaledE(DBL_MAX, 24, 15, 'D'), "   1.797693134862316+308");
}

TEST(FormatScaledE, ZeroAndNaNAsPlainE) {
  EXPECT_EQ(FormatScaledE(-0.0, 14, 6), " -0.000000E+00");
  EXPECT_EQ(FormatScaledE(0.0, 12, 6), "0.000000E+00");
  EXPECT_EQ(FormatScaledE(0.0, 11, 6), ".000000E+00");  // the zero is optional
  EXPECT_EQ(FormatScaledE(0.0, 10, 6), "**********");
  EXPECT_EQ(FormatScaledE(kNaN, 3, 6), "NaN");
  EXPECT_EQ(FormatScaledE(kNaN, 2, 6), "**");
}

TEST(FormatScaledE, InfinityAsInF) {
  EXPECT_EQ(FormatScaledE(kInf, 14, 6), "      Infinity");
  EXPECT_EQ(FormatScaledE(-kInf, 14, 6), "     -Infinity");
  EXPECT_EQ(FormatScaledE(kInf, 5, 1), "  Inf");
  EXPECT_EQ(FormatScaledE(-kInf, 3, 1), "***");
}

TEST(FormatScaledE, TooWideGivesAsterisks) {
  EXPECT_EQ(FormatScaledE(1.5, 12, 6), "1.500000E+00");
  EXPECT_EQ(FormatScaledE(1.5, 11, 6), "***********");
  EXPECT_EQ(FormatScaledE(-1.5, 12, 6), "************");
  EXPECT_EQ(FormatScaledE(1.5e100, 12, 6), "1.500000+100");
  EXPECT_EQ(FormatScaledE(-1.5e100, 12, 6), "************");
  EXPECT_EQ(FormatScaledE(1.5, 0, 6), "");
}

TEST(FormatScaledE, AgreesWithPrintfDigits) {
  // The mantissa is printf's "%.*e" mantissa and the exponent its exponent.
  for (const double value : SweepValues()) {
    if (value == 0.0) continue;
    for (const int d : {0, 1, 2, 6, 10, 15, 16, 20}) {
      const std::string printed = Printf("%#.*e", d, value);
      const std::size_t e_at = printed.find('e');
      const int exponent = std::atoi(printed.c_str() + e_at + 1);
      std::string expected = printed.substr(0, e_at);
      if (std::abs(exponent) <= 99) {
        expected += Printf("E%+03d", exponent);
      } else {
        expected += Printf("%+04d", exponent);
      }
      const int w = static_cast<int>(expected.size()) + 3;
      ASSERT_EQ(FormatScaledE(value, w, d), "   " + expected)
          << "value " << Printf("%.17g", value) << " d " << d;
    }
  }
}

// ---------------------------------------------------------------------------
// Iw input

TEST(ReadI, OnlyTheFirstWCharactersCount) {
  EXPECT_EQ(ReadI("123", 2), 12);
  EXPECT_EQ(ReadI("12abc", 2), 12);
  EXPECT_EQ(ReadI("5", 2), 5);
  EXPECT_EQ(ReadI("1 ", 1), 1);
  EXPECT_EQ(ReadI("  7", 2), 0);  // the field is two blanks
  EXPECT_EQ(ReadI("-12345678", 6), -12345);
  EXPECT_EQ(ReadI("34", 6), 34);
}

TEST(ReadI, BlanksAnywhereAreIgnored) {
  EXPECT_EQ(ReadI("1 2", 6), 12);
  EXPECT_EQ(ReadI("  12  ", 6), 12);
  EXPECT_EQ(ReadI(" - 1 2", 6), -12);
  EXPECT_EQ(ReadI("+ 5", 6), 5);
}

TEST(ReadI, AllBlankFieldReadsZero) {
  EXPECT_EQ(ReadI("", 2), 0);
  EXPECT_EQ(ReadI("   ", 2), 0);
  EXPECT_EQ(ReadI("      ", 6), 0);
}

TEST(ReadI, SignAndDigits) {
  EXPECT_EQ(ReadI("0", 2), 0);
  EXPECT_EQ(ReadI("-0", 2), 0);
  EXPECT_EQ(ReadI("+7", 2), 7);
  EXPECT_EQ(ReadI("-1", 2), -1);
  EXPECT_EQ(ReadI("000042", 6), 42);
  EXPECT_EQ(ReadI("0000000000000000000012", 30), 12);
}

TEST(ReadI, ThirtyTwoBitRange) {
  EXPECT_EQ(ReadI("2147483647", 11), INT_MAX);
  EXPECT_EQ(ReadI("-2147483648", 11), INT_MIN);
  EXPECT_EQ(ReadI("2147483648", 11), std::nullopt);
  EXPECT_EQ(ReadI("-2147483649", 11), std::nullopt);
  EXPECT_EQ(ReadI("99999999999999999999999999", 30), std::nullopt);
}

TEST(ReadI, FailsOnAnythingElse) {
  const char* const cases[] = {"-",   "+",   "- ",  "1.",  ".5",  "1.0", "1e3",
                               "1E3", "1d",  "a",   "x",   "1a",  "1-",  "+-1",
                               "--1", "1+2", "\t1", "1\t", "0x1", "inf", "nan"};
  for (const char* text : cases) {
    EXPECT_EQ(ReadI(text, 6), std::nullopt) << '"' << text << '"';
  }
  EXPECT_EQ(ReadI(std::string_view("1\0", 2), 2), std::nullopt);
  EXPECT_EQ(ReadI("\r", 2), std::nullopt);
}

// ---------------------------------------------------------------------------
// Fw.d input

// Expects ReadF(text, w, d) to be exactly `expected`, bit for bit.
void ExpectReadF(std::string_view text, int w, int d, double expected) {
  const std::optional<double> value = ReadF(text, w, d);
  ASSERT_TRUE(value.has_value()) << '"' << text << '"';
  EXPECT_TRUE(SameBits(*value, expected))
      << '"' << text << "\" read " << Printf("%.17g", *value) << ", expected "
      << Printf("%.17g", expected);
}

TEST(ReadF, ReadsTheReferenceExamples) {
  ExpectReadF("1", 20, 10, 1e-10);
  ExpectReadF("1.", 20, 10, 1.0);
  ExpectReadF("1 2", 20, 10, 1.2e-9);
  ExpectReadF("1.5 2", 20, 10, 1.52);
  EXPECT_EQ(ReadF("1.5 2.5", 20, 10), std::nullopt);
}

TEST(ReadF, ImpliedDecimalPointCountsFromTheRightOfTheMantissa) {
  ExpectReadF("5", 20, 10, 5e-10);
  ExpectReadF("12345678901234", 20, 10, 1234.5678901234);
  ExpectReadF("1e3", 20, 10, 1e-7);
  ExpectReadF("1E+3", 20, 10, 1e-7);
  ExpectReadF("25e-2", 20, 10, 25e-12);
  ExpectReadF("-5", 20, 10, -5e-10);
  ExpectReadF("12", 6, 1, 1.2);
  ExpectReadF("12", 6, 0, 12.0);
  ExpectReadF("00000000001", 20, 10, 1e-10);
  ExpectReadF("10000000000", 20, 10, 1.0);
}

TEST(ReadF, ExplicitDecimalPointOverridesD) {
  ExpectReadF("0.5", 20, 10, 0.5);
  ExpectReadF(".5", 20, 10, 0.5);
  ExpectReadF("-.5", 20, 10, -0.5);
  ExpectReadF("+0.5", 20, 10, 0.5);
  ExpectReadF("2.0", 20, 10, 2.0);
  ExpectReadF("0.5659970894", 20, 10, 0.5659970894);
  ExpectReadF("-123.456", 20, 10, -123.456);
  ExpectReadF("1.", 6, 1, 1.0);
}

TEST(ReadF, ExponentLetters) {
  ExpectReadF("1.5e3", 20, 10, 1500.0);
  ExpectReadF("1.5E3", 20, 10, 1500.0);
  ExpectReadF("1.5d3", 20, 10, 1500.0);
  ExpectReadF("1.5D3", 20, 10, 1500.0);
  ExpectReadF("1.5D+03", 20, 10, 1500.0);
  ExpectReadF("1.5e-3", 20, 10, 1.5e-3);
  ExpectReadF("-2.5E-1", 20, 10, -0.25);
  ExpectReadF(".5e1", 20, 10, 5.0);
  ExpectReadF("5.e1", 20, 10, 50.0);
  ExpectReadF("1.0e0000000000000003", 20, 10, 1000.0);
  ExpectReadF("1 . 5 E - 3", 20, 10, 1.5e-3);
}

TEST(ReadF, OnlyTheFirstWCharactersCount) {
  ExpectReadF("1234567890123456789012345", 20, 10, 1234567890.1234567890);
  ExpectReadF("                    7", 20, 10, 0.0);
  ExpectReadF("1.5                 garbage", 20, 10, 1.5);
  ExpectReadF("1.25", 3, 2, 1.2);
  EXPECT_EQ(ReadF("1.5e10", 4, 1), std::nullopt);  // the field is "1.5e"
  ExpectReadF("1.5e10", 5, 1, 1.5e1);
}

TEST(ReadF, AllBlankFieldReadsZero) {
  ExpectReadF("", 20, 10, 0.0);
  ExpectReadF("    ", 20, 10, 0.0);
  ExpectReadF(std::string(20, ' '), 20, 10, 0.0);
}

TEST(ReadF, ZeroKeepsItsSign) {
  ExpectReadF("0", 20, 10, 0.0);
  ExpectReadF("0.0", 20, 10, 0.0);
  ExpectReadF("-0", 20, 10, -0.0);
  ExpectReadF("-0.0e5", 20, 10, -0.0);
  ExpectReadF("0e999999999999999", 20, 10, 0.0);
}

TEST(ReadF, UnderflowIsNotAFailure) {
  ExpectReadF("1.e-320", 20, 10, 1e-320);  // subnormal
  ExpectReadF("4.9406564584124654e-324", 30, 10, DBL_TRUE_MIN);
  ExpectReadF("1e-400", 20, 10, 0.0);
  ExpectReadF("-1e-400", 20, 10, -0.0);
  ExpectReadF("1e-99999999999999", 20, 10, 0.0);
  ExpectReadF("1", 20, 400, 0.0);
}

TEST(ReadF, OverflowIsAFailure) {
  EXPECT_EQ(ReadF("1.e309", 20, 10), std::nullopt);
  EXPECT_EQ(ReadF("-1.0e309", 20, 10), std::nullopt);
  EXPECT_EQ(ReadF("1e319", 20, 10), std::nullopt);  // 1E-10 x 1E319
  ExpectReadF("1e309", 20, 10, 1e299);
  EXPECT_EQ(ReadF("1.8e308", 20, 10), std::nullopt);
  EXPECT_EQ(ReadF("1e99999999999999", 20, 10), std::nullopt);
  ExpectReadF("1.7976931348623157e308", 30, 10, DBL_MAX);
  ExpectReadF("1.7976931348623158e308", 30, 10, DBL_MAX);  // rounds down
  EXPECT_EQ(ReadF("1.7976931348623159e308", 30, 10), std::nullopt);
}

TEST(ReadF, FailsOnAnythingElse) {
  const char* const cases[] = {
      "+",     "-",     ".",    "+.",    "-.",    "e",     "E5",       "e5",
      "d5",    ".e5",   "+.e5", "-e5",   "1e",    "1E",    "1d",       "1e+",
      "1e-",   "1.e",   "1ee5", "1e5e5", "1e5.0", "1e1.",  "1..",      "1.2.3",
      "..5",   "1.5.2", "1-2",  "1+2",   "1.5+3", "+-1",   "--1",      "1-",
      "1e+-2", "inf",   "-inf", "Inf",   "nan",   "NaN",   "Infinity", "abc",
      "x",     "1a",    "a1",   "0x1p3", "1,5",   "1_000", "\t1",      "1\t",
      "1\r",   "\v1",   "1\f",  "1/2",   "1q3",   "$1"};
  for (const char* text : cases) {
    EXPECT_EQ(ReadF(text, 20, 10), std::nullopt) << '"' << text << '"';
  }
  EXPECT_EQ(ReadF(std::string_view("1\0", 2), 20, 10), std::nullopt);
  EXPECT_EQ(ReadF(std::string_view("\0", 1), 20, 10), std::nullopt);
}

TEST(ReadF, NeverMultipliesByPowersOfTen) {
  // Finds mantissas m for which m * 1e-10 is not the double nearest to
  // m x 10^-10; ReadF must still give the nearest one.
  int found = 0;
  for (long long m = 1; m < 2000 && found < 20; ++m) {
    const std::string text = std::to_string(m);
    const double nearest = Strtod(text + "e-10");
    if (SameBits(static_cast<double>(m) * 1e-10, nearest)) continue;
    ++found;
    ExpectReadF(text, 20, 10, nearest);
  }
  EXPECT_GT(found, 0);
}

// Returns `field` (the digits, with or without a point, optional sign and
// exponent) rewritten as the scientific text strtod should read: the implied
// decimals become part of the exponent.
std::string EquivalentScientific(const std::string& sign,
                                 const std::string& digits, int point_at,
                                 int exponent, int d) {
  // point_at < 0: no point; d implied decimals.
  int scale = exponent;
  if (point_at < 0) {
    scale -= d;
  } else {
    scale -= static_cast<int>(digits.size()) - point_at;
  }
  return sign + digits + "e" + std::to_string(scale);
}

TEST(ReadF, MatchesStrtodBitForBit) {
  std::mt19937_64 random(77);
  std::uniform_int_distribution<int> digit(0, 9);
  std::uniform_int_distribution<int> length(1, 40);  // beyond 19: the slow path
  std::uniform_int_distribution<int> exponent_range(-330, 310);
  std::uniform_int_distribution<int> coin(0, 3);
  long long compared = 0;
  for (int i = 0; i < 200000; ++i) {
    const int n = length(random);
    std::string digits;
    for (int k = 0; k < n; ++k)
      digits.push_back(static_cast<char>('0' + digit(random)));
    const std::string sign =
        coin(random) == 0 ? "-" : (coin(random) == 0 ? "+" : "");
    const int point_at =
        coin(random) == 0 ? -1 : static_cast<int>(random() % (n + 1));
    const bool with_exponent = coin(random) != 0;
    const int exponent = with_exponent ? exponent_range(random) : 0;
    const int d = coin(random) == 0 ? 0 : 10;

    std::string field = sign;
    for (int k = 0; k <= n; ++k) {
      if (k == point_at) field.push_back('.');
      if (k < n) field.push_back(digits[k]);
    }
    if (with_exponent) {
      field.push_back(coin(random) < 2 ? 'E' : 'd');
      field += std::to_string(exponent);
    }
    const std::string scientific =
        EquivalentScientific(sign, digits, point_at, exponent, d);
    const double expected = Strtod(scientific);
    const std::optional<double> value = ReadF(field, 64, d);
    if (std::isinf(expected)) {
      EXPECT_EQ(value, std::nullopt) << field;
      continue;
    }
    ASSERT_TRUE(value.has_value()) << field;
    ASSERT_TRUE(SameBits(*value, expected))
        << field << " read " << Printf("%.17g", *value) << ", strtod of "
        << scientific << " gives " << Printf("%.17g", expected);
    ++compared;
  }
  EXPECT_GT(compared, 150000);
}

TEST(ReadF, MatchesStrtodOnHardCases) {
  // Halfway and near-halfway cases, boundaries of the double range.
  const char* const cases[] = {
      "9007199254740993",
      "9007199254740992.5",
      "9007199254740993.0000000001",
      "2.2250738585072011e-308",
      "2.2250738585072012e-308",
      "2.4703282292062327e-324",
      "2.4703282292062328e-324",
      "1.00000000000000011102230246251565404236316680908203125",
      "1.00000000000000011102230246251565404236316680908203124",
      "0.1",
      "0.3",
      "123456789012345678901234567890",
      "4.9e-324",
      "1797693134862315807937289714053e277"};
  for (const char* text : cases) {
    ExpectReadF(text, 80, 0, Strtod(text));
  }
}

// ---------------------------------------------------------------------------
// Aw input

TEST(ReadA, FirstWCharactersPaddedWithBlanks) {
  EXPECT_EQ(ReadA("yes", 1), "y");
  EXPECT_EQ(ReadA("", 1), " ");
  EXPECT_EQ(ReadA("ab", 4), "ab  ");
  EXPECT_EQ(ReadA(" n", 1), " ");
  EXPECT_EQ(ReadA("\tx", 1), "\t");
  EXPECT_EQ(ReadA("abc", 3), "abc");
  EXPECT_EQ(ReadA("abc", 0), "");
}

// ---------------------------------------------------------------------------
// Edit descriptors

TEST(ParseEditDescriptor, AcceptsTheProgramsFormats) {
  struct Case {
    const char* text;
    char kind;
    int w;
    int d;
  };
  const Case cases[] = {{"(I2)", 'I', 2, 0},       {"(I6)", 'I', 6, 0},
                        {"(I1)", 'I', 1, 0},       {"(F20.10)", 'F', 20, 10},
                        {"(A1)", 'A', 1, 0},       {"(i2)", 'I', 2, 0},
                        {"(f20.10)", 'F', 20, 10}, {"(a1)", 'A', 1, 0},
                        {"(F5.0)", 'F', 5, 0},     {"(A80)", 'A', 80, 0}};
  for (const Case& c : cases) {
    const std::optional<EditDescriptor> parsed = ParseEditDescriptor(c.text);
    ASSERT_TRUE(parsed.has_value()) << c.text;
    EXPECT_EQ(parsed->kind, c.kind) << c.text;
    EXPECT_EQ(parsed->w, c.w) << c.text;
    EXPECT_EQ(parsed->d, c.d) << c.text;
  }
}

TEST(ParseEditDescriptor, RefusesAnythingElse) {
  const char* const cases[] = {
      "",         "()",      "I2",        "(I2",       "I2)",
      "(I)",      "(I0)",    "(I-2)",     "(I2.1)",    "(F20)",
      "(F20.)",   "(F.10)",  "(F20.10.)", "(A)",       "(A1.0)",
      "(X1)",     "(E14.6)", "( I2)",     "(I2 )",     "(I 2)",
      "(I2)(I2)", "((I2))",  "(2I2)",     "(1PE14.6)", "(I1234567890)"};
  for (const char* text : cases) {
    EXPECT_EQ(ParseEditDescriptor(text), std::nullopt) << '"' << text << '"';
  }
}

// ---------------------------------------------------------------------------
// Records

// A stream buffer that hands out its text `chunk` characters per refill, or
// (chunk 0) one character at a time without any get area at all.
class ChunkedBuffer : public std::streambuf {
 public:
  ChunkedBuffer(std::string text, std::size_t chunk)
      : text_(std::move(text)), chunk_(chunk) {}

 protected:
  int_type underflow() override {
    if (chunk_ == 0) {
      return next_ < text_.size() ? traits_type::to_int_type(text_[next_])
                                  : traits_type::eof();
    }
    if (gptr() != egptr()) return traits_type::to_int_type(*gptr());
    if (next_ >= text_.size()) return traits_type::eof();
    const std::size_t count = std::min(chunk_, text_.size() - next_);
    char* start = text_.data() + next_;
    setg(start, start, start + count);
    next_ += count;
    return traits_type::to_int_type(*start);
  }
  int_type uflow() override {
    if (chunk_ != 0) return std::streambuf::uflow();
    if (next_ >= text_.size()) return traits_type::eof();
    return traits_type::to_int_type(text_[next_++]);
  }

 private:
  std::string text_;
  std::size_t chunk_;
  std::size_t next_ = 0;
};

using Lines = std::vector<std::string>;

// Returns every record ReadRecord finds in `in`, which must then be at its end.
Lines RecordsOf(std::istream& in) {
  Lines records;
  std::string line;
  while (ReadRecord(in, line)) records.push_back(line);
  EXPECT_TRUE(in.eof());
  return records;
}

// Returns every record ReadRecord finds in `text`.
Lines Records(const std::string& text) {
  std::istringstream in(text);
  return RecordsOf(in);
}

// Returns every record ReadRecord finds in `text` served by a ChunkedBuffer.
Lines ChunkedRecords(const std::string& text, std::size_t chunk) {
  ChunkedBuffer buffer(text, chunk);
  std::istream in(&buffer);
  return RecordsOf(in);
}

TEST(ReadRecord, LineEndsReadTheSame) {
  EXPECT_EQ(Records("a\nbb\nccc\n"), (Lines{"a", "bb", "ccc"}));
  EXPECT_EQ(Records("a\r\nbb\r\nccc\r\n"), (Lines{"a", "bb", "ccc"}));
  EXPECT_EQ(Records("a\rbb\rccc\r"), (Lines{"a", "bb", "ccc"}));
  EXPECT_EQ(Records("a\nbb\r\nccc\r"), (Lines{"a", "bb", "ccc"}));
}

TEST(ReadRecord, ALimitStopsOneCharacterPastItWithTheRestUnread) {
  // Every way the characters may be served: whole, in chunks of 1, 3 and 4, one at a time.
  for (const std::size_t chunk : {std::size_t{1000}, std::size_t{1}, std::size_t{3}, std::size_t{4}, std::size_t{0}}) {
    ChunkedBuffer buffer("abcd\nabcdefgh\nxy", chunk);
    std::istream in(&buffer);
    std::string line;
    ASSERT_TRUE(ReadRecord(in, line, 4)) << chunk;
    EXPECT_EQ(line, "abcd") << chunk;  // at the limit: whole
    ASSERT_TRUE(ReadRecord(in, line, 4)) << chunk;
    EXPECT_EQ(line, "abcde") << chunk;  // over it: one character past, the rest unread
    ASSERT_TRUE(ReadRecord(in, line)) << chunk;
    EXPECT_EQ(line, "fgh") << chunk;
    ASSERT_TRUE(ReadRecord(in, line, 4)) << chunk;
    EXPECT_EQ(line, "xy") << chunk;
  }
}

TEST(ReadRecord, FinalLineBreakAddsNoRecord) {
  EXPECT_EQ(Records(""), Lines{});
  EXPECT_EQ(Records("a"), Lines{"a"});
  EXPECT_EQ(Records("a\n"), Lines{"a"});
  EXPECT_EQ(Records("a\r\n"), Lines{"a"});
  EXPECT_EQ(Records("a\r"), Lines{"a"});
  EXPECT_EQ(Records("\n"), Lines{""});
  EXPECT_EQ(Records("\r\n"), Lines{""});
}

TEST(ReadRecord, EmptyLinesInTheMiddleAreRecords) {
  EXPECT_EQ(Records("a\n\nb\n"), (Lines{"a", "", "b"}));
  EXPECT_EQ(Records("a\r\n\r\nb"), (Lines{"a", "", "b"}));
  EXPECT_EQ(Records("a\r\rb"), (Lines{"a", "", "b"}));
  EXPECT_EQ(Records("a\n\r\nb"), (Lines{"a", "", "b"}));
  EXPECT_EQ(Records("a\r\r\n"), (Lines{"a", ""}));  // lone CR, then CR LF
  EXPECT_EQ(Records("a\n\n"), (Lines{"a", ""}));
  EXPECT_EQ(Records("\n\n\n"), (Lines{"", "", ""}));
  EXPECT_EQ(Records("a\n\rb"), (Lines{"a", "", "b"}));  // LF CR is two ends
}

TEST(ReadRecord, KeepsNulAndOtherBytesAsData) {
  const std::string with_nul("1.5\0x\tz", 7);
  EXPECT_EQ(Records(with_nul + "\n2\n"), (Lines{with_nul, "2"}));
  EXPECT_EQ(Records(std::string("\0", 1)), Lines{std::string("\0", 1)});
  EXPECT_EQ(Records("\xff\xfe\n"), Lines{"\xff\xfe"});
}

TEST(ReadRecord, KeepsVeryLongLines) {
  std::string long_line(3'000'000, 'x');
  long_line[1'234'567] = '7';
  EXPECT_EQ(Records(long_line + "\r\nshort"), (Lines{long_line, "short"}));
}

TEST(ReadRecord, StreamStateAtTheEnd) {
  std::istringstream in("a\nb");
  std::string line = "old";
  ASSERT_TRUE(ReadRecord(in, line));
  EXPECT_EQ(line, "a");
  EXPECT_TRUE(in.good());
  ASSERT_TRUE(ReadRecord(in, line));
  EXPECT_EQ(line, "b");
  EXPECT_TRUE(in.eof());
  EXPECT_FALSE(in.fail());
  EXPECT_FALSE(ReadRecord(in, line));
  EXPECT_EQ(line, "");
  EXPECT_FALSE(ReadRecord(in, line));
}

TEST(ReadRecord, ManyRecordsAcrossBufferRefills) {
  std::string text;
  Lines expected;
  for (int i = 0; i < 20000; ++i) {
    expected.push_back(std::to_string(i * 7919 % 100003));
    text += expected.back();
    text += (i % 3 == 0) ? "\n" : (i % 3 == 1 ? "\r\n" : "\r");
  }
  EXPECT_EQ(Records(text), expected);
  EXPECT_EQ(ChunkedRecords(text, 1000), expected);
  EXPECT_EQ(ChunkedRecords(text, 0), expected);
}

TEST(ReadRecord, SameRecordsWhateverTheStreamBufferRefills) {
  // Chunk 0 is an unbuffered stream buffer; small chunks split CR LF pairs.
  const std::string text = "12\r\n3\r\r\n\n45678\r9\r\n\r\r\n\nlast\r";
  const Lines expected = {"12", "3", "", "", "45678", "9", "", "", "", "last"};
  EXPECT_EQ(Records(text), expected);
  for (const std::size_t chunk : {0, 1, 2, 3, 5, 7, 64}) {
    EXPECT_EQ(ChunkedRecords(text, chunk), expected) << "chunk " << chunk;
  }
}

TEST(ReadRecord, ReadsSeriesRecordsWithF20_10) {
  std::istringstream in("0.5659970894\r\n  1.5 \r\n1\r\n\r\n");
  std::string line;
  std::vector<double> values;
  while (ReadRecord(in, line)) values.push_back(ReadF(line, 20, 10).value());
  EXPECT_EQ(values, (std::vector<double>{0.5659970894, 1.5, 1e-10, 0.0}));
}

}  // namespace
}  // namespace odefit::fixed
