#pragma once
// The library's plain structures as Python dicts of numbers, strings and
// lists: what crosses a process boundary (pickle, a Dask or process-pool
// executor) and what a search reports. Every conversion keeps the bits of its
// doubles, so a structure sent and read back is the one sent. Reading a dict
// refuses unknown keys (ValueError) and values of the wrong type (TypeError).

#include <pybind11/pybind11.h>

#include "odefit/model.h"
#include "odefit/search.h"

namespace odefit::python {

namespace py = pybind11;

// dt, points, degrees, shapes (spec strings), thresholds, validation_fraction,
// horizon, threads, time_limit; missing keys keep the library's defaults.
SearchSettings SettingsFromDict(const py::dict& dict);
py::dict SettingsToDict(const SearchSettings& settings);

// points, degrees, shapes, thresholds, horizon, period.
SearchPlan PlanFromDict(const py::dict& dict);
py::dict PlanToDict(const SearchPlan& plan);

// points, degree, threshold, models (spec strings), supports, terms (the kept
// terms' names per equation, KeptTermNames), term_count, score, noise_floor,
// criterion, validation_errors.
SearchCandidate CandidateFromDict(const py::dict& dict);
// "terms" holds the kept terms' names (variables called `names`, or x1..xD),
// "term_count" their number, as in the search result file.
py::dict CandidateToDict(const SearchCandidate& candidate, const std::vector<std::string>& names = {});

// points, degree, candidates, complete, starts.
SearchTaskResult TaskResultFromDict(const py::dict& dict);
py::dict TaskResultToDict(const SearchTaskResult& result);

// Every field of the model and its equations, and its variables' names
// ("names", optional when reading); the model read back is checked with
// ValidateModel.
Model ModelFromDict(const py::dict& dict);
py::dict ModelToDict(const Model& model);

}  // namespace odefit::python
