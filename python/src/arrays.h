#pragma once
// numpy arrays in and out of the library: what the bindings accept, and arrays
// that own the vectors the library returns.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <memory>
#include <utility>
#include <vector>

#include "odefit/series.h"

namespace odefit::python {

namespace py = pybind11;

using DoubleArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

// Most values one array the bindings allocate may hold: a request beyond it is
// a mistake, refused before anything is allocated.
inline constexpr double kMaxValues = 1e9;

// Returns `object` as a C-contiguous float64 array, converted (copied) only
// when it is not one already. Integer and float dtypes are converted; any other
// dtype (bool, complex, object, strings) is a TypeError naming `name`.
DoubleArray AsDoubles(py::handle object, const char* name);

// Returns `object` as a series array of shape (n, D) with n >= 1 and D from 1 to
// 9, every value finite; a one-dimensional array is one component (n, 1).
// Raises ValueError naming `name` and the shape or the first bad value.
DoubleArray AsSeriesArray(py::handle object, const char* name);

// Raises ValueError when every value of `array` is not finite, naming the first.
void RequireFinite(const DoubleArray& array, const char* name);

// Raises ValueError when `count` values of `what` would exceed kMaxValues.
void RequireSensibleSize(double count, const char* what);

// The series the library reads from an (n, D) array (a copy: Series owns its values).
Series ToSeries(const DoubleArray& array);
// The same into `into` (its times and breaks cleared), reusing its storage.
void ToSeries(const DoubleArray& array, Series& into);

// An array of `shape` over `values`, which it takes and frees with itself (no copy).
template <typename T>
py::array_t<T> OwnedArray(std::vector<T>&& values, std::vector<py::ssize_t> shape) {
  auto holder = std::make_unique<std::vector<T>>(std::move(values));
  T* data = holder->data();
  py::capsule owner(holder.get(), [](void* p) { delete static_cast<std::vector<T>*>(p); });
  holder.release();
  return py::array_t<T>(std::move(shape), data, owner);
}

// The shape of `array` as numpy prints it: "(3, 2)".
std::string ShapeText(const py::array& array);

}  // namespace odefit::python
