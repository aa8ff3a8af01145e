#pragma once
// Time series: D-dimensional state vectors sampled at a fixed interval.

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

namespace odefit {

// A series of vectors, stored row after row: component i (0-based) of vector
// n (0-based) is values[n * dimension + i]. This is the layout of a C-ordered
// (n, D) array, and of the D x n column-major arrays the numerical routines
// take.
struct Series {
  int dimension = 0;
  std::vector<double> values;
  std::vector<std::string> names;  // one per component when the source named them, else empty

  // The number of whole vectors.
  std::size_t size() const { return dimension > 0 ? values.size() / static_cast<std::size_t>(dimension) : 0; }
};

// Reads the classic series file: one value per line in its first 20
// characters (a value without a decimal point has 10 implied decimals), the
// D components of each vector on consecutive lines; a last incomplete vector
// is dropped. Throws InputError naming the file and line of the first value
// that cannot be read, or when the file cannot be opened or holds no vector;
// InvalidArgument unless 1 <= dimension <= 9.
Series ReadClassicSeries(const std::string& path, int dimension);

// Reads the classic series format from `in`; `name` names the source in
// errors ("-" for standard input). Throws as the path form does.
Series ReadClassicSeries(std::istream& in, const std::string& name, int dimension);

// Reads a table of vectors: one vector per line, its values separated by
// commas (blanks around them allowed) or, on a line without commas, by runs
// of blanks and tabs. Values are read as people write them, in any locale:
// "1", "-2.5", "+4.", ".5", "1e-3", "-2.5E+04"; no implied decimals. Lines
// end at LF, CR LF or CR; blank lines and lines whose first non-blank
// character is '#' are skipped. The first remaining line is a header of
// names (taken into Series::names, surrounding double quotes removed) when
// any of its fields is not a number (and none is empty); the number of columns is the dimension,
// from 1 to 9. Throws InputError naming `name`, the line and the column: for
// a value that is not a number, not finite (nan, inf) or beyond the range of
// a double, an empty value, a line with another number of values than the
// first, a header with another number of names, more than 9 columns, or no
// vector at all; nothing is returned from a partly read table. A UTF-8 byte
// order mark at the start is skipped; UTF-16 text is refused, and so is a
// line longer than 1 MiB (in both readers), read no further than that.
Series ReadSeriesTable(std::istream& in, const std::string& name);

// Reads the table in the file `path` as above. Throws InputError also when
// the file cannot be opened or read.
Series ReadSeriesTable(const std::string& path);

}  // namespace odefit
