#include "odefit/series.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "format/fixed_format.h"
#include "odefit/errors.h"
#include "odefit/model.h"

namespace odefit {
namespace {

constexpr std::string_view kBlanks = " \t";

// No line of a series is this long (a table line holds at most 9 numbers and
// a classic one a value in its first 20 characters): a longer one, or one that
// never ends (a device, a file without line breaks), is refused when its first
// mebibyte is read instead of being held whole in memory.
constexpr std::size_t kLongestLine = std::size_t{1} << 20;

[[noreturn]] void TooLong(const std::string& name, long long number) {
  throw InputError(name, number, 0, "is longer than 1048576 characters: not a line of a series");
}

std::string OpenError() { return std::string("cannot open: ") + std::strerror(errno); }

// One field of a table line: its text without surrounding blanks and the
// 1-based column of its first character (of where it would be when empty).
struct Field {
  std::string_view text;
  long long column = 0;
};

std::vector<Field> SplitFields(std::string_view line) {
  std::vector<Field> fields;
  const auto add = [&](std::size_t begin, std::size_t end) {
    const std::size_t first = line.find_first_not_of(kBlanks, begin);
    if (first == std::string_view::npos || first >= end) {
      fields.push_back({std::string_view(), static_cast<long long>(begin) + 1});
      return;
    }
    const std::size_t last = line.find_last_not_of(kBlanks, end - 1);
    fields.push_back({line.substr(first, last + 1 - first), static_cast<long long>(first) + 1});
  };
  if (line.find(',') != std::string_view::npos) {
    std::size_t begin = 0;
    for (std::size_t comma; (comma = line.find(',', begin)) != std::string_view::npos; begin = comma + 1) {
      add(begin, comma);
    }
    add(begin, line.size());
    return fields;
  }
  for (std::size_t begin = line.find_first_not_of(kBlanks); begin != std::string_view::npos;) {
    const std::size_t end = std::min(line.find_first_of(kBlanks, begin), line.size());
    fields.push_back({line.substr(begin, end - begin), static_cast<long long>(begin) + 1});
    begin = line.find_first_not_of(kBlanks, end);
  }
  return fields;
}

enum class NumberStatus { Ok, NotANumber, NotFinite, OutOfRange };

// Reads the whole of `text` as a decimal number; a leading '+' is allowed.
NumberStatus ReadNumber(std::string_view text, double& value) {
  if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+') text.remove_prefix(1);
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::general);
  if (text.empty() || stop != end || error == std::errc::invalid_argument) return NumberStatus::NotANumber;
  if (error == std::errc::result_out_of_range) return NumberStatus::OutOfRange;
  return std::isfinite(value) ? NumberStatus::Ok : NumberStatus::NotFinite;
}

std::string Quoted(std::string_view text) {
  constexpr std::size_t kShown = 40;
  std::string quoted = "\"";
  quoted += text.substr(0, kShown);
  if (text.size() > kShown) quoted += "...";
  return quoted + "\"";
}

std::string Unquoted(std::string_view name) {
  if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
  return std::string(name);
}

}  // namespace

Series ReadClassicSeries(std::istream& in, const std::string& name, int dimension) {
  if (dimension < 1 || dimension > kMaxModelDimension) {
    throw InvalidArgument("the dimension must be from 1 to 9, not " + std::to_string(dimension));
  }
  Series series;
  series.dimension = dimension;
  std::string line;
  long long number = 0;
  while (fixed::ReadRecord(in, line, kLongestLine)) {
    ++number;
    if (line.size() > kLongestLine) TooLong(name, number);
    const std::optional<double> value = fixed::ReadF(line, 20, 10);
    if (!value) {
      throw InputError(name, number, 0, "cannot read \"" + line.substr(0, 20) + "\" as a number");
    }
    series.values.push_back(*value);
  }
  if (in.bad()) throw InputError(name, 0, 0, std::string("cannot read: ") + std::strerror(errno));
  series.values.resize(series.size() * static_cast<std::size_t>(dimension));
  if (series.values.empty()) throw InputError(name, 0, 0, "holds no vector of " + std::to_string(dimension));
  return series;
}

Series ReadClassicSeries(const std::string& path, int dimension) {
  if (dimension < 1 || dimension > kMaxModelDimension) {
    throw InvalidArgument("the dimension must be from 1 to 9, not " + std::to_string(dimension));
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError(path, 0, 0, OpenError());
  return ReadClassicSeries(in, path, dimension);
}

Series ReadSeriesTable(std::istream& in, const std::string& name) {
  Series series;
  std::string line;
  long long number = 0;
  std::size_t columns = 0;
  long long headerLine = 0;
  while (fixed::ReadRecord(in, line, kLongestLine)) {
    ++number;
    if (line.size() > kLongestLine) TooLong(name, number);
    if (number == 1) {
      // Editors on some systems begin UTF-8 text with a byte order mark; it is
      // no part of the first name or value. UTF-16 would read as garbage.
      if (line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
      if (line.starts_with("\xFF\xFE") || line.starts_with("\xFE\xFF")) {
        throw InputError(name, 1, 1, "is UTF-16 text: save it as UTF-8 or plain ASCII");
      }
    }
    const std::size_t first = line.find_first_not_of(kBlanks);
    if (first == std::string::npos || line[first] == '#') continue;
    const std::vector<Field> fields = SplitFields(line);
    const bool firstLine = columns == 0;
    if (firstLine) {
      if (fields.size() > static_cast<std::size_t>(kMaxModelDimension)) {
        throw InputError(name, number, 0,
                         "has " + std::to_string(fields.size()) + " columns; a series has at most 9 variables");
      }
      double ignored = 0.0;
      bool header = false;
      for (const Field& field : fields) {
        // An empty field is no name either: the line is a vector with a value missing.
        if (field.text.empty()) throw InputError(name, number, field.column, "empty value");
        header = header || ReadNumber(field.text, ignored) == NumberStatus::NotANumber;
      }
      columns = fields.size();
      if (header) {
        for (const Field& field : fields) series.names.push_back(Unquoted(field.text));
        headerLine = number;
        continue;
      }
    }
    if (fields.size() != columns) {
      const std::string expected = headerLine > 0 && series.values.empty()
                                       ? "the header names " + std::to_string(columns) + " columns"
                                       : "the first vector has " + std::to_string(columns) + " values";
      throw InputError(name, number, 0,
                       "has " + std::to_string(fields.size()) + (fields.size() == 1 ? " value" : " values") +
                           " where " + expected + " (ragged rows)");
    }
    for (const Field& field : fields) {
      double value = 0.0;
      switch (ReadNumber(field.text, value)) {
        case NumberStatus::Ok: break;
        case NumberStatus::NotANumber:
          throw InputError(name, number, field.column,
                           field.text.empty() ? std::string("empty value")
                                              : "cannot read " + Quoted(field.text) + " as a number");
        case NumberStatus::NotFinite:
          throw InputError(name, number, field.column, Quoted(field.text) + " is not a finite number");
        case NumberStatus::OutOfRange:
          throw InputError(name, number, field.column, Quoted(field.text) + " is beyond the range of a double");
      }
      series.values.push_back(value);
    }
  }
  if (in.bad()) throw InputError(name, 0, 0, std::string("cannot read: ") + std::strerror(errno));
  if (series.values.empty()) throw InputError(name, 0, 0, "holds no vector");
  series.dimension = static_cast<int>(columns);
  return series;
}

Series ReadSeriesTable(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError(path, 0, 0, OpenError());
  return ReadSeriesTable(in, path);
}

}  // namespace odefit
