#include "odefit/series.h"

#include <algorithm>
#include <cctype>
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

// Returns `value` in the fewest digits that read back as the same double.
std::string Shortest(double value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
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

Series ReadSeriesTable(std::istream& in, const std::string& name) { return ReadSeriesTable(in, name, TableOptions{}); }

namespace {

bool IsBlankOrComment(std::string_view line) {
  const std::size_t first = line.find_first_not_of(kBlanks);
  return first == std::string_view::npos || line[first] == '#';
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// What pandas and others call an index column they write without being asked.
bool IndexLikeName(std::string_view name) {
  const std::string lower = Lower(name);
  return lower.empty() || lower == "index" || lower.starts_with("unnamed: ");
}

bool TimeLikeName(std::string_view name) {
  const std::string lower = Lower(name);
  return lower == "t" || lower == "time";
}

std::string NameProblem(const std::string& name) {
  if (name.empty()) return "a variable needs a name";
  const auto letter = [](unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; };
  if (!letter(static_cast<unsigned char>(name.front()))) {
    return "\"" + name + "\" cannot stand in an equation: a name starts with a letter or _";
  }
  for (const char c : name) {
    if (!letter(static_cast<unsigned char>(c)) && !std::isdigit(static_cast<unsigned char>(c))) {
      return "\"" + name + "\" cannot stand in an equation: a name holds letters, digits and _ only";
    }
  }
  if (name == "t" || name == "cos" || name == "sin") {
    return "\"" + name + "\" cannot name a variable: it means time or the driving in the equations";
  }
  return "";
}

// The reader's state for one table.
class TableReader {
 public:
  TableReader(const std::string& name, const TableOptions& options, std::vector<std::string>* notes)
      : name_(name), options_(options), notes_(notes) {
    if (options.decimal != '.' && options.decimal != ',') throw InvalidArgument("the decimal mark must be . or ,");
    if (options.decimal == ',' && (options.delimiter == 0 || options.delimiter == ',')) {
      throw InvalidArgument("with the decimal mark , the values must be separated by another character (;)");
    }
  }

  std::vector<Field> Split(std::string_view line) const {
    const char d = options_.delimiter;
    if (d == 0) return SplitFields(line);
    std::vector<Field> fields;
    if (d == ' ') {
      for (std::size_t begin = line.find_first_not_of(kBlanks); begin != std::string_view::npos;) {
        const std::size_t end = std::min(line.find_first_of(kBlanks, begin), line.size());
        fields.push_back({line.substr(begin, end - begin), static_cast<long long>(begin) + 1});
        begin = line.find_first_not_of(kBlanks, end);
      }
      return fields;
    }
    std::size_t begin = 0;
    for (;;) {
      const std::size_t stop = std::min(line.find(d, begin), line.size());
      const std::string_view part = line.substr(begin, stop - begin);
      const std::size_t first = part.find_first_not_of(d == '\t' ? std::string_view(" ") : kBlanks);
      if (first == std::string_view::npos) {
        fields.push_back({std::string_view(), static_cast<long long>(begin) + 1});
      } else {
        const std::size_t last = part.find_last_not_of(d == '\t' ? std::string_view(" ") : kBlanks);
        fields.push_back({part.substr(first, last + 1 - first), static_cast<long long>(begin + first) + 1});
      }
      if (stop == line.size()) return fields;
      begin = stop + 1;
    }
  }

  NumberStatus Number(std::string_view text, double& value) const {
    if (options_.decimal == '.') return ReadNumber(text, value);
    std::string copy(text);
    for (char& c : copy) {
      if (c == ',') {
        c = '.';
      } else if (c == '.') {
        return NumberStatus::NotANumber;  // a point where commas mark decimals
      }
    }
    return ReadNumber(copy, value);
  }

  void Note(std::string text) {
    if (notes_ != nullptr) notes_->push_back(std::move(text));
  }

  const std::string& name_;
  const TableOptions& options_;
  std::vector<std::string>* notes_;
};

}  // namespace

Series ReadSeriesTable(std::istream& in, const std::string& name, const TableOptions& options,
                       std::vector<std::string>* notes) {
  TableReader reader(name, options, notes);
  // A first column may turn out to be an index or the time, so two more than a model's variables are read.
  constexpr std::size_t kMostColumns = static_cast<std::size_t>(kMaxModelDimension) + 2;
  Series series;
  std::string line;
  long long number = 0;
  std::size_t columns = 0;
  long long headerLine = 0;
  std::vector<Field> headerFields;  // where the names were, for messages
  std::string lastComment;          // the last '#' line before the first vector
  long long lastCommentLine = 0;
  std::vector<long long> rowLines;  // the line of every vector
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
    if (IsBlankOrComment(line)) {
      const std::size_t first = line.find_first_not_of(kBlanks);
      if (first != std::string::npos && columns == 0) {
        lastComment = line.substr(first + 1);
        lastCommentLine = number;
      }
      continue;
    }
    const bool firstLine = columns == 0;
    if (firstLine && options.delimiter == 0 && line.find(';') != std::string::npos) {
      bool commas = line.find(',') != std::string::npos;
      // A header says nothing of the decimal mark: the next line does.
      for (std::string next; !commas && fixed::ReadRecord(in, next, kLongestLine);) {
        if (IsBlankOrComment(next)) continue;
        commas = next.find(',') != std::string::npos;
        break;
      }
      throw InputError(name, number, static_cast<long long>(line.find(';')) + 1,
                       std::string("the values are separated by \";\"") + (commas ? " with decimal commas" : "") +
                           ": read it with the delimiter \";\"" + (commas ? " and the decimal mark \",\"" : "") +
                           " (--delimiter ';'" + (commas ? " --decimal ','" : "") + ")");
    }
    const std::vector<Field> fields = reader.Split(line);
    if (firstLine) {
      if (fields.size() > kMostColumns) {
        throw InputError(name, number, 0,
                         "has " + std::to_string(fields.size()) + " columns; a series has at most 9 variables");
      }
      double ignored = 0.0;
      bool header = false;
      for (const Field& field : fields) {
        // A number in either decimal convention is no name.
        header = header || (!field.text.empty() && reader.Number(field.text, ignored) == NumberStatus::NotANumber &&
                            ReadNumber(field.text, ignored) == NumberStatus::NotANumber);
      }
      for (std::size_t k = 0; k < fields.size(); ++k) {
        // An empty field is no name either: the line is a vector with a value
        // missing; pandas alone leaves its index column unnamed.
        if (fields[k].text.empty() && !(header && k == 0 && fields.size() > 1)) {
          throw InputError(name, number, fields[k].column, "empty value");
        }
      }
      columns = fields.size();
      if (header) {
        for (const Field& field : fields) series.names.push_back(Unquoted(field.text));
        headerFields = fields;
        headerLine = number;
        continue;
      }
      // np.savetxt writes its header as a comment: a '#' line just before the
      // data with a name for every column is taken as one.
      if (lastCommentLine > 0 && lastCommentLine + 1 == number) {
        const std::vector<Field> named = reader.Split(lastComment);
        std::vector<Field> commaNamed = SplitFields(lastComment);
        const std::vector<Field>& candidates = named.size() == columns ? named : commaNamed;
        bool usable = candidates.size() == columns;
        for (std::size_t k = 0; usable && k < columns; ++k) {
          usable = NameProblem(Unquoted(candidates[k].text)).empty() || TimeLikeName(candidates[k].text);
        }
        if (usable) {
          std::string list;
          for (const Field& field : candidates) {
            series.names.push_back(Unquoted(field.text));
            list += (list.empty() ? "" : ", ") + series.names.back();
          }
          for (Field& field : headerFields = candidates) field.column += 1;  // after the '#'
          headerLine = lastCommentLine;
          reader.Note("took the comment on line " + std::to_string(lastCommentLine) + " as the header: " + list);
        }
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
      switch (reader.Number(field.text, value)) {
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
    rowLines.push_back(number);
  }
  if (in.bad()) throw InputError(name, 0, 0, std::string("cannot read: ") + std::strerror(errno));
  if (series.values.empty()) throw InputError(name, 0, 0, "holds no vector");
  const std::size_t rows = rowLines.size();
  const auto column = [&](std::size_t k) {
    std::vector<double> values(rows);
    for (std::size_t r = 0; r < rows; ++r) values[r] = series.values[r * columns + k];
    return values;
  };
  const auto removeColumn = [&](std::size_t k) {
    std::vector<double> kept;
    kept.reserve(rows * (columns - 1));
    for (std::size_t r = 0; r < rows; ++r) {
      for (std::size_t j = 0; j < columns; ++j) {
        if (j != k) kept.push_back(series.values[r * columns + j]);
      }
    }
    series.values = std::move(kept);
    if (!series.names.empty()) series.names.erase(series.names.begin() + static_cast<std::ptrdiff_t>(k));
    if (!headerFields.empty()) headerFields.erase(headerFields.begin() + static_cast<std::ptrdiff_t>(k));
    --columns;
  };

  // The time column, found among the file's columns.
  std::optional<std::size_t> timeColumn;
  const bool unnamedFirst = series.names.empty() || IndexLikeName(series.names.front());
  if (options.time.empty()) {
    for (std::size_t k = 0; k < std::min<std::size_t>(series.names.size(), unnamedFirst ? 2 : 1); ++k) {
      if (TimeLikeName(series.names[k]) && columns >= 2) timeColumn = k;
    }
    if (timeColumn) {
      reader.Note("took the column \"" + series.names[*timeColumn] + "\" as the time of every vector");
    }
  } else if (options.time != "none") {
    const auto named = std::find(series.names.begin(), series.names.end(), options.time);
    if (named != series.names.end()) {
      timeColumn = static_cast<std::size_t>(named - series.names.begin());
    } else {
      int k = 0;
      const auto [stop, error] = std::from_chars(options.time.data(), options.time.data() + options.time.size(), k);
      if (error != std::errc() || stop != options.time.data() + options.time.size() || k < 1 ||
          static_cast<std::size_t>(k) > columns) {
        throw InputError(name, headerLine, 0,
                         "has no time column \"" + options.time +
                             "\" (a name of the header or a column number from 1 to " + std::to_string(columns) + ")");
      }
      timeColumn = static_cast<std::size_t>(k - 1);
    }
    if (columns < 2) throw InputError(name, 0, 0, "has no column left beside the time");
  }

  // An index column: 0, 1, 2, ... or 1, 2, 3, ... without a name; or, named
  // as pandas names its index, increasing whole numbers (rows may have been dropped).
  bool index = false;
  std::vector<double> first;
  if (columns - (timeColumn ? 1 : 0) >= 2 && rows >= 2 && unnamedFirst && timeColumn != std::size_t{0}) {
    first = column(0);
    if (series.names.empty()) {
      index = first[0] == 0.0 || first[0] == 1.0;
      for (std::size_t r = 1; index && r < rows; ++r) index = first[r] == first[r - 1] + 1.0;
    } else {
      index = first[0] >= 0.0 && first[0] == std::floor(first[0]);
      for (std::size_t r = 1; index && r < rows; ++r) index = first[r] > first[r - 1] && first[r] == std::floor(first[r]);
    }
  }
  if (timeColumn) {
    series.times = column(*timeColumn);
    for (std::size_t r = 1; r < rows; ++r) {
      if (!(series.times[r] > series.times[r - 1])) {
        throw InputError(name, rowLines[r], 0,
                         "the time " + Shortest(series.times[r]) + " does not follow " + Shortest(series.times[r - 1]) +
                             " (times must increase)");
      }
    }
    removeColumn(*timeColumn);
  }
  if (index) {
    removeColumn(0);
    reader.Note(series.names.empty() || first[1] == first[0] + 1.0
                    ? "skipped the first column, an index " + std::string(first[0] == 0.0 ? "0, 1, 2" : "1, 2, 3") +
                          ", ... (not a variable)"
                    : std::string("skipped the first column, an unnamed index (not a variable)"));
  }
  if (!series.names.empty() && series.names.front().empty()) {
    throw InputError(name, headerLine, headerFields.front().column, "the first column has no name");
  }
  if (columns > static_cast<std::size_t>(kMaxModelDimension)) {
    throw InputError(name, rowLines.front(), 0,
                     "has " + std::to_string(columns) + " columns; a series has at most 9 variables");
  }
  for (std::size_t k = 0; k < series.names.size(); ++k) {
    std::string problem = NameProblem(series.names[k]);
    for (std::size_t j = 0; problem.empty() && j < k; ++j) {
      if (series.names[j] == series.names[k]) problem = "two columns are named \"" + series.names[k] + "\"";
    }
    if (!problem.empty()) throw InputError(name, headerLine, headerFields[k].column, problem);
  }
  series.dimension = static_cast<int>(columns);
  return series;
}

Series ReadSeriesTable(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError(path, 0, 0, OpenError());
  return ReadSeriesTable(in, path);
}

}  // namespace odefit

namespace odefit {

void CheckVariableNames(const std::vector<std::string>& names) {
  for (std::size_t k = 0; k < names.size(); ++k) {
    const std::string problem = NameProblem(names[k]);
    if (!problem.empty()) throw InvalidArgument("variable " + std::to_string(k + 1) + ": " + problem);
    for (std::size_t j = 0; j < k; ++j) {
      if (names[j] == names[k]) throw InvalidArgument("two variables are named \"" + names[k] + "\"");
    }
  }
}

}  // namespace odefit
