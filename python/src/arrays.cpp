#include "arrays.h"

#include <cmath>
#include <string>

#include "odefit/model.h"

namespace odefit::python {

std::string ShapeText(const py::array& array) {
  std::string text = "(";
  for (py::ssize_t k = 0; k < array.ndim(); ++k) {
    if (k > 0) text += ", ";
    text += std::to_string(array.shape(k));
  }
  if (array.ndim() == 1) text += ",";
  return text + ")";
}

DoubleArray AsDoubles(py::handle object, const char* name) {
  // numpy's own error (a ragged list, say) propagates as it is.
  const py::array array(py::reinterpret_borrow<py::object>(object));
  const char kind = array.dtype().kind();
  if (kind != 'f' && kind != 'i' && kind != 'u') {
    throw py::type_error(std::string(name) + " must hold real numbers, not dtype " +
                         py::str(array.dtype()).cast<std::string>());
  }
  // No copy when the array is already C-contiguous float64 in native byte order.
  // The constructor keeps numpy's error (MemoryError for a broadcast array too
  // large to copy); ensure() would clear it.
  return DoubleArray(array);
}

void RequireFinite(const DoubleArray& array, const char* name) {
  const double* values = array.data();
  const py::ssize_t count = array.size();
  for (py::ssize_t k = 0; k < count; ++k) {
    if (!std::isfinite(values[k])) {
      std::string where;
      if (array.ndim() == 2) {
        const py::ssize_t columns = array.shape(1);
        where = "[" + std::to_string(k / columns) + ", " + std::to_string(k % columns) + "]";
      } else {
        where = "[" + std::to_string(k) + "]";
      }
      throw py::value_error(std::string(name) + where + " is " + (std::isnan(values[k]) ? "NaN" : "infinite") +
                            ": every value must be finite");
    }
  }
}

DoubleArray AsSeriesArray(py::handle object, const char* name) {
  DoubleArray array = AsDoubles(object, name);
  if (array.ndim() == 1) array = DoubleArray(array.reshape({array.shape(0), py::ssize_t{1}}));
  if (array.ndim() != 2) {
    throw py::value_error(std::string(name) + " must have shape (n, D), not " + ShapeText(array));
  }
  if (array.size() == 0) throw py::value_error(std::string(name) + " is empty: shape " + ShapeText(array));
  if (array.shape(1) > kMaxModelDimension) {
    throw py::value_error(std::string(name) + " has shape " + ShapeText(array) +
                          ": a series has 1 to 9 components (columns), one row per vector");
  }
  RequireFinite(array, name);
  return array;
}

void RequireSensibleSize(double count, const char* what) {
  if (count > kMaxValues) {
    throw py::value_error(std::string(what) + " would need " + std::to_string(static_cast<long long>(count)) +
                          " values, more than the 1e9 allowed");
  }
}

Series ToSeries(const DoubleArray& array) {
  Series series;
  ToSeries(array, series);
  return series;
}

void ToSeries(const DoubleArray& array, Series& into) {
  into.dimension = static_cast<int>(array.shape(1));
  into.values.assign(array.data(), array.data() + array.size());
  into.times.clear();
  into.breaks.clear();
  into.names.clear();
}

}  // namespace odefit::python
