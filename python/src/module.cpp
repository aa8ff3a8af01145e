// odefit._odefit: the library for Python. numpy float64 arrays in and out;
// every computation runs with the GIL released; the library's exceptions
// become Python exceptions with its messages. The package odefit (python/odefit)
// wraps it with result classes and the executor search.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <climits>
#include <cmath>
#include <exception>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "arrays.h"
#include "dicts.h"
#include "odefit/model_file.h"
#include "odefit/odefit.h"
#include "odefit/search.h"

namespace odefit::python {
namespace {

// Set up by the module's initialisation; never freed, like the module.
PyObject* input_error_type = nullptr;
PyObject* numerical_error_type = nullptr;
PyObject* cancelled_type = nullptr;

// A message as a Python string. Messages quote what was read, which need not
// be UTF-8 (a byte of a file, a piece of a JSON text): such bytes become
// U+FFFD, so that the exception raised is the library's and not a decoding error.
py::str Text(const std::string& text) {
  PyObject* decoded = PyUnicode_DecodeUTF8(text.data(), static_cast<py::ssize_t>(text.size()), "replace");
  if (decoded == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(decoded);
}

void Raise(PyObject* type, const char* message) { PyErr_SetObject(type, Text(message).ptr()); }

void TranslateException(std::exception_ptr thrown) {
  try {
    if (thrown) std::rethrow_exception(thrown);
  } catch (const InputError& e) {
    py::object error = py::reinterpret_borrow<py::object>(input_error_type)(Text(e.what()));
    error.attr("file") = Text(e.file());
    error.attr("line") = e.line();
    error.attr("column") = e.column();
    PyErr_SetObject(input_error_type, error.ptr());
  } catch (const InvalidArgument& e) {
    Raise(PyExc_ValueError, e.what());
  } catch (const NumericalError& e) {
    Raise(numerical_error_type, e.what());
  } catch (const TimeLimitError& e) {
    Raise(PyExc_TimeoutError, e.what());
  } catch (const Cancelled& e) {
    Raise(cancelled_type, e.what());
  }
}

// Runs `work`, which polls `token`, on a thread of its own while the calling
// thread waits without the GIL and takes it every 50 ms to check for Ctrl-C
// (signals reach Python's handlers on the main thread only, and only when it
// runs Python). A signal's exception cancels the work and is raised once the
// work has stopped. Where no thread can be started the work runs here.
template <typename Work>
auto RunInterruptible(CancellationToken& token, Work&& work) -> decltype(work()) {
  using Result = decltype(work());
  std::optional<Result> result;
  std::exception_ptr failure;
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  std::thread worker;
  {
    py::gil_scoped_release release;
    try {
      worker = std::thread([&] {
        try {
          result.emplace(work());
        } catch (...) {
          failure = std::current_exception();
        }
        const std::lock_guard<std::mutex> lock(mutex);
        done = true;
        finished.notify_one();
      });
    } catch (const std::system_error&) {
      return work();
    }
  }
  bool interrupted = false;
  for (;;) {
    {
      py::gil_scoped_release release;
      std::unique_lock<std::mutex> lock(mutex);
      if (finished.wait_for(lock, std::chrono::milliseconds(50), [&] { return done; })) break;
    }
    if (!interrupted && PyErr_CheckSignals() != 0) {
      interrupted = true;
      token.Cancel();
    }
  }
  {
    py::gil_scoped_release release;
    worker.join();
  }
  if (interrupted) throw py::error_already_set();
  if (failure) std::rethrow_exception(failure);
  return std::move(*result);
}

// A count the caller gives as a Python int, checked into the library's int.
int CountArgument(long long value, const char* name, long long least) {
  if (value < least || value > INT_MAX) {
    throw py::value_error(std::string(name) + " must be from " + std::to_string(least) + " to " +
                          std::to_string(INT_MAX) + ", not " + std::to_string(value));
  }
  return static_cast<int>(value);
}

// The library's names, the command line's too (a ValueError otherwise).
IntegrationMethod MethodArgument(const std::string& method) { return ParseIntegrationMethod(method); }

// The integration step: None is the model's dt (the library's 0).
double StepArgument(const std::optional<double>& step) {
  if (!step) return 0.0;
  if (!(*step > 0.0) || !std::isfinite(*step)) {
    throw py::value_error("step must be positive and finite, not " + py::repr(py::float_(*step)).cast<std::string>());
  }
  return *step;
}

// One spec string for every equation, or a sequence of them, one per equation.
std::vector<EquationSpec> SpecsArgument(py::handle model) {
  std::vector<EquationSpec> specs;
  if (py::isinstance<py::str>(model)) {
    specs.push_back(ParseEquationSpec(model.cast<std::string>()));
    return specs;
  }
  if (!py::isinstance<py::sequence>(model) || py::isinstance<py::bytes>(model)) {
    throw py::type_error("model must be a spec string such as \"poly:2\" or a list of them");
  }
  for (const py::handle item : model.cast<py::sequence>()) {
    if (!py::isinstance<py::str>(item)) throw py::type_error("every model spec must be a string");
    specs.push_back(ParseEquationSpec(item.cast<std::string>()));
  }
  if (specs.empty()) throw py::value_error("model must name at least one spec");
  return specs;
}

// The variables' names: None for none, else one string for each of the D
// components (the library would drop a list of another length without a word).
std::vector<std::string> NamesArgument(py::handle names, int D) {
  std::vector<std::string> out;
  if (names.is_none()) return out;
  if (py::isinstance<py::str>(names) || py::isinstance<py::bytes>(names) || !py::isinstance<py::sequence>(names)) {
    throw py::type_error("names must be a list of strings, one per component");
  }
  for (const py::handle item : names.cast<py::sequence>()) {
    if (!py::isinstance<py::str>(item)) throw py::type_error("every name must be a string");
    // Strict UTF-8: a lone surrogate raises UnicodeEncodeError (a ValueError).
    py::ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(item.ptr(), &size);
    if (data == nullptr) throw py::error_already_set();
    out.emplace_back(data, static_cast<std::size_t>(size));
  }
  if (out.size() != static_cast<std::size_t>(D)) {
    throw py::value_error("names must name all " + std::to_string(D) + " components, not " +
                          std::to_string(out.size()));
  }
  CheckVariableNames(out);  // each must stand in an equation
  return out;
}

// Names as Python strings: a table's header may hold bytes that are not UTF-8,
// which become U+FFFD instead of making the whole call fail.
py::list NameList(const std::vector<std::string>& names) {
  py::list list;
  for (const std::string& name : names) {
    PyObject* text = PyUnicode_DecodeUTF8(name.data(), static_cast<py::ssize_t>(name.size()), "replace");
    if (text == nullptr) throw py::error_already_set();
    list.append(py::reinterpret_steal<py::str>(text));
  }
  return list;
}

// A series argument: an (n, D) array, or the tuple (values, times or None,
// breaks) in which the package's Python side packs several recordings and
// time stamps.
// The series X into `series`, whose storage is reused.
void SeriesArgument(py::handle X, const char* name, Series& series) {
  if (!py::isinstance<py::tuple>(X)) return ToSeries(AsSeriesArray(X, name), series);
  const py::tuple parts = X.cast<py::tuple>();
  if (parts.size() != 3) throw py::value_error(std::string(name) + ": a packed series is (values, times, breaks)");
  ToSeries(AsSeriesArray(parts[0], name), series);
  if (!parts[1].is_none()) {
    const DoubleArray times = AsSeriesArray(parts[1], "t");
    if (times.shape(1) != 1 || static_cast<std::size_t>(times.shape(0)) != series.size()) {
      throw py::value_error("t must hold one time per vector: " + std::to_string(series.size()) + ", not " +
                            ShapeText(times));
    }
    series.times.assign(times.data(), times.data() + times.size());
  }
  for (const py::handle item : parts[2].cast<py::sequence>()) {
    const long long b = item.cast<long long>();
    if (b < 1 || static_cast<std::size_t>(b) >= series.size() || (!series.breaks.empty() && static_cast<std::size_t>(b) <= series.breaks.back())) {
      throw py::value_error("the recordings' breaks must increase within the series");
    }
    series.breaks.push_back(static_cast<std::size_t>(b));
  }
}

Series SeriesArgument(py::handle X, const char* name) {
  Series series;
  SeriesArgument(X, name, series);
  return series;
}

py::array_t<double> ToArray(const std::vector<double>& values) {
  return OwnedArray(std::vector<double>(values), {static_cast<py::ssize_t>(values.size())});
}

// ----------------------------------------------------------------- reading

py::array_t<double> SeriesArray(Series&& series) {
  const auto rows = static_cast<py::ssize_t>(series.size());
  return OwnedArray(std::move(series.values), {rows, static_cast<py::ssize_t>(series.dimension)});
}

// FileNotFoundError for a missing file, as open() raises it.
void RequireExisting(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::exists(path, error)) {
    errno = ENOENT;
    PyErr_SetFromErrnoWithFilename(PyExc_FileNotFoundError, path.string().c_str());
    throw py::error_already_set();
  }
}

py::object ReadSeries(const std::filesystem::path& path, std::optional<int> dimension, bool returnNames) {
  const std::string name = path.string();
  RequireExisting(path);
  Series series;
  if (dimension) {
    py::gil_scoped_release release;
    series = ReadClassicSeries(name, *dimension);
  } else {
    py::gil_scoped_release release;
    series = ReadSeriesTable(name);
  }
  if (!returnNames) return SeriesArray(std::move(series));
  py::list names = NameList(series.names);
  return py::make_tuple(SeriesArray(std::move(series)), names);
}

// A table with the reader's options: (values, names, times or None, notes).
py::tuple ReadTable(const std::filesystem::path& path, const std::string& time, const std::string& delimiter,
                    const std::string& decimal) {
  const std::string name = path.string();
  RequireExisting(path);
  TableOptions options;
  options.time = time;
  if (delimiter.size() > 1) throw py::value_error("delimiter must be one character");
  if (!delimiter.empty()) options.delimiter = delimiter.front();
  if (decimal != "." && decimal != ",") throw py::value_error("decimal must be \".\" or \",\"");
  options.decimal = decimal.front();
  std::vector<std::string> notes;
  Series series;
  {
    py::gil_scoped_release release;
    std::ifstream in(name, std::ios::binary);
    if (!in) throw InputError(name, 0, 0, "cannot open");
    series = ReadSeriesTable(in, name, options, &notes);
  }
  py::object times = series.times.empty() ? py::object(py::none()) : py::object(ToArray(series.times));
  py::list names = NameList(series.names);
  return py::make_tuple(SeriesArray(std::move(series)), names, times, notes);
}

// How a (packed) series is sampled: (dt, recordings, gaps, uniform, shortest piece).
py::tuple SamplingOf(py::handle X, double dt) {
  const Series series = SeriesArgument(X, "X");
  const Sampling sampling = SeriesSampling(series, dt);
  std::size_t shortest = series.size();
  for (const SeriesPiece& piece : sampling.pieces) shortest = std::min(shortest, piece.end - piece.begin);
  return py::make_tuple(sampling.dt, sampling.recordings, sampling.gaps, sampling.uniform, shortest);
}

// ----------------------------------------------------------------- fitting

// The model and the doubts about it (FitDoubts), which the package raises as warnings.
py::tuple Fit(py::handle X, std::optional<double> dt, long long points, py::handle model, std::optional<double> threshold,
          std::optional<long long> train, bool scaled, py::handle names, bool intervals) {
  Series series = SeriesArgument(X, "X");
  FitSettings settings;
  if (!dt && series.times.empty()) throw py::value_error("give dt, or the time of every vector (t)");
  settings.dt = dt.value_or(0.0);
  if (dt && !(*dt > 0.0)) throw py::value_error("dt must be positive");
  settings.points = CountArgument(points, "points", 2);
  if (train) settings.train = CountArgument(*train, "train", 1);
  settings.equations = SpecsArgument(model);
  if (threshold) {
    if (!(*threshold >= 0.0) || !std::isfinite(*threshold)) {
      throw py::value_error("threshold must be a finite number >= 0");
    }
    settings.sparse = SparseOptions{*threshold, scaled};
  } else if (scaled) {
    throw py::value_error("scaled=True applies to a sparse fit: give a threshold too");
  }
  series.names = NamesArgument(names, series.dimension);
  CancellationToken token;
  settings.cancel = &token;
  Derivatives training;
  Model fitted = RunInterruptible(token, [&] {
    Model result = FitModel(series, settings, &training);
    if (intervals) SetIntervals(result, FitIntervals(series, settings, result));
    return result;
  });
  std::vector<std::string> doubts = FitDoubts(fitted, &training);
  return py::make_tuple(std::move(fitted), doubts);
}

// ----------------------------------------------------------------- the model

std::vector<std::vector<std::string>> Terms(const Model& model) {
  std::vector<std::vector<std::string>> terms;
  for (const ModelEquation& eq : model.equations) terms.push_back(TermNames(eq, model.Dimension(), model.names));
  return terms;
}

py::list Coefficients(const Model& model) {
  py::list list;
  for (const ModelEquation& eq : model.equations) list.append(ToArray(eq.coef));
  return list;
}

// NaN where none was computed and for the terms a sparse fit dropped, whose 0
// would read as "known exactly".
py::list StandardErrors(const Model& model) {
  py::list list;
  constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
  for (const ModelEquation& eq : model.equations) {
    std::vector<double> errors(eq.coef.size(), kNone);
    if (eq.standardErrors.size() == eq.coef.size()) {
      for (std::size_t k = 0; k < errors.size(); ++k) {
        const bool dropped = eq.coef[k] == 0.0 && eq.standardErrors[k] == 0.0;
        if (!dropped) errors[k] = eq.standardErrors[k];
      }
    }
    list.append(ToArray(errors));
  }
  return list;
}

// Every equation's (terms, 2) array of interval ends, or None when the fit computed none.
py::object Intervals(const Model& model) {
  if (!(model.intervalLevel > 0.0)) return py::none();
  py::list list;
  for (const ModelEquation& eq : model.equations) {
    py::array_t<double> ends({static_cast<py::ssize_t>(eq.coef.size()), static_cast<py::ssize_t>(2)});
    auto view = ends.mutable_unchecked<2>();
    const bool known = eq.intervalLower.size() == eq.coef.size() && eq.intervalUpper.size() == eq.coef.size();
    for (std::size_t k = 0; k < eq.coef.size(); ++k) {
      const py::ssize_t row = static_cast<py::ssize_t>(k);
      view(row, 0) = known ? eq.intervalLower[k] : std::numeric_limits<double>::quiet_NaN();
      view(row, 1) = known ? eq.intervalUpper[k] : std::numeric_limits<double>::quiet_NaN();
    }
    list.append(ends);
  }
  return list;
}

py::array_t<double> Conditions(const Model& model) {
  std::vector<double> conditions;
  for (const ModelEquation& eq : model.equations) conditions.push_back(eq.condition);
  return ToArray(conditions);
}

Model FromCoefficients(double dt, py::handle models, py::handle coefficients, py::handle names) {
  if (py::isinstance<py::str>(coefficients) || !py::isinstance<py::sequence>(coefficients)) {
    throw py::type_error("coefficients must be a list with one sequence of numbers per equation");
  }
  std::vector<std::vector<double>> coef;
  for (const py::handle row : coefficients.cast<py::sequence>()) {
    const DoubleArray values = AsDoubles(row, "coefficients");
    if (values.ndim() != 1) throw py::value_error("every equation's coefficients must be a flat sequence");
    coef.emplace_back(values.data(), values.data() + values.shape(0));
  }
  return ModelFromCoefficients(dt, SpecsArgument(models), coef,
                               NamesArgument(names, static_cast<int>(coef.size())));
}

// (states, slopes, offset) of the local polynomial fits over every window of X.
py::tuple DifferentiateSeries(py::handle X, double dt, long long points, long long order) {
  const DoubleArray array = AsSeriesArray(X, "X");
  const int pointCount = CountArgument(points, "points", 2);
  const int degree = CountArgument(order, "order", 1);
  const auto rows = static_cast<std::size_t>(array.shape(0)), D = static_cast<std::size_t>(array.shape(1));
  Derivatives d;
  {
    py::gil_scoped_release release;
    d = Differentiate(std::span<const double>(array.data(), rows * D), static_cast<int>(D), pointCount, dt, degree);
  }
  const py::ssize_t n = d.rows, width = d.dimension;
  return py::make_tuple(OwnedArray(std::move(d.states), {n, width}), OwnedArray(std::move(d.slopes), {n, width}),
                        d.offset);
}

py::array_t<double> Errors(const Model& model) {
  std::vector<double> errors;
  for (const ModelEquation& eq : model.equations) errors.push_back(eq.error);
  return ToArray(errors);
}

std::vector<std::string> SpecTexts(const Model& model) {
  std::vector<std::string> specs;
  for (const ModelEquation& eq : model.equations) specs.push_back(FormatEquationSpec(EquationSpecOf(eq)));
  return specs;
}

std::vector<std::string> Equations(const Model& model, int digits) {
  if (digits < 1 || digits > 17) throw py::value_error("digits must be from 1 to 17");
  std::vector<std::string> lines;
  for (int i = 1; i <= model.Dimension(); ++i) lines.push_back(EquationText(model, i, digits));
  return lines;
}

std::string Repr(const Model& model) {
  std::ostringstream text;
  text << "odefit.Model(dimension=" << model.Dimension() << ", dt=" << py::repr(py::float_(model.dt)).cast<std::string>()
       << ", points=" << model.points << ", train=" << model.train << ", models=[";
  const std::vector<std::string> specs = SpecTexts(model);
  for (std::size_t i = 0; i < specs.size(); ++i) text << (i ? ", '" : "'") << specs[i] << "'";
  text << "]";
  if (!model.names.empty()) text << ", names=" << py::repr(NameList(model.names)).cast<std::string>();
  text << ")";
  for (const std::string& line : Equations(model, 5)) text << "\n  " << line;
  return text.str();
}

// f(t, x) for one state (D,) or every row of (n, D); t a number or one per row.
py::array_t<double> Rhs(const Model& model, py::handle x, py::handle t) {
  ValidateModel(model);
  const DoubleArray states = AsDoubles(x, "x");
  const py::ssize_t D = model.Dimension();
  const bool one = states.ndim() == 1;
  if (!((one && states.shape(0) == D) || (states.ndim() == 2 && states.shape(1) == D))) {
    throw py::value_error("x must have shape (" + std::to_string(D) + ",) or (n, " + std::to_string(D) +
                          ") for this model, not " + ShapeText(states));
  }
  const py::ssize_t rows = one ? 1 : states.shape(0);
  if (rows == 0) throw py::value_error("x is empty: shape " + ShapeText(states));
  const DoubleArray times = AsDoubles(t, "t");
  if (!(times.ndim() == 0 || (!one && times.ndim() == 1 && times.shape(0) == rows))) {
    throw py::value_error("t must be a number" + (one ? std::string() : " or have shape (" + std::to_string(rows) + ",)") +
                          ", not shape " + ShapeText(times));
  }
  std::vector<double> out(static_cast<std::size_t>(rows * D));
  const double* in = states.data();
  const double* tv = times.data();
  const bool perRow = times.ndim() == 1;
  {
    py::gil_scoped_release release;
    for (py::ssize_t r = 0; r < rows; ++r) {
      EvaluateModel(model, perRow ? tv[r] : tv[0], std::span<const double>(in + r * D, static_cast<std::size_t>(D)),
                    std::span<double>(out.data() + r * D, static_cast<std::size_t>(D)));
    }
  }
  if (one) return OwnedArray(std::move(out), {D});
  return OwnedArray(std::move(out), {rows, D});
}

py::array_t<double> SimulateModel(const Model& model, py::handle x0, long long steps, const std::string& method,
                                  std::optional<double> step, double t0) {
  ValidateModel(model);
  const DoubleArray start = AsDoubles(x0, "x0");
  const py::ssize_t D = model.Dimension();
  if (start.ndim() != 1 || start.shape(0) != D) {
    throw py::value_error("x0 must have shape (" + std::to_string(D) + ",) for this model, not " + ShapeText(start));
  }
  RequireFinite(start, "x0");
  if (steps < 0) throw py::value_error("steps must not be negative, not " + std::to_string(steps));
  RequireSensibleSize((static_cast<double>(steps) + 1.0) * static_cast<double>(D), "simulate");
  SimulationSettings settings;
  settings.method = MethodArgument(method);
  settings.step = StepArgument(step);
  settings.t0 = t0;
  const std::vector<double> x(start.data(), start.data() + D);
  const int count = CountArgument(steps, "steps", 0);
  CancellationToken token;
  settings.cancel = &token;
  std::vector<double> path = RunInterruptible(token, [&] { return Simulate(model, x, count, settings); });
  return OwnedArray(std::move(path), {static_cast<py::ssize_t>(steps) + 1, D});
}

// The model file's text; also what a pickled model holds, which reads back with the same bits.
std::string ToJson(const Model& model) { return ModelToJson(model); }

Model FromJson(const std::string& text) {
  py::gil_scoped_release release;
  return ModelFromJson(text);
}

// What pickle and copy rebuild a model from: odefit._model_from_json(its
// text), a function of the package, since pickle finds functions by name and
// cannot name the extension's. A model is never made by Model.__new__ and
// filled in by __setstate__: such an instance would hold no model until
// filled, and any method called on it before would read memory no model was
// ever constructed in.
py::tuple Reduce(const Model& model) {
  return py::make_tuple(py::module_::import("odefit").attr("_model_from_json"), py::make_tuple(ToJson(model)));
}

// ----------------------------------------------------------------- efficiency test

py::dict Efficiency(const Model& model, py::handle X, long long pieces, long long length, long long shift,
                    const std::string& method, std::optional<double> step, long long threads) {
  ValidateModel(model);
  const DoubleArray array = AsSeriesArray(X, "X_test");
  if (array.shape(1) != model.Dimension()) {
    throw py::value_error("X_test must have " + std::to_string(model.Dimension()) + " columns for this model, not " +
                          ShapeText(array));
  }
  EfficiencySettings settings;
  settings.pieces = CountArgument(pieces, "pieces", 1);
  settings.length = CountArgument(length, "length", 1);
  settings.shift = CountArgument(shift, "shift", 1);
  RequireSensibleSize(static_cast<double>(length) * static_cast<double>(model.Dimension()), "the error curves");
  settings.method = MethodArgument(method);
  settings.step = StepArgument(step);
  settings.threads = CountArgument(threads, "threads", 0);
  const Series test = ToSeries(array);
  std::ostringstream messages;
  CancellationToken token;
  settings.cancel = &token;
  EfficiencyResult result = RunInterruptible(token, [&] { return TestModel(model, test, settings, &messages); });
  const auto D = static_cast<py::ssize_t>(result.dimension);
  py::dict out;
  out["prediction_time"] = OwnedArray(std::vector<int>(result.predictionTime), {D});
  out["prediction_error"] = OwnedArray(std::move(result.predictionError), {static_cast<py::ssize_t>(result.length), D});
  out["test_errors"] = ToArray(result.testErrors);
  out["infinite_count"] = result.infiniteCount;
  out["messages"] = messages.str();
  return out;
}

// ----------------------------------------------------------------- the search

py::dict SearchResultDict(SearchResult&& result, std::vector<std::string> names) {
  // The library's search leaves naming the variables to its caller.
  result.best.names = std::move(names);
  py::list candidates;
  for (const SearchCandidate& candidate : result.candidates) {
    candidates.append(CandidateToDict(candidate, result.best.names));
  }
  py::dict out;
  out["best"] = py::cast(std::move(result.best));
  out["candidates"] = candidates;
  out["complete"] = result.complete;
  out["horizon"] = result.horizon;
  out["starts"] = result.starts;
  out["period"] = result.period;
  out["doubts"] = result.doubts;
  py::list inclusion;
  for (const std::vector<double>& shares : result.inclusion) inclusion.append(ToArray(shares));
  out["inclusion"] = inclusion;
  return out;
}

// Runs the whole search here. Progress reports come back to the calling thread;
// there the GIL is taken to check for Ctrl-C and to call `progress`, and either
// raising cancels the search and is raised again when it has stopped.
py::dict Search(py::handle X, const py::dict& settingsDict, const py::object& progress, py::handle names) {
  const Series series = SeriesArgument(X, "X");
  std::vector<std::string> variables = NamesArgument(names, series.dimension);
  CheckVariableNames(variables);
  SearchSettings settings = SettingsFromDict(settingsDict);
  CancellationToken token;
  settings.cancel = &token;
  std::exception_ptr raised;
  const py::object* callback = &progress;  // a pointer: copies of the function need no GIL
  settings.progress = [callback, &token, &raised](int done, int total) {
    py::gil_scoped_acquire acquire;
    try {
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
      if (!callback->is_none()) (*callback)(done, total);
    } catch (...) {
      if (!raised) raised = std::current_exception();
      token.Cancel();
    }
  };
  SearchResult result;
  try {
    py::gil_scoped_release release;
    result = SearchModels(series, settings);
  } catch (const Cancelled&) {
    if (raised) std::rethrow_exception(raised);
    throw;
  }
  if (raised) std::rethrow_exception(raised);
  return SearchResultDict(std::move(result), std::move(variables));
}

py::dict Plan(py::handle X, const py::dict& settingsDict) {
  const Series series = SeriesArgument(X, "X");
  const SearchSettings settings = SettingsFromDict(settingsDict);
  SearchPlan plan;
  {
    py::gil_scoped_release release;
    plan = PlanSearch(series, settings);
  }
  return PlanToDict(plan);
}

// What the tasks run with one _SearchTaskBuffers pass on: the library's
// buffers and the series' copy.
struct TaskMemory {
  SearchTaskBuffers buffers;
  Series series;
  std::atomic<bool> busy{false};  // one task at a time: a second is refused, not raced
};

py::dict RunTask(py::handle X, const py::dict& settingsDict, const py::dict& planDict, long long index,
                 TaskMemory* memory) {
  if (memory != nullptr && memory->busy.exchange(true)) {
    throw py::value_error("these search task buffers are in use by another task");
  }
  struct Release {
    TaskMemory* memory;
    ~Release() {
      if (memory != nullptr) memory->busy = false;
    }
  } release{memory};
  Series own;
  Series& series = memory != nullptr ? memory->series : own;
  SeriesArgument(X, "X", series);
  const SearchSettings settings = SettingsFromDict(settingsDict);
  const SearchPlan plan = PlanFromDict(planDict);
  if (index < 0 || index >= static_cast<long long>(SearchTaskCount(plan))) {
    throw py::value_error("task index " + std::to_string(index) + " is not one of the plan's " +
                          std::to_string(SearchTaskCount(plan)) + " tasks");
  }
  SearchTaskResult result;
  {
    py::gil_scoped_release release;
    result = memory != nullptr ? RunSearchTask(series, settings, plan, static_cast<int>(index), memory->buffers)
                               : RunSearchTask(series, settings, plan, static_cast<int>(index));
  }
  return TaskResultToDict(result);
}

py::dict Finish(py::handle X, const py::dict& settingsDict, const py::dict& planDict, const py::list& resultDicts,
               py::handle names) {
  const Series series = SeriesArgument(X, "X");
  std::vector<std::string> variables = NamesArgument(names, series.dimension);
  const SearchSettings settings = SettingsFromDict(settingsDict);
  const SearchPlan plan = PlanFromDict(planDict);
  std::vector<SearchTaskResult> results;
  for (const py::handle item : resultDicts) {
    if (!py::isinstance<py::dict>(item)) throw py::type_error("every task result must be a dict");
    results.push_back(TaskResultFromDict(item.cast<py::dict>()));
  }
  SearchResult result;
  {
    py::gil_scoped_release release;
    result = FinishSearch(series, settings, plan, std::move(results));
  }
  return SearchResultDict(std::move(result), std::move(variables));
}

// Reads a dict into its structure and writes it back: the tests' check that
// what crosses a process boundary comes back unchanged.
py::object RoundTrip(const std::string& kind, const py::dict& dict) {
  if (kind == "settings") return SettingsToDict(SettingsFromDict(dict));
  if (kind == "plan") return PlanToDict(PlanFromDict(dict));
  if (kind == "candidate") return CandidateToDict(CandidateFromDict(dict));
  if (kind == "task") return TaskResultToDict(TaskResultFromDict(dict));
  if (kind == "model") return ModelToDict(ModelFromDict(dict));
  throw py::value_error("unknown kind " + kind);
}

py::tuple ParsedSpec(const std::string& text) {
  const EquationSpec spec = ParseEquationSpec(text);
  return py::make_tuple(static_cast<int>(spec.family), spec.order, spec.secondOrder, spec.period,
                        FormatEquationSpec(spec));
}

}  // namespace
}  // namespace odefit::python

PYBIND11_MODULE(_odefit, m) {
  namespace py = pybind11;
  using namespace odefit;
  using namespace odefit::python;
  using py::arg;

  m.doc() = "odefit's library: series, fits, models, integration, the efficiency test and the model search.";
  m.attr("__version__") = ODEFIT_VERSION_STRING;

  input_error_type = PyErr_NewExceptionWithDoc(
      "odefit.InputError",
      "Input that cannot be read as what it should be; .file, .line and .column (0 when unknown) say where.",
      PyExc_ValueError, nullptr);
  numerical_error_type = PyErr_NewExceptionWithDoc(
      "odefit.NumericalError", "A numerical routine failed; the message is its report.", PyExc_RuntimeError, nullptr);
  cancelled_type = PyErr_NewExceptionWithDoc("odefit.Cancelled", "The work was cancelled.", PyExc_Exception, nullptr);
  if (input_error_type == nullptr || numerical_error_type == nullptr || cancelled_type == nullptr) {
    throw py::error_already_set();
  }
  m.attr("InputError") = py::handle(input_error_type);
  m.attr("NumericalError") = py::handle(numerical_error_type);
  m.attr("Cancelled") = py::handle(cancelled_type);
  py::register_exception_translator(&TranslateException);

  m.def("_read_series", &ReadSeries, arg("path"), arg("dimension") = py::none(), py::kw_only(),
        arg("return_names") = false,
        "Reads a series file into an (n, D) array: with dimension, the classic file of one value per line; "
        "without, a table of one vector per line (with or without a header). return_names=True returns "
        "(array, names), the header's names (an empty list without one).");

  m.def("_fit", &Fit, arg("X"), arg("dt") = py::none(), arg("points") = 3, arg("model") = "poly:2", arg("threshold") = py::none(),
        arg("train") = py::none(), arg("scaled") = false, arg("names") = py::none(), arg("intervals") = false,
        "Fits a model to the series X (n, D): derivatives by line fits over `points` samples, then every "
        "equation of `model` (one spec for all, or a list) by least squares, sparse with a threshold. "
        "`names` (one string per column) label the model's variables. Returns (model, the doubts about it).");

  py::class_<Model>(m, "Model", "A fitted model dx_i/dt = f_i(x, t).")
      .def_property_readonly("dimension", &Model::Dimension)
      .def_readonly("dt", &Model::dt)
      .def_readonly("points", &Model::points)
      .def_readonly("train", &Model::train)
      .def_property_readonly(
          "names", [](const Model& model) { return NameList(model.names); },
          "The variables' names (from fit(names=...) or a model file), or an empty list; terms always say x1..xD.")
      .def_property_readonly("terms", &Terms, "Every equation's term names, in coefficient order.")
      .def_property_readonly("coefficients", &Coefficients, "Every equation's coefficients (arrays aligned with terms).")
      .def_property_readonly("standard_errors", &StandardErrors,
                             "Every equation's standard errors (NaN where the fit computed none and for dropped "
                             "terms).")
      .def_property_readonly("intervals", &Intervals,
                             "Every equation's (terms, 2) array of the coefficients' interval ends at interval_level "
                             "(NaN for dropped terms), or None unless fit(..., intervals=True) computed them")
      .def_property_readonly("interval_level", [](const Model& m) { return m.intervalLevel; },
                             "The level of the intervals (0.95), 0 without them")
      .def_property_readonly("condition", &Conditions,
                             "Every equation's condition estimate of its least-squares problem (0: not computed); "
                             "above about 1e8 the coefficients are poorly determined.")
      .def_property_readonly("errors", &Errors, "The error of approximation of every equation (a fraction).")
      .def_property_readonly("specs", &SpecTexts, "The spec of every equation, as fit(model=...) takes them.")
      .def("_equations", &Equations, arg("digits") = 5)
      .def("_rhs", &Rhs, arg("x"), arg("t") = 0.0)
      .def("_simulate", &SimulateModel, arg("x0"), arg("steps"), arg("method") = "rk4", arg("step") = py::none(),
           arg("t0") = 0.0)
      .def("_to_json", &ToJson)
      .def_static("_from_json", &FromJson, arg("text"))
      .def("_fields", &ModelToDict)
      .def_static("_from_fields", &ModelFromDict, arg("fields"))
      .def("__repr__", &Repr)
      .def("__reduce__", &Reduce);
  // Instances come only from the library (see Reduce); Python-side instances would be empty.
  m.attr("Model").attr("__new__") = py::cpp_function([](py::handle, py::args, py::kwargs) -> py::object {
    throw py::type_error("odefit.Model cannot be made directly: models come from fit, search, Model.from_json "
                         "and pickle");
  });

  m.def("efficiency_test", &Efficiency, arg("model"), arg("X_test"), arg("pieces") = 5, arg("length") = 500,
        arg("shift") = 100, arg("method") = "rk4", arg("step") = py::none(), arg("threads") = 1,
        "The efficiency test of `model` on the vectors after its training series (a dict).");

  m.def("_from_coefficients", &FromCoefficients, arg("dt"), arg("models"), arg("coefficients"),
        arg("names") = py::none());
  m.def("_differentiate", &DifferentiateSeries, arg("X"), arg("dt"), arg("points"), arg("order"));
  m.def("_as_series", &AsSeriesArray, arg("X"), arg("name") = "X");
  m.def("_read_table", &ReadTable, arg("path"), arg("time") = "", arg("delimiter") = "", arg("decimal") = ".");
  m.def("_sampling", &SamplingOf, arg("X"), arg("dt") = 0.0);
  m.def("_search", &Search, arg("X"), arg("settings"), arg("progress") = py::none(), arg("names") = py::none());
  m.def("_plan_search", &Plan, arg("X"), arg("settings"));
  py::class_<TaskMemory>(m, "_SearchTaskBuffers",
                         "Memory search tasks run one after another pass on; for one task at a time.")
      .def(py::init<>());
  m.def("_run_search_task", &RunTask, arg("X"), arg("settings"), arg("plan"), arg("index"),
        arg("buffers") = py::none());
  m.def("_finish_search", &Finish, arg("X"), arg("settings"), arg("plan"), arg("results"), arg("names") = py::none());
  m.def("_names", &NamesArgument, arg("names"), arg("dimension"));
  m.def("_round_trip", &RoundTrip, arg("kind"), arg("dict"));
  m.def("_parse_spec", &ParsedSpec, arg("text"));
}
