#include "odefit/series.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

#include "format/fixed_format.h"
#include "odefit/errors.h"
#include "odefit/model.h"

namespace odefit {

Series ReadClassicSeries(const std::string& path, int dimension) {
  if (dimension < 1 || dimension > kMaxModelDimension) {
    throw InvalidArgument("the dimension must be from 1 to 9, not " + std::to_string(dimension));
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError(path, 0, 0, std::string("cannot open: ") + std::strerror(errno));
  Series series;
  series.dimension = dimension;
  std::string line;
  long long number = 0;
  while (fixed::ReadRecord(in, line)) {
    ++number;
    const std::optional<double> value = fixed::ReadF(line, 20, 10);
    if (!value) {
      throw InputError(path, number, 0, "cannot read \"" + line.substr(0, 20) + "\" as a number");
    }
    series.values.push_back(*value);
  }
  if (in.bad()) throw InputError(path, 0, 0, std::string("cannot read: ") + std::strerror(errno));
  series.values.resize(series.size() * static_cast<std::size_t>(dimension));
  if (series.values.empty()) throw InputError(path, 0, 0, "holds no vector of " + std::to_string(dimension));
  return series;
}

}  // namespace odefit
