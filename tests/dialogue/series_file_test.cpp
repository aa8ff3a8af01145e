#include "dialogue/series_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "format/fixed_format.h"

namespace odefit {
namespace {

// Writes `content` to a file in the temporary folder and returns its path.
std::string WriteFile(const std::string& name, const std::string& content) {
  const std::string path = (std::filesystem::temp_directory_path() / ("odefit-series-test-" + name)).string();
  std::ofstream out(path, std::ios::binary);
  out << content;
  return path;
}

// The count record by record: every record read and converted with "(F20.10)".
std::optional<std::int64_t> CountOneByOne(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  std::int64_t count = 0;
  while (fixed::ReadRecord(in, line)) {
    ++count;
    if (!fixed::ReadF(line, 20, 10)) return std::nullopt;
  }
  return count;
}

// The findings record by record, from what each record reads as: blank,
// characters other than blanks past column 20, and a value that the 10
// implied decimals change (no decimal point, not zero).
SeriesFindings FindOneByOne(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  std::int64_t n = 0;
  SeriesFindings found;
  while (fixed::ReadRecord(in, line)) {
    ++n;
    const auto value = fixed::ReadF(line, 20, 10);
    if (!value) {
      found.unreadableLine = n;
      found.unreadableText = line.substr(0, RecordTally::kKeptText);
      break;
    }
    if (line.find_first_not_of(' ') == std::string::npos) found.blank.Add(n, line);
    if (line.size() > 20 && line.find_first_not_of(" \t", 20) != std::string::npos) found.pastField.Add(n, line);
    if (fixed::ReadF(line, 20, 0) != value) found.withoutPoint.Add(n, line);
  }
  return found;
}

std::string Describe(const SeriesFindings& f) {
  std::string text = "unreadable " + std::to_string(f.unreadableLine) + " [" + f.unreadableText + "]";
  for (const auto* t : {&f.withoutPoint, &f.pastField, &f.blank}) {
    text += "; " + std::to_string(t->count) + " from " + std::to_string(t->firstLine) + " [" + t->firstText + "]";
  }
  return text;
}

SeriesFindings Findings(const std::string& path) {
  SeriesFile series;
  std::string reason;
  EXPECT_TRUE(series.Open(path, reason)) << reason;
  series.CountRecords();
  return series.Findings();
}

std::optional<std::int64_t> Count(const std::string& path) {
  SeriesFile series;
  std::string reason;
  EXPECT_TRUE(series.Open(path, reason)) << reason;
  return series.CountRecords();
}

TEST(SeriesFileCount, CountsRecordsAndRefusesUnreadableValues) {
  struct Case {
    const char* content;
    std::optional<std::int64_t> count;
  };
  const Case cases[] = {
      {"", 0},
      {"\n", 1},                                  // one empty record: the value 0
      {"\n\n", 2},
      {"1.0\n2.0\n", 2},
      {"1.0\n2.0", 2},                            // no final line break
      {"1.0\r\n2.0\r\n", 2},                      // CR LF
      {"1.0\r2.0\r", 2},                          // a lone CR ends a record too
      {"1.0\r\n2.0\r3.0\n", 3},
      {"   -1.5             remark from column 21: E, x and all\n", 1},
      {"1.0                 remark\r2.0\n", 2},   // a CR beyond the field still ends the record
      {"  1.5e3\n 2D-4\n", 2},                    // exponents
      {"1 2\n + 5\n   -   3.0\n", 3},             // blanks inside the field are ignored
      {"1.5.2\n", std::nullopt},
      {"--1\n", std::nullopt},
      {"-\n", std::nullopt},
      {".\n", std::nullopt},
      {"1-\n", std::nullopt},
      {"x\n", std::nullopt},
      {"1.5 2.5\n", std::nullopt},
      {"1e999\n", std::nullopt},                  // too large for a double
      {"1.0\n2.0\nabc", std::nullopt},            // the last record, without line break
      {"1.0\n12345678901234567890x\n", 2},        // the letter is beyond the field
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string path = WriteFile("case" + std::to_string(n++), c.content);
    EXPECT_EQ(Count(path), c.count) << '"' << c.content << '"';
    EXPECT_EQ(CountOneByOne(path), c.count) << '"' << c.content << '"';
    EXPECT_EQ(Describe(Findings(path)), Describe(FindOneByOne(path))) << '"' << c.content << '"';
  }
}

TEST(SeriesFileCount, LongFilesAndLinesAcrossBlocksCountAsRecordByRecord) {
  // Several read blocks of 21-byte lines, then a line longer than a block.
  std::string content;
  for (int n = 0; n < 150000; ++n) content += "        " + std::to_string(n % 10) + ".1234567890\n";
  EXPECT_EQ(Count(WriteFile("long", content)), 150000);
  content += std::string(3 << 20, '1') + "\n-2.5\n";
  EXPECT_EQ(Count(WriteFile("longline", content)), 150002);
  content += "1.2.3\n";
  EXPECT_EQ(Count(WriteFile("longbad", content)), std::nullopt);
  const SeriesFindings found = Findings(WriteFile("longbad", content));
  EXPECT_EQ(found.unreadableLine, 150003);
  EXPECT_EQ(found.unreadableText, "1.2.3");
  // The megabyte line of digits: no point, and far past column 20.
  EXPECT_EQ(found.withoutPoint.firstLine, 150001);
  EXPECT_EQ(found.withoutPoint.firstText, std::string(RecordTally::kKeptText, '1'));
  EXPECT_EQ(found.pastField.count, 1);
  EXPECT_EQ(found.blank.count, 0);
}

// What the count tells besides the number of records, the same whatever the
// record ends: the first record of each kind and how many there are.
TEST(SeriesFileCount, FindingsNameTheFirstMisreadRecordOfEachKind) {
  const std::string records[] = {"1.5", "12", "", "2.500000000000000000e+01", "   ", "0", "-3 ", "4.0                 remark",
                                 "0e5", "7e1", "1.0" + std::string(17, ' ') + "\t\t"};
  for (const std::string end : {"\n", "\r\n", "\r"}) {
    std::string content;
    for (const std::string& record : records) content += record + end;
    const SeriesFindings found = Findings(WriteFile("findings", content));
    EXPECT_EQ(found.unreadableLine, 0);
    EXPECT_EQ(found.withoutPoint.count, 3);  // 12, -3 and 7e1; 0 and 0e5 read the same either way
    EXPECT_EQ(found.withoutPoint.firstLine, 2);
    EXPECT_EQ(found.withoutPoint.firstText, "12");
    EXPECT_EQ(found.pastField.count, 2);  // the exponent and the remark; trailing blanks and tabs are harmless
    EXPECT_EQ(found.pastField.firstLine, 4);
    EXPECT_EQ(found.pastField.firstText, "2.500000000000000000e+01");
    EXPECT_EQ(found.blank.count, 2);
    EXPECT_EQ(found.blank.firstLine, 3);
    EXPECT_EQ(Describe(found), Describe(FindOneByOne(WriteFile("findings", content)))) << end.size();
  }
  // A new count starts afresh, and an unreadable record is named with its line.
  SeriesFile series;
  std::string reason;
  ASSERT_TRUE(series.Open(WriteFile("findings", "12\n1.0\n1.5 2.5\n"), reason));
  EXPECT_EQ(series.CountRecords(), std::nullopt);
  EXPECT_EQ(series.Findings().unreadableLine, 3);
  EXPECT_EQ(series.Findings().unreadableText, "1.5 2.5");
  ASSERT_TRUE(series.Open(WriteFile("findings", "1.0\n"), reason));
  EXPECT_EQ(series.CountRecords(), 1);
  EXPECT_EQ(Describe(series.Findings()), Describe(SeriesFindings()));
}

TEST(SeriesFileCount, RandomFilesCountAsRecordByRecord) {
  const std::string alphabet = "0123456789  ..++--eEdDx\t\r\n\n\n";
  std::mt19937 gen(3);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::uniform_int_distribution<int> length(0, 40);
  int readable = 0;
  for (int file = 0; file < 400; ++file) {
    std::string content;
    const int lines = 1 + file % 5;
    for (int l = 0; l < lines; ++l) {
      // Mostly plain numbers, so that some files read through.
      if (gen() % 2) {
        content += "   " + std::to_string(static_cast<int>(gen() % 2000) - 1000) + "." + std::to_string(gen() % 1000);
      } else {
        for (int c = length(gen); c > 0; --c) content += alphabet[pick(gen)];
      }
      if (gen() % 8) content += (gen() % 4) ? "\n" : "\r\n";
    }
    const std::string path = WriteFile("random", content);
    const auto expected = CountOneByOne(path);
    readable += expected.has_value();
    ASSERT_EQ(Count(path), expected) << '"' << content << '"';
    ASSERT_EQ(Describe(Findings(path)), Describe(FindOneByOne(path))) << '"' << content << '"';
  }
  EXPECT_GT(readable, 40);
}

TEST(SeriesFileFaults, AFileThatShrinksAfterTheCountIsReportedNotReadPastItsEnd) {
  const std::string path = WriteFile("shrinks", "1.0\n2.0\n3.0\n4.0\n");
  SeriesFile series;
  std::string reason;
  ASSERT_TRUE(series.Open(path, reason));
  ASSERT_EQ(series.CountRecords(), 4);
  std::filesystem::resize_file(path, 8);  // two records left
  std::vector<double> values(4);
  EXPECT_THROW(series.ReadTrainingSeries(1, 4, values), SeriesFileError);
  std::filesystem::remove(path);
}

TEST(SeriesFileFaults, AFileRemovedAfterTheCountIsStillReadFromItsOpenHandle) {
  const std::string path = WriteFile("vanishes", "1.0\n2.0\n3.0\n");
  SeriesFile series;
  std::string reason;
  ASSERT_TRUE(series.Open(path, reason));
  ASSERT_EQ(series.CountRecords(), 3);
  std::filesystem::remove(path);
  std::vector<double> values(3);
  series.ReadTrainingSeries(1, 3, values);
  EXPECT_EQ(values, (std::vector<double>{1.0, 2.0, 3.0}));
}

TEST(SeriesFileFaults, NulBytesAndAMegabyteLine) {
  // A NUL inside the field is unreadable; beyond column 20 it is ignored, like a megabyte of remark.
  EXPECT_EQ(Count(WriteFile("nul-inside", std::string("1.0\n2\0\n", 8))), std::nullopt);
  EXPECT_EQ(Count(WriteFile("nul-beyond", "1.0" + std::string(20, ' ') + std::string(3, '\0') + "\n2.0\n")), 2);
  EXPECT_EQ(Count(WriteFile("long-line", "1.0" + std::string(1 << 20, ' ') + "x\n2.0\n3.0\n")), 3);
}

TEST(SeriesFileFaults, TenMillionRecordsAreCounted) {
  const std::string path = (std::filesystem::temp_directory_path() / "odefit-series-test-ten-million").string();
  {
    std::ofstream out(path, std::ios::binary);
    const std::string block = [] {
      std::string b;
      for (int k = 0; k < 1000; ++k) b += "0.5\n";
      return b;
    }();
    for (int k = 0; k < 10000; ++k) out << block;
  }
  EXPECT_EQ(Count(path), 10000000);
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace odefit
