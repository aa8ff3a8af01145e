// Reading series: the table of one vector per line as people write it, and
// the classic one-value-per-line file from a stream.

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "odefit/errors.h"
#include "odefit/series.h"

namespace odefit {
namespace {

Series Table(const std::string& text) {
  std::istringstream in(text);
  return ReadSeriesTable(in, "t.csv");
}

// Returns the InputError's what() of reading `text`, or "" when it reads.
std::string TableError(const std::string& text) {
  try {
    Table(text);
  } catch (const InputError& e) {
    return e.what();
  }
  return "";
}

TEST(SeriesTable, ReadsCommasBlanksAndTabsWithNumbersAsWritten) {
  const Series s = Table("1, -2.5 ,+3\n1e-3,\t-2.5E+04,4.\n.5,0,-0\n");
  EXPECT_EQ(s.dimension, 3);
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s.values, (std::vector<double>{1, -2.5, 3, 1e-3, -2.5e4, 4, 0.5, 0, -0.0}));
  EXPECT_TRUE(s.names.empty());

  const Series blanks = Table("  1   2\t3\r\n4 5 6\r\n");
  EXPECT_EQ(blanks.values, (std::vector<double>{1, 2, 3, 4, 5, 6}));
  const Series one = Table("7\n8\n");  // one column: no implied decimals
  EXPECT_EQ(one.dimension, 1);
  EXPECT_EQ(one.values, (std::vector<double>{7, 8}));
}

TEST(SeriesTable, AFirstLineWithAnyWordIsAHeaderOfNames) {
  const Series s = Table("# made by a generator\n\"time x\", y\n\n1,2\n# a comment\n3,4\n\n");
  EXPECT_EQ(s.names, (std::vector<std::string>{"time x", "y"}));
  EXPECT_EQ(s.values, (std::vector<double>{1, 2, 3, 4}));
  const Series numbered = Table("x1 2\n1 2\n");  // one word is enough
  EXPECT_EQ(numbered.names, (std::vector<std::string>{"x1", "2"}));
  EXPECT_EQ(numbered.size(), 1u);
}

TEST(SeriesTable, ReadsTheDigitsOfShortestAndSeventeenDigitForms) {
  // Every double written with %.17g or its shortest form reads back bit for bit.
  for (const double v : {0.1, -9.882494633638707, 1e-300, 2.2250738585072014e-308, 1.7976931348623157e308}) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g\n", v);
    EXPECT_EQ(Table(text).values.front(), v) << text;
  }
}

TEST(SeriesTable, AnUnreadableValueNamesFileLineAndColumn) {
  EXPECT_EQ(TableError("1,2\n3,abc\n"), "t.csv:2:3: cannot read \"abc\" as a number");
  EXPECT_EQ(TableError("1 2\n3 4x\n"), "t.csv:2:3: cannot read \"4x\" as a number");
  EXPECT_EQ(TableError("1,,2\n"), "t.csv:1:3: empty value");
  EXPECT_EQ(TableError("1,2,\n"), "t.csv:1:5: empty value");
  EXPECT_EQ(TableError("a,b\n1,nan\n"), "t.csv:2:3: \"nan\" is not a finite number");
  EXPECT_EQ(TableError("1,-inf\n"), "t.csv:1:3: \"-inf\" is not a finite number");
  EXPECT_EQ(TableError("1e999\n"), "t.csv:1:1: \"1e999\" is beyond the range of a double");
  EXPECT_EQ(TableError("1,2\n1,0x10\n"), "t.csv:2:3: cannot read \"0x10\" as a number");
  EXPECT_EQ(TableError("x,,y\n"), "t.csv:1:3: empty value");
  EXPECT_EQ(TableError("1.5,2,5\n1;2;3\n"), "t.csv:2: has 1 value where the first vector has 3 values (ragged rows)");
}

TEST(SeriesTable, RaggedRowsEmptyTablesAndTooManyColumnsAreErrors) {
  EXPECT_EQ(TableError("1,2\n3,4,5\n"), "t.csv:2: has 3 values where the first vector has 2 values (ragged rows)");
  EXPECT_EQ(TableError("x,y,z\n1,2\n"), "t.csv:2: has 2 values where the header names 3 columns (ragged rows)");
  EXPECT_EQ(TableError(""), "t.csv: holds no vector");
  EXPECT_EQ(TableError("\n  \n# only a comment\n"), "t.csv: holds no vector");
  EXPECT_EQ(TableError("x,y\n"), "t.csv: holds no vector");
  EXPECT_EQ(TableError("1 2 3 4 5 6 7 8 9 10\n"), "t.csv:1: has 10 columns; a series has at most 9 variables");
  EXPECT_NO_THROW(Table("1 2 3 4 5 6 7 8 9\n"));
}

TEST(SeriesTable, AByteOrderMarkIsSkippedAndUtf16Refused) {
  // Without the skip the first vector would pass for a header of names and be lost.
  const Series marked = Table("\xEF\xBB\xBF" "1,2\n3,4\n");
  EXPECT_TRUE(marked.names.empty());
  EXPECT_EQ(marked.values, (std::vector<double>{1, 2, 3, 4}));
  EXPECT_EQ(Table("\xEF\xBB\xBFx,y\n1,2\n").names, (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(TableError(std::string("\xFF\xFE" "1\0,\0" "2\0\n\0", 10)),
            "t.csv:1:1: is UTF-16 text: save it as UTF-8 or plain ASCII");
  // Only at the very start: later it is an unreadable value.
  EXPECT_EQ(TableError("1,2\n\xEF\xBB\xBF" "3,4\n"), "t.csv:2:1: cannot read \"\xEF\xBB\xBF" "3\" as a number");
}

// An endless stream of one character and no line break, as a device gives.
class Endless : public std::streambuf {
 public:
  std::size_t served = 0;

 protected:
  int_type underflow() override {
    block_.assign(4096, '7');
    served += block_.size();
    setg(block_.data(), block_.data(), block_.data() + block_.size());
    return traits_type::to_int_type('7');
  }

 private:
  std::string block_;
};

TEST(SeriesTable, ALineWithoutEndIsRefusedAfterItsFirstMebibyte) {
  for (const int dimension : {0, 1}) {
    Endless source;
    std::istream in(&source);
    try {
      dimension == 0 ? ReadSeriesTable(in, "dev") : ReadClassicSeries(in, "dev", dimension);
      ADD_FAILURE();
    } catch (const InputError& e) {
      EXPECT_EQ(std::string(e.what()), "dev:1: is longer than 1048576 characters: not a line of a series");
    }
    EXPECT_LT(source.served, (1u << 20) + 8192);  // read no further than the limit
  }
  const std::string longest = "1" + std::string((1u << 20) - 1, ' ');  // at the limit: still a line
  EXPECT_EQ(Table(longest + "\n2\n").values, (std::vector<double>{1, 2}));
  EXPECT_EQ(TableError("1\n" + longest + " \n"), "t.csv:2: is longer than 1048576 characters: not a line of a series");
}

TEST(SeriesTable, AFileThatCannotBeOpenedIsAnInputErrorNamingIt) {
  try {
    ReadSeriesTable("/nonexistent/series.csv");
    ADD_FAILURE();
  } catch (const InputError& e) {
    EXPECT_EQ(e.file(), "/nonexistent/series.csv");
    EXPECT_NE(std::string(e.what()).find("cannot open"), std::string::npos);
  }
}

TEST(ClassicSeries, AStreamReadsAsTheFileWithImpliedDecimals) {
  std::istringstream in("1.5\n2\n-3.25\n4.\n5.\n");
  const Series s = ReadClassicSeries(in, "-", 2);
  EXPECT_EQ(s.values, (std::vector<double>{1.5, 2e-10, -3.25, 4.0}));  // the last, incomplete vector dropped
  std::istringstream bad("1.5\nx\n");
  try {
    ReadClassicSeries(bad, "-", 1);
    ADD_FAILURE();
  } catch (const InputError& e) {
    EXPECT_EQ(e.line(), 2);
    EXPECT_EQ(e.file(), "-");
  }
  std::istringstream empty("");
  EXPECT_THROW(ReadClassicSeries(empty, "-", 1), InputError);
  std::istringstream any("1.\n");
  EXPECT_THROW(ReadClassicSeries(any, "-", 10), InvalidArgument);
}

}  // namespace
}  // namespace odefit
