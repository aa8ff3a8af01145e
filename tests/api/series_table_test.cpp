// Reading series: the table of one vector per line as people write it, and
// the classic one-value-per-line file from a stream.

#include <gtest/gtest.h>

#include <cmath>
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
  const Series s = Table("# made by a generator\n\"time_x\", y\n\n1,2\n# a comment\n3,4\n\n");
  EXPECT_EQ(s.names, (std::vector<std::string>{"time_x", "y"}));
  EXPECT_EQ(s.values, (std::vector<double>{1, 2, 3, 4}));
  // One word is enough to make a header, whose names must then all stand in an equation.
  EXPECT_EQ(TableError("x1 2\n1 2\n"), "t.csv:1:4: \"2\" cannot stand in an equation: a name starts with a letter or _");
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

// What people's files hold, read with the reader's own notes.
struct Mistake {
  const char* what;
  std::string text;
  const TableOptions* options;      // nullptr for the defaults
  std::vector<std::string> names;  // expected
  std::vector<double> values;
  std::vector<double> times;
  std::string note;   // a part of the one note expected, or "" for none
  std::string error;  // the whole InputError expected instead
};

TEST(SeriesTable, UsualFileMistakesAreReadWithANoteOrRefusedWithAHint) {
  const TableOptions semicolonOptions{';', ',', ""}, noneOptions{0, '.', "none"}, byNameOptions{0, '.', "b"},
      missingOptions{0, '.', "c"}, byNumberOptions{0, '.', "2"};
  const TableOptions *semicolons = &semicolonOptions, *timeNone = &noneOptions, *timeByName = &byNameOptions,
                     *timeMissing = &missingOptions, *timeByNumber = &byNumberOptions;
  const std::vector<Mistake> cases = {
      {"pandas' unnamed index", ",x,y\n0,1,2\n1,3,4\n", nullptr, {"x", "y"}, {1, 2, 3, 4}, {}, "skipped the first column, an index 0, 1, 2", ""},
      {"a named pandas index", "Unnamed: 0,x\n0,5\n1,6\n", nullptr, {"x"}, {5, 6}, {}, "an index 0, 1, 2", ""},
      {"an index from 1 without header", "1 5 6\n2 7 8\n3 9 1\n", nullptr, {}, {5, 6, 7, 8, 9, 1}, {}, "1, 2, 3", ""},
      {"a first column that only starts like an index", "0 5\n1 6\n3 7\n", nullptr, {}, {0, 5, 1, 6, 3, 7}, {}, "", ""},
      {"a named first column 0, 1, 2 is a variable", "n,x\n0,5\n1,6\n", nullptr, {"n", "x"}, {0, 5, 1, 6}, {}, "", ""},
      {"pandas' index after rows were dropped", ",x,y\n0,1,2\n3,3,4\n", nullptr, {"x", "y"}, {1, 2, 3, 4}, {}, "an unnamed index", ""},
      {"an unnamed column that is no index", ",x\n0.5,5\n2,6\n", nullptr, {}, {}, {}, "", "t.csv:1:1: the first column has no name"},
      {"np.savetxt's header", "# theta,omega\n1 2\n3 4\n", nullptr, {"theta", "omega"}, {1, 2, 3, 4}, {}, "took the comment on line 1 as the header: theta, omega", ""},
      {"a comment with other names is no header", "# a b c\n1 2\n", nullptr, {}, {1, 2}, {}, "", ""},
      {"a comment away from the data is no header", "# a b\n\n1 2\n", nullptr, {}, {1, 2}, {}, "", ""},
      {"semicolons and decimal commas", "x;y\n1,5;2,5\n", nullptr, {}, {}, {}, "",
       "t.csv:1:2: the values are separated by \";\" with decimal commas: read it with the delimiter \";\" and the "
       "decimal mark \",\" (--delimiter ';' --decimal ',')"},
      {"semicolons alone", "1.5;2\n", nullptr, {}, {}, {}, "", "t.csv:1:4: the values are separated by \";\": read it with the delimiter \";\" (--delimiter ';')"},
      {"semicolons read as asked", "x;y\n1,5;-2,5e1\n3;4\n", semicolons, {"x", "y"}, {1.5, -25, 3, 4}, {}, "", ""},
      {"a point where commas mark decimals", "1.5;2\n", semicolons, {}, {}, {}, "", "t.csv:1:1: cannot read \"1.5\" as a number"},
      {"a time column t", "t,x\n0,1\n0.5,2\n", nullptr, {"x"}, {1, 2}, {0, 0.5}, "took the column \"t\" as the time", ""},
      {"a time column Time", "Time x y\n0 1 2\n1 3 4\n", nullptr, {"x", "y"}, {1, 2, 3, 4}, {0, 1}, "\"Time\"", ""},
      {"an index before the time", ",time,x\n0,0,1\n1,0.5,2\n", nullptr, {"x"}, {1, 2}, {0, 0.5}, "index", ""},
      {"the time by name", "a,b\n1,0\n2,0.5\n", timeByName, {"a"}, {1, 2}, {0, 0.5}, "", ""},
      {"the time by number", "1 0\n2 0.5\n", timeByNumber, {}, {1, 2}, {0, 0.5}, "", ""},
      {"no time column asked for", "time,x\n0,1\n1,2\n", timeNone, {"time", "x"}, {0, 1, 1, 2}, {}, "", ""},
      {"a missing time column", "a,b\n1,2\n", timeMissing, {}, {}, {}, "",
       "t.csv:1: has no time column \"c\" (a name of the header or a column number from 1 to 2)"},
      {"times that do not increase", "t,x\n0,1\n1,2\n1,3\n", nullptr, {}, {}, {}, "",
       "t.csv:4: the time 1 does not follow 1 (times must increase)"},
      {"two columns of one name", "x,y,x\n1,2,3\n", nullptr, {}, {}, {}, "", "t.csv:1:5: two columns are named \"x\""},
      {"a name with a blank", "\"T (K)\",y\n1,2\n", nullptr, {}, {}, {}, "",
       "t.csv:1:1: \"T (K)\" cannot stand in an equation: a name holds letters, digits and _ only"},
      {"a name that means the driving", "cos,y\n1,2\n", nullptr, {}, {}, {}, "",
       "t.csv:1:1: \"cos\" cannot name a variable: it means time or the driving in the equations"},
  };
  for (const Mistake& c : cases) {
    std::istringstream in(c.text);
    std::vector<std::string> notes;
    try {
      const Series s = ReadSeriesTable(in, "t.csv", c.options != nullptr ? *c.options : TableOptions{}, &notes);
      EXPECT_EQ(c.error, "") << c.what;
      if (!c.error.empty()) continue;
      EXPECT_EQ(s.names, c.names) << c.what;
      EXPECT_EQ(s.values, c.values) << c.what;
      EXPECT_EQ(s.times, c.times) << c.what;
      EXPECT_EQ(s.dimension * s.size(), s.values.size()) << c.what;
      if (c.note.empty()) {
        EXPECT_TRUE(notes.empty() || c.times.size() > 0) << c.what << ": " << (notes.empty() ? "" : notes[0]);
      } else {
        std::string all;
        for (const std::string& note : notes) all += note + "\n";
        EXPECT_NE(all.find(c.note), std::string::npos) << c.what << ": " << all;
      }
    } catch (const InputError& e) {
      EXPECT_EQ(e.what(), c.error) << c.what;
    }
  }
}

TEST(SeriesTable, OneColumnOfInterleavedVariablesSuggestsItsDimension) {
  Series interleaved{1, {}, {}, {}, {}};
  for (int k = 0; k < 300; ++k) {
    interleaved.values.insert(interleaved.values.end(), {std::sin(0.01 * k), 20.0 + std::cos(0.01 * k), -5.0});
  }
  EXPECT_EQ(SuggestDimension(interleaved), 3);
  Series smooth{1, {}, {}, {}, {}};
  for (int k = 0; k < 900; ++k) smooth.values.push_back(std::sin(0.01 * k));
  EXPECT_EQ(SuggestDimension(smooth), std::nullopt);
  Series noisy{1, {}, {}, {}, {}};
  for (int k = 0; k < 900; ++k) noisy.values.push_back(std::sin(1e3 * k * k));
  EXPECT_EQ(SuggestDimension(noisy), std::nullopt);
  interleaved.dimension = 3;
  EXPECT_EQ(SuggestDimension(interleaved), std::nullopt);
}

}  // namespace
}  // namespace odefit
