// The one number formatter: printf's forms without its locale, and the
// values that are not finite written the same way by every form.

#include "odefit/number_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <limits>
#include <string>

namespace odefit {
namespace {

TEST(NumberText, WritesPrintfsFormsInAnyLocale) {
  std::setlocale(LC_ALL, "de_DE.UTF-8");  // a decimal comma where installed; to_chars ignores it
  constexpr double inf = std::numeric_limits<double>::infinity();
  const double nan = -std::numeric_limits<double>::quiet_NaN();
  const struct {
    std::string text, expected;
  } cases[] = {
      {ShortestText(0.1), "0.1"},
      {ShortestText(1e-300), "1e-300"},
      {ShortestText(nan), "nan"},
      {ShortestText(-inf), "-inf"},
      {SignificantText(1234.5678, 3), "1.23e+03"},
      {SignificantText(0.000123456, 4), "0.0001235"},
      {SignificantText(inf, 3), "inf"},
      {FixedText(0.139256, 5), "0.13926"},
      {FixedText(-2.5, 0), "-2"},
      {FixedText(1e300, 2).substr(0, 4), "1000"},
      {FixedText(nan, 5), "nan"},
      {PaddedText("x1", 5, true), "   x1"},
      {PaddedText("x1", 5, false), "x1   "},
      {PaddedText("longer", 3, true), "longer"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.text, c.expected);
  std::setlocale(LC_ALL, "C");
}

}  // namespace
}  // namespace odefit
