#include "dicts.h"

#include <pybind11/stl.h>

#include <set>
#include <string>
#include <vector>

#include "odefit/fit.h"

namespace odefit::python {
namespace {

// Longest time limit in seconds (about 30 years), far inside the clock's range.
constexpr double kLongestTimeLimit = 1e9;

// Reads the keys of one dict, then refuses the keys nobody asked for, so a
// misspelt setting is an error instead of a silent default.
class DictReader {
 public:
  DictReader(const py::dict& dict, std::string what) : dict_(dict), what_(std::move(what)) {}

  template <typename T>
  bool Read(const char* key, T& out) {
    asked_.insert(key);
    if (!dict_.contains(key)) return false;
    try {
      out = dict_[key].template cast<T>();
    } catch (const py::cast_error&) {
      WrongType(key);
    } catch (py::error_already_set& e) {
      // Sequences are converted by Python itself, which raises TypeError for an int.
      if (!e.matches(PyExc_TypeError)) throw;
      WrongType(key);
    }
    return true;
  }

  template <typename T>
  T Require(const char* key) {
    T value{};
    if (!Read(key, value)) throw py::value_error(what_ + " lacks \"" + key + "\"");
    return value;
  }

  [[noreturn]] void WrongType(const char* key) const {
    throw py::type_error(what_ + " \"" + key + "\" cannot be " +
                         py::str(py::type::handle_of(dict_[key])).cast<std::string>());
  }

  void Finish() const {
    for (const auto item : dict_) {
      const std::string key = py::str(item.first).cast<std::string>();
      if (asked_.count(key) == 0) throw py::value_error(what_ + " has an unknown key \"" + key + "\"");
    }
  }

 private:
  const py::dict& dict_;
  std::string what_;
  std::set<std::string> asked_;
};

std::vector<EquationSpec> Specs(const std::vector<std::string>& texts) {
  std::vector<EquationSpec> specs;
  specs.reserve(texts.size());
  for (const std::string& text : texts) specs.push_back(ParseEquationSpec(text));
  return specs;
}

std::vector<std::string> SpecTexts(const std::vector<EquationSpec>& specs) {
  std::vector<std::string> texts;
  texts.reserve(specs.size());
  for (const EquationSpec& spec : specs) texts.push_back(FormatEquationSpec(spec));
  return texts;
}

// Search structures hold lists of dicts; each must be a dict.
py::dict AsDict(py::handle item, const char* what) {
  if (!py::isinstance<py::dict>(item)) throw py::type_error(std::string(what) + " must be a dict");
  return py::reinterpret_borrow<py::dict>(item);
}

}  // namespace

SearchSettings SettingsFromDict(const py::dict& dict) {
  DictReader in(dict, "search setting");
  SearchSettings settings;
  in.Read("dt", settings.dt);
  in.Read("points", settings.points);
  in.Read("degrees", settings.degrees);
  std::vector<std::string> shapes;
  if (in.Read("shapes", shapes)) settings.shapes = Specs(shapes);
  in.Read("thresholds", settings.thresholds);
  in.Read("validation_fraction", settings.validationFraction);
  in.Read("horizon", settings.horizon);
  in.Read("threads", settings.threads);
  in.Read("time_limit", settings.timeLimit);
  in.Finish();
  // The library reads a negative count as one thread per core, and a limit
  // beyond its clock's range overflows it.
  if (settings.threads < 0) throw py::value_error("threads must not be negative");
  if (!(settings.timeLimit >= 0.0 && settings.timeLimit <= kLongestTimeLimit)) {
    throw py::value_error("time_limit must be from 0 to 1e9 seconds");
  }
  return settings;
}

py::dict SettingsToDict(const SearchSettings& settings) {
  py::dict dict;
  dict["dt"] = settings.dt;
  dict["points"] = settings.points;
  dict["degrees"] = settings.degrees;
  dict["shapes"] = SpecTexts(settings.shapes);
  dict["thresholds"] = settings.thresholds;
  dict["validation_fraction"] = settings.validationFraction;
  dict["horizon"] = settings.horizon;
  dict["threads"] = settings.threads;
  dict["time_limit"] = settings.timeLimit;
  return dict;
}

SearchPlan PlanFromDict(const py::dict& dict) {
  DictReader in(dict, "search plan");
  SearchPlan plan;
  plan.points = in.Require<std::vector<int>>("points");
  plan.degrees = in.Require<std::vector<int>>("degrees");
  plan.shapes = Specs(in.Require<std::vector<std::string>>("shapes"));
  plan.thresholds = in.Require<std::vector<double>>("thresholds");
  plan.horizon = in.Require<int>("horizon");
  plan.period = in.Require<std::vector<double>>("period");
  // Without them (a plan written by hand), every task works them out itself.
  in.Read("noise", plan.noise);
  in.Read("start_points", plan.startPoints);
  in.Read("rows_per_sum", plan.rowsPerSum);
  in.Finish();
  return plan;
}

py::dict PlanToDict(const SearchPlan& plan) {
  py::dict dict;
  dict["points"] = plan.points;
  dict["degrees"] = plan.degrees;
  dict["shapes"] = SpecTexts(plan.shapes);
  dict["thresholds"] = plan.thresholds;
  dict["horizon"] = plan.horizon;
  dict["period"] = plan.period;
  dict["noise"] = plan.noise;
  dict["start_points"] = plan.startPoints;
  dict["rows_per_sum"] = plan.rowsPerSum;
  return dict;
}

SearchCandidate CandidateFromDict(const py::dict& dict) {
  DictReader in(dict, "search candidate");
  SearchCandidate candidate;
  candidate.points = in.Require<int>("points");
  candidate.degree = in.Require<int>("degree");
  candidate.threshold = in.Require<double>("threshold");
  candidate.equations = Specs(in.Require<std::vector<std::string>>("models"));
  candidate.supports = in.Require<std::vector<std::vector<int>>>("supports");
  candidate.terms = in.Require<int>("term_count");
  // The names follow from the shapes and supports; ones that do not are refused, not ignored.
  if (in.Require<std::vector<std::vector<std::string>>>("terms") != KeptTermNames(candidate)) {
    throw py::value_error("a search candidate's \"terms\" are not the names of its supports");
  }
  candidate.score = in.Require<double>("score");
  candidate.noiseFloor = in.Require<double>("noise_floor");
  candidate.criterion = in.Require<double>("criterion");
  candidate.validationErrors = in.Require<std::vector<double>>("validation_errors");
  in.Finish();
  return candidate;
}

py::dict CandidateToDict(const SearchCandidate& candidate, const std::vector<std::string>& names) {
  py::dict dict;
  dict["points"] = candidate.points;
  dict["degree"] = candidate.degree;
  dict["threshold"] = candidate.threshold;
  dict["models"] = SpecTexts(candidate.equations);
  dict["supports"] = candidate.supports;
  dict["terms"] = KeptTermNames(candidate, names);
  dict["term_count"] = candidate.terms;
  dict["score"] = candidate.score;
  dict["noise_floor"] = candidate.noiseFloor;
  dict["criterion"] = candidate.criterion;
  dict["validation_errors"] = candidate.validationErrors;
  return dict;
}

SearchTaskResult TaskResultFromDict(const py::dict& dict) {
  DictReader in(dict, "search task result");
  SearchTaskResult result;
  result.points = in.Require<int>("points");
  for (const py::handle item : in.Require<py::list>("candidates")) {
    result.candidates.push_back(CandidateFromDict(AsDict(item, "a search candidate")));
  }
  result.complete = in.Require<bool>("complete");
  result.starts = in.Require<int>("starts");
  in.Finish();
  return result;
}

py::dict TaskResultToDict(const SearchTaskResult& result) {
  py::dict dict;
  dict["points"] = result.points;
  py::list candidates;
  for (const SearchCandidate& candidate : result.candidates) candidates.append(CandidateToDict(candidate));
  dict["candidates"] = candidates;
  dict["complete"] = result.complete;
  dict["starts"] = result.starts;
  return dict;
}

Model ModelFromDict(const py::dict& dict) {
  DictReader in(dict, "model");
  Model model;
  model.dt = in.Require<double>("dt");
  model.points = in.Require<int>("points");
  model.train = in.Require<int>("train");
  in.Read("names", model.names);  // optional: a model may name no variables
  for (const py::handle item : in.Require<py::list>("equations")) {
    const py::dict fields = AsDict(item, "a model equation");
    DictReader eqin(fields, "model equation");
    ModelEquation eq;
    eq.family = static_cast<ModelFamily>(eqin.Require<int>("family"));
    eq.nu = eqin.Require<int>("nu");
    eq.mu = eqin.Require<int>("mu");
    eq.nterms = eqin.Require<int>("nterms");
    eq.nnum = eqin.Require<int>("nnum");
    eq.nden = eqin.Require<int>("nden");
    eq.period = eqin.Require<double>("period");
    eq.we = eqin.Require<double>("we");
    eq.wdt = eqin.Require<double>("wdt");
    eq.coef = eqin.Require<std::vector<double>>("coef");
    eq.error = eqin.Require<double>("error");
    eq.standardErrors = eqin.Require<std::vector<double>>("standard_errors");
    eq.condition = eqin.Require<double>("condition");
    eqin.Finish();
    model.equations.push_back(std::move(eq));
  }
  in.Finish();
  ValidateModel(model);
  return model;
}

py::dict ModelToDict(const Model& model) {
  py::dict dict;
  dict["dt"] = model.dt;
  dict["points"] = model.points;
  dict["train"] = model.train;
  dict["names"] = model.names;
  py::list equations;
  for (const ModelEquation& eq : model.equations) {
    py::dict fields;
    fields["family"] = static_cast<int>(eq.family);
    fields["nu"] = eq.nu;
    fields["mu"] = eq.mu;
    fields["nterms"] = eq.nterms;
    fields["nnum"] = eq.nnum;
    fields["nden"] = eq.nden;
    fields["period"] = eq.period;
    fields["we"] = eq.we;
    fields["wdt"] = eq.wdt;
    fields["coef"] = eq.coef;
    fields["error"] = eq.error;
    fields["standard_errors"] = eq.standardErrors;
    fields["condition"] = eq.condition;
    equations.append(fields);
  }
  dict["equations"] = equations;
  return dict;
}

}  // namespace odefit::python
