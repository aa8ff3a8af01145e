#include "odefit/model_file.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <nlohmann/json.hpp>
#include <utility>
#include <vector>

#include "model/equation_shape.h"
#include "model/model_family.h"
#include "model/term_names.h"
#include "odefit/errors.h"
#include "odefit/fit.h"

namespace odefit {
namespace {

// Members keep the order they are written in, for people reading the file.
using Json = nlohmann::ordered_json;

// A model file nests objects and arrays three deep, a search result file (a
// model inside) five; anything deeper is neither.
constexpr int kDeepestNesting = 6;


// Returns `value`, or null when it is not finite.
Json Number(double value) { return std::isfinite(value) ? Json(value) : Json(nullptr); }

// The file's text. Names come from a series' header, whose bytes need not be
// UTF-8 (a header saved as Latin-1, say); JSON text must be, so such bytes are
// written as U+FFFD rather than failing the whole write.
std::string Text(const Json& root) { return root.dump(2, ' ', false, Json::error_handler_t::replace) + "\n"; }

std::string DefaultName(std::size_t i) { return std::string(1, 'x').append(std::to_string(i + 1)); }

// Reads the members of one JSON object, with errors that say where.
class Reader {
 public:
  Reader(const Json& object, std::string where, const std::string& source)
      : object_(object), where_(std::move(where)), source_(source) {
    if (!object_.is_object()) Fail("is not a JSON object");
  }

  [[noreturn]] void Fail(const std::string& message) const {
    throw InputError(source_, 0, 0, where_ + (where_.empty() ? "" : " ") + message);
  }

  const Json* Find(const char* key) const {
    const auto it = object_.find(key);
    return it == object_.end() ? nullptr : &*it;
  }

  const Json& Member(const char* key) const {
    const Json* value = Find(key);
    if (value == nullptr) Fail(std::string("has no \"") + key + "\"");
    return *value;
  }

  std::string String(const char* key) const {
    const Json& value = Member(key);
    if (!value.is_string()) Fail(std::string("\"") + key + "\" is not a string");
    return value.get<std::string>();
  }

  // An integer from `lowest` to `highest`.
  int Integer(const char* key, long long lowest, long long highest) const {
    const Json& value = Member(key);
    if (!value.is_number_integer()) Fail(std::string("\"") + key + "\" is not a whole number");
    // Unsigned values beyond the signed range are as much out of range as any above `highest`.
    const long long v = value.is_number_unsigned() && value.get<unsigned long long>() > 1ULL << 62
                            ? std::numeric_limits<long long>::max()
                            : value.get<long long>();
    if (v < lowest || v > highest) {
      Fail(std::string("\"") + key + "\" must be from " + std::to_string(lowest) + " to " + std::to_string(highest));
    }
    return static_cast<int>(v);
  }

  // A finite number, or with `nullAs` also null read as that value.
  double Real(const Json& value, const std::string& what, std::optional<double> nullAs = std::nullopt) const {
    if (value.is_null() && nullAs) return *nullAs;
    if (!value.is_number()) Fail(what + " is not a number");
    const double v = value.get<double>();
    if (!std::isfinite(v)) Fail(what + " is not finite");
    return v;
  }

  double Real(const char* key, std::optional<double> nullAs = std::nullopt) const {
    return Real(Member(key), std::string("\"") + key + "\"", nullAs);
  }

  // An array of exactly `size` items.
  const Json& Array(const char* key, std::size_t size) const {
    const Json& value = Member(key);
    if (!value.is_array()) Fail(std::string("\"") + key + "\" is not an array");
    if (value.size() != size) {
      Fail(std::string("\"") + key + "\" has " + std::to_string(value.size()) + " items, not " + std::to_string(size));
    }
    return value;
  }

  std::vector<double> Reals(const char* key, std::size_t size, std::optional<double> nullAs = std::nullopt) const {
    const Json& array = Array(key, size);
    std::vector<double> values;
    values.reserve(size);  // size is bounded by the checked term count
    for (std::size_t k = 0; k < size; ++k) {
      values.push_back(Real(array[k], std::string("\"") + key + "\" item " + std::to_string(k + 1), nullAs));
    }
    return values;
  }

 private:
  const Json& object_;
  std::string where_;
  const std::string& source_;
};

const ModelFamilyDescription& FamilyCalled(const std::string& name, const Reader& reader) {
  if (const ModelFamilyDescription* family = FamilyNamed(name)) return *family;
  std::string names;
  const std::vector<const ModelFamilyDescription*> all = ModelFamilies();
  for (std::size_t k = 0; k < all.size(); ++k) {
    names += k == 0 ? "" : k + 1 == all.size() ? " or " : ", ";
    names += all[k]->name;
  }
  reader.Fail("has the unknown family \"" + name + "\" (" + names + ")");
}

ModelEquation ReadEquation(const Json& object, int i, int D, double dt, const std::vector<std::string>& variables,
                           const std::string& source) {
  const Reader r(object, "equation " + std::to_string(i), source);
  EquationSpec spec;
  const ModelFamilyDescription& family = FamilyCalled(r.String("family"), r);
  spec.family = family.tag;
  for (const ParameterForm& form : family.parameters) {
    switch (form.parameter) {
      case FamilyParameter::Order: spec.order = r.Integer(form.fileKey, 0, kMaxCoefficients); break;
      case FamilyParameter::SecondOrder: spec.secondOrder = r.Integer(form.fileKey, 0, kMaxCoefficients); break;
      case FamilyParameter::Period:
        spec.period = r.Real(form.fileKey);
        if (!(spec.period > 0.0)) r.Fail("\"" + std::string(form.fileKey) + "\" must be positive");
        break;
    }
  }
  // As the fit makes it, so that the model integrates with the same bits.
  ModelEquation eq;
  try {
    eq = EquationShape(spec, D, dt);
  } catch (const InvalidArgument& e) {
    r.Fail(std::string("has impossible orders: ") + e.what());
  }
  const int terms = eq.nterms;
  const std::size_t count = static_cast<std::size_t>(terms);
  const std::vector<std::string> names = family.TermNames(eq, D);
  const Json& written = r.Array("terms", count);
  for (std::size_t k = 0; k < count; ++k) {
    // Terms say the variables' names, or x1..xD as files before names did.
    if (!written[k].is_string() || (written[k].get_ref<const std::string&>() != names[k] &&
                                    written[k].get_ref<const std::string&>() != NamedTerm(names[k], variables))) {
      r.Fail("term " + std::to_string(k + 1) + " is " + written[k].dump() + " where " +
             FormatEquationSpec(spec) + " in " + std::to_string(D) + " variables has \"" + names[k] + "\"");
    }
  }
  eq.coef = r.Reals("coefficients", count);
  if (r.Find("standard_errors") != nullptr) {
    eq.standardErrors = r.Reals("standard_errors", count, std::numeric_limits<double>::quiet_NaN());
    for (const double e : eq.standardErrors) {
      if (e < 0.0) r.Fail("has a negative standard error");
    }
  }
  eq.error = r.Real("error", std::numeric_limits<double>::quiet_NaN());
  if (eq.error < 0.0) r.Fail("\"error\" must not be negative");
  if (r.Find("condition") != nullptr) {
    eq.condition = r.Real("condition", std::numeric_limits<double>::infinity());
    if (eq.condition < 0.0) r.Fail("\"condition\" must not be negative");
  }
  // Optional (files before them have none): both ends or neither.
  if ((r.Find("interval_lower") != nullptr) != (r.Find("interval_upper") != nullptr)) {
    r.Fail("has \"interval_lower\" or \"interval_upper\" without the other");
  }
  if (r.Find("interval_lower") != nullptr) {
    eq.intervalLower = r.Reals("interval_lower", count, std::numeric_limits<double>::quiet_NaN());
    eq.intervalUpper = r.Reals("interval_upper", count, std::numeric_limits<double>::quiet_NaN());
    for (std::size_t k = 0; k < count; ++k) {
      if (eq.intervalLower[k] > eq.intervalUpper[k]) r.Fail("has an interval whose lower end is above its upper");
    }
  }
  return eq;
}

// Returns the line and column (1-based) of byte `offset` of `text`.
std::pair<long long, long long> LineAndColumn(std::string_view text, std::size_t offset) {
  offset = std::min(offset, text.size());
  long long line = 1;
  std::size_t start = 0;
  for (std::size_t k = 0; k < offset; ++k) {
    if (text[k] == '\n') {
      ++line;
      start = k + 1;
    }
  }
  return {line, static_cast<long long>(offset - start) + 1};
}

}  // namespace

std::string ModelToJson(const Model& model) {
  ValidateModel(model);
  const std::size_t D = static_cast<std::size_t>(model.Dimension());
  Json root;
  root["format"] = kModelFileFormat;
  root["dimension"] = D;
  root["dt"] = model.dt;
  root["points"] = model.points;
  root["train"] = model.train;
  root["recordings"] = model.recordings;
  if (model.intervalLevel > 0.0) root["interval_level"] = model.intervalLevel;
  Json& variables = root["variables"] = Json::array();
  for (std::size_t i = 0; i < D; ++i) variables.push_back(model.names.empty() ? DefaultName(i) : model.names[i]);
  Json& equations = root["equations"] = Json::array();
  for (const ModelEquation& eq : model.equations) {
    Json e;
    const ModelFamilyDescription& family = FamilyOf(eq.family);
    e["family"] = family.name;
    for (const ParameterForm& form : family.parameters) {
      switch (form.parameter) {
        case FamilyParameter::Order: e[form.fileKey] = eq.nu; break;
        case FamilyParameter::SecondOrder: e[form.fileKey] = eq.mu; break;
        case FamilyParameter::Period: e[form.fileKey] = eq.period; break;
      }
    }
    std::vector<std::string> terms = family.TermNames(eq, model.Dimension());
    for (std::string& term : terms) term = NamedTerm(term, model.names);
    e["terms"] = terms;
    e["coefficients"] = eq.coef;
    if (!eq.standardErrors.empty()) {
      Json& errors = e["standard_errors"] = Json::array();
      for (const double v : eq.standardErrors) errors.push_back(Number(v));
    }
    e["error"] = Number(eq.error);
    if (eq.condition != 0.0) e["condition"] = Number(eq.condition);
    if (model.intervalLevel > 0.0 && eq.intervalLower.size() == eq.coef.size() &&
        eq.intervalUpper.size() == eq.coef.size()) {
      Json lower = Json::array(), upper = Json::array();  // built apart: a new key may move e's members
      for (std::size_t k = 0; k < eq.coef.size(); ++k) {
        lower.push_back(Number(eq.intervalLower[k]));
        upper.push_back(Number(eq.intervalUpper[k]));
      }
      e["interval_lower"] = std::move(lower);
      e["interval_upper"] = std::move(upper);
    }
    equations.push_back(std::move(e));
  }
  return Text(root);
}

Model ModelFromJson(std::string_view text, const std::string& source) {
  Json root;
  try {
    const Json::parser_callback_t depthLimit = [&](int depth, Json::parse_event_t, Json&) {
      if (depth > kDeepestNesting) throw InputError(source, 0, 0, "is not a model file: nested too deep");
      return true;
    };
    root = Json::parse(text.begin(), text.end(), depthLimit);
  } catch (const Json::parse_error& e) {
    const auto [line, column] = LineAndColumn(text, e.byte > 0 ? e.byte - 1 : 0);
    std::string message = e.what();
    const std::size_t detail = message.find("syntax error");
    throw InputError(source, line, column,
                     "is not JSON: " + (detail == std::string::npos ? message : message.substr(detail)));
  } catch (const Json::exception& e) {
    // The parser's other failures, such as a number beyond the range of a
    // double (out_of_range), carry no position.
    std::string message = e.what();
    const std::size_t bracket = message.find("] ");
    throw InputError(source, 0, 0, "is not JSON: " + (bracket == std::string::npos ? message : message.substr(bracket + 2)));
  }
  const Reader outer(root, "", source);
  if (const Json* format = outer.Find("format");
      format != nullptr && format->is_string() && format->get_ref<const std::string&>() == kSearchFileFormat) {
    const Json* best = outer.Find("best");
    if (best == nullptr || !best->is_object()) outer.Fail("is a search result without a \"best\" model");
    root = Json(*best);
  }
  const Reader r(root, "", source);
  const Json* format = r.Find("format");
  if (format == nullptr || !format->is_string() || format->get_ref<const std::string&>() != kModelFileFormat) {
    r.Fail("is not an odefit model file (its \"format\" is " + (format == nullptr ? "missing" : format->dump()) +
           ", not \"" + std::string(kModelFileFormat) + "\")");
  }
  Model model;
  const int D = r.Integer("dimension", 1, kMaxModelDimension);
  const std::size_t d = static_cast<std::size_t>(D);
  model.dt = r.Real("dt");
  if (!(model.dt > 0.0)) r.Fail("\"dt\" must be positive");
  model.points = r.Integer("points", 0, std::numeric_limits<int>::max());
  model.train = r.Integer("train", 0, std::numeric_limits<int>::max());
  if (model.points == 1) r.Fail("\"points\" must be 0 (unknown) or at least 2");
  // Files written before several recordings could be fitted have none.
  model.recordings = r.Find("recordings") == nullptr ? 1 : r.Integer("recordings", 0, std::numeric_limits<int>::max());
  const Json& variables = r.Array("variables", d);
  bool defaultNames = true;
  for (std::size_t i = 0; i < d; ++i) {
    if (!variables[i].is_string()) r.Fail("variable " + std::to_string(i + 1) + " is not a string");
    defaultNames = defaultNames && variables[i].get_ref<const std::string&>() == DefaultName(i);
  }
  if (!defaultNames) {
    for (std::size_t i = 0; i < d; ++i) model.names.push_back(variables[i].get<std::string>());
  }
  const Json& equations = r.Array("equations", d);
  model.Resize(D);
  for (int i = 1; i <= D; ++i) {
    model.Equation(i) = ReadEquation(equations[static_cast<std::size_t>(i - 1)], i, D, model.dt, model.names, source);
  }
  const bool intervals = std::any_of(model.equations.begin(), model.equations.end(),
                                     [](const ModelEquation& eq) { return !eq.intervalLower.empty(); });
  if (r.Find("interval_level") != nullptr) {
    model.intervalLevel = r.Real("interval_level");
    if (!(model.intervalLevel > 0.0 && model.intervalLevel < 1.0)) r.Fail("\"interval_level\" must be between 0 and 1");
  }
  if (intervals != (model.intervalLevel > 0.0)) r.Fail("has intervals without \"interval_level\" or the level alone");
  try {
    ValidateModel(model);
  } catch (const InvalidArgument& e) {
    r.Fail(std::string("holds an unusable model: ") + e.what());
  }
  return model;
}

std::vector<std::vector<std::string>> KeptTermNames(const SearchCandidate& candidate,
                                                    const std::vector<std::string>& names) {
  const int D = static_cast<int>(candidate.equations.size());
  std::vector<std::vector<std::string>> kept;
  for (std::size_t i = 0; i < candidate.equations.size(); ++i) {
    const EquationSpec& spec = candidate.equations[i];
    const std::vector<std::string> all = FamilyOf(spec.family).TermNames(EquationShape(spec, D, 1.0), D);
    std::vector<std::string>& named = kept.emplace_back();
    if (i >= candidate.supports.size()) continue;
    for (const int j : candidate.supports[i]) {
      named.push_back(j >= 0 && static_cast<std::size_t>(j) < all.size() ? NamedTerm(all[static_cast<std::size_t>(j)], names)
                                                                          : "?");
    }
  }
  return kept;
}

std::string SearchResultToJson(const SearchResult& result) {
  Json root;
  root["format"] = kSearchFileFormat;
  root["complete"] = result.complete;
  root["horizon"] = result.horizon;
  root["starts"] = result.starts;
  root["periods"] = result.period;
  root["best"] = Json::parse(ModelToJson(result.best));
  Json& candidates = root["candidates"] = Json::array();
  for (const SearchCandidate& c : result.candidates) {
    Json entry;
    entry["points"] = c.points;
    entry["degree"] = c.degree;
    entry["threshold"] = c.threshold;
    // Filled apart and moved in: a reference into `entry` would not survive
    // the next key added to it (its members live in one growing vector).
    Json models = Json::array();
    for (const EquationSpec& spec : c.equations) models.push_back(FormatEquationSpec(spec));
    Json terms = KeptTermNames(c, result.best.names);
    entry["models"] = std::move(models);
    entry["terms"] = std::move(terms);
    entry["term_count"] = c.terms;
    entry["score"] = Number(c.score);
    entry["noise_floor"] = Number(c.noiseFloor);
    entry["criterion"] = Number(c.criterion);
    Json errors = Json::array();
    for (const double e : c.validationErrors) errors.push_back(Number(e));
    entry["validation_errors"] = std::move(errors);
    candidates.push_back(std::move(entry));
  }
  return Text(root);
}

}  // namespace odefit
