#pragma once
// Time series: D-dimensional state vectors sampled at a fixed interval.

#include <cstddef>
#include <iosfwd>
#include <optional>
#include <span>
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
  // The time of every vector, or empty: then vector n is at n dt. Increasing
  // within each recording.
  std::vector<double> times;
  // Where the recordings after the first begin: vector indices, increasing,
  // each from 1 to size() - 1. No differentiation window spans two recordings.
  std::vector<std::size_t> breaks;

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

// How a table is read beyond the defaults above.
struct TableOptions {
  // The character between values: 0 for the defaults (commas, else blanks
  // and tabs); ' ' for blanks and tabs; or ',', ';', '\t', '|'.
  char delimiter = 0;
  // The decimal mark: '.' or ',' (then the delimiter must not be ',').
  char decimal = '.';
  // The time column: its name or 1-based number; empty for a first column
  // named t or time (any case), if there is one; "none" for no time column.
  std::string time;
};

// Reads a table as above with `options`, and with what people's files hold:
// a first column 0, 1, 2, ... (or 1, 2, 3, ...) that is unnamed (no header,
// or an empty or pandas-like name: "Unnamed: 0", "index") is an index and is
// skipped; a '#' line just before the first vector that holds as many names
// as there are columns (np.savetxt's header) is the header; the time column
// goes into Series::times (strictly increasing, else InputError). Values
// separated by ';' without the delimiter given are refused with the options
// that read them. Header names must pass CheckVariableNames (InputError at
// the name). Every choice the reader made on its own is described, one
// sentence each, in `notes` when given.
Series ReadSeriesTable(std::istream& in, const std::string& name, const TableOptions& options,
                       std::vector<std::string>* notes = nullptr);

// Checks that `names` (none, or one per variable) can stand in an equation:
// unique, each a letter, '_' or a byte beyond ASCII followed by letters,
// digits, '_' and bytes beyond ASCII, and none of "t", "cos", "sin".
// Throws InvalidArgument naming the first that cannot.
void CheckVariableNames(const std::vector<std::string>& names);

// For a one-column series: the dimension D (2 to 9) whose interleaving
// makes it far smoother (every D-th value alike, as in the classic file of
// one value per line read as a table), or nothing.
std::optional<int> SuggestDimension(const Series& series);

// Joins recordings of the same variables into one series, with a break
// before each after the first (their times, when all have them, kept).
// Throws InvalidArgument when their dimensions or names differ, or only some
// have times.
Series JoinRecordings(std::span<const Series> recordings);

// One uniformly or non-uniformly sampled part of a series: vectors begin to
// end - 1, none of its time steps more than 1.5 sampling intervals.
struct SeriesPiece {
  std::size_t begin = 0;
  std::size_t end = 0;
  bool uniform = true;  // every time step within 1e-6 of dt (always, without times)
};

// How a series is sampled: its sampling interval and its pieces, split at
// the recordings' breaks and at gaps of more than 1.5 sampling intervals.
struct Sampling {
  double dt = 0.0;
  std::vector<SeriesPiece> pieces;
  int recordings = 1;  // pieces from the breaks alone
  int gaps = 0;        // further splits at gaps in the time stamps
  bool uniform = true; // every piece uniform
};

// Returns the sampling of the first `vectors` vectors of `series` (all when
// 0). Without times, dt must be given (> 0, finite). With times, dt is the
// median time step; a dt given that differs from it by more than 1e-6 of it
// is an error. Throws InvalidArgument saying which, and for times that do
// not increase within a recording.
Sampling SeriesSampling(const Series& series, double dt, std::size_t vectors = 0);

}  // namespace odefit
