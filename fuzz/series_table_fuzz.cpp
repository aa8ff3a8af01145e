// Fuzz target: the library's series readers on arbitrary bytes. The first
// byte picks the reader: the table (0 mod 10), or the classic file with that
// dimension (1 to 9). A series read must be whole and finite; a table must
// read back from its own CSV with the same bits and names.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "odefit/errors.h"
#include "odefit/series.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// A name survives a CSV line when it has no separator, quote, line break or
// '#', and is not empty or a number.
bool Plain(const std::string& name) {
  if (name.empty() || name.find_first_of(",\"#\r\n \t") != std::string::npos) return false;
  if (name.starts_with("\xEF\xBB\xBF") || name.starts_with("\xFF\xFE") || name.starts_with("\xFE\xFF")) return false;
  return name.find_first_not_of("0123456789+-.eEinfINFaA") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const int dimension = data[0] % 10;
  std::istringstream in(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  odefit::Series series;
  try {
    series = dimension == 0 ? odefit::ReadSeriesTable(in, "fuzz") : odefit::ReadClassicSeries(in, "fuzz", dimension);
  } catch (const odefit::InputError& e) {
    Check(e.file() == "fuzz" && e.line() >= 0 && e.column() >= 0);
    return 0;
  }
  const int D = series.dimension;
  Check(D >= 1 && D <= 9 && (dimension == 0 || D == dimension));
  Check(!series.values.empty() && series.values.size() % static_cast<std::size_t>(D) == 0);
  Check(series.names.empty() || series.names.size() == static_cast<std::size_t>(D));
  for (const double v : series.values) Check(std::isfinite(v));
  if (dimension != 0) return 0;

  // Written again as CSV (shortest round-trip digits), the table reads back the same.
  bool plainNames = !series.names.empty();
  for (const std::string& name : series.names) plainNames = plainNames && Plain(name);
  // Always a header: without one, a first column 0, 1, 2, ... reads as an
  // index, as the reader documents, and would not come back as a variable.
  std::string csv;
  for (int i = 0; i < D; ++i) {
    csv += plainNames ? series.names[static_cast<std::size_t>(i)] : "v" + std::to_string(i + 1);
    csv += i + 1 < D ? "," : "\n";
  }
  for (std::size_t k = 0; k < series.values.size(); ++k) {
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.17g", series.values[k]);
    csv += digits;
    csv += (k + 1) % static_cast<std::size_t>(D) == 0 ? '\n' : ',';
  }
  std::istringstream again(csv);
  const odefit::Series back = odefit::ReadSeriesTable(again, "again");
  Check(back.dimension == D && back.values.size() == series.values.size());
  Check(std::memcmp(back.values.data(), series.values.data(), series.values.size() * sizeof(double)) == 0);
  if (plainNames) Check(back.names == series.names);
  return 0;
}
