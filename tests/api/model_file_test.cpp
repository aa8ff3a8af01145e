// The model file: fitted models of every family written as JSON and read back
// with the same bits, and every kind of broken or hostile file refused with
// an InputError that says what is wrong.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "odefit/odefit.h"

namespace odefit {
namespace {

using Json = nlohmann::ordered_json;

const std::string kExamples = ODEFIT_EXAMPLES_DIR;

bool SameBits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

void ExpectSameModel(const Model& a, const Model& b) {
  ASSERT_EQ(a.Dimension(), b.Dimension());
  EXPECT_TRUE(SameBits(a.dt, b.dt));
  EXPECT_EQ(a.points, b.points);
  EXPECT_EQ(a.train, b.train);
  EXPECT_EQ(a.names, b.names);
  for (int i = 1; i <= a.Dimension(); ++i) {
    const ModelEquation &x = a.Equation(i), &y = b.Equation(i);
    EXPECT_EQ(x.family, y.family);
    EXPECT_EQ(x.nu, y.nu);
    EXPECT_EQ(x.mu, y.mu);
    EXPECT_EQ(x.nterms, y.nterms);
    EXPECT_EQ(x.nnum, y.nnum);
    EXPECT_EQ(x.nden, y.nden);
    EXPECT_TRUE(SameBits(x.period, y.period));
    EXPECT_TRUE(SameBits(x.wdt, y.wdt)) << i;  // the driven phase integrates alike
    ASSERT_EQ(x.coef.size(), y.coef.size());
    for (std::size_t k = 0; k < x.coef.size(); ++k) EXPECT_TRUE(SameBits(x.coef[k], y.coef[k])) << i << " " << k;
    ASSERT_EQ(x.standardErrors.size(), y.standardErrors.size());
    for (std::size_t k = 0; k < x.standardErrors.size(); ++k) {
      EXPECT_TRUE(SameBits(x.standardErrors[k], y.standardErrors[k])) << i << " " << k;
    }
    EXPECT_TRUE(SameBits(x.error, y.error) || (std::isnan(x.error) && std::isnan(y.error)));
    EXPECT_TRUE(SameBits(x.condition, y.condition));
  }
}

Model Fitted(const std::string& file, int D, double dt, int train, std::vector<EquationSpec> equations) {
  FitSettings fit;
  fit.dt = dt;
  fit.train = train;
  fit.equations = std::move(equations);
  return FitModel(ReadClassicSeries(kExamples + "/" + file, D), fit);
}

Model Lorenz() { return Fitted("lorenz.txt", 3, 0.01, 3000, {EquationSpec{ModelFamily::StandardPolynomial, 2}}); }

std::string FileError(const std::string& text) {
  try {
    ModelFromJson(text, "m.json");
  } catch (const InputError& e) {
    return e.what();
  }
  return "";
}

// Returns the Lorenz model file with `change` applied to its JSON.
template <typename Change>
std::string Edited(Change change) {
  Json root = Json::parse(ModelToJson(Lorenz()));
  change(root);
  return root.dump();
}

TEST(ModelFile, EveryFamilyReadsBackWithTheSameBits) {
  const Model lorenz = Lorenz();
  ExpectSameModel(ModelFromJson(ModelToJson(lorenz)), lorenz);
  const Model driven = Fitted("driven.txt", 2, 0.05, 4000,
                              {EquationSpec{ModelFamily::StandardPolynomial, 1},
                               EquationSpec{ModelFamily::DrivenPolynomial, 3, 0, 5.0}});
  ExpectSameModel(ModelFromJson(ModelToJson(driven)), driven);
  const Model prey = Fitted("predator-prey.txt", 2, 0.05, 2000,
                            {EquationSpec{ModelFamily::ReducedPolynomial, 1, 0},
                             EquationSpec{ModelFamily::Rational, 1, 1}});
  ExpectSameModel(ModelFromJson(ModelToJson(prey)), prey);
  // Written again, the text is the same: the file is a fixed point.
  EXPECT_EQ(ModelToJson(ModelFromJson(ModelToJson(prey))), ModelToJson(prey));
}

TEST(ModelFile, HoldsTheDocumentedMembersAndTermNames) {
  Model prey = Fitted("predator-prey.txt", 2, 0.05, 2000,
                      {EquationSpec{ModelFamily::ReducedPolynomial, 1, 0}, EquationSpec{ModelFamily::Rational, 1, 1}});
  prey.names = {"prey", "predator"};
  const Json root = Json::parse(ModelToJson(prey));
  EXPECT_EQ(root["format"], "odefit-model-1");
  EXPECT_EQ(root["dimension"], 2);
  EXPECT_EQ(root["dt"], 0.05);
  EXPECT_EQ(root["points"], 3);
  EXPECT_EQ(root["train"], 2000);
  EXPECT_EQ(root["variables"], Json({"prey", "predator"}));
  const Json& reduced = root["equations"][0];
  EXPECT_EQ(reduced["family"], "reduced");
  EXPECT_EQ(reduced["second_order"], 0);
  EXPECT_EQ(reduced["terms"], Json({"prey", "prey*predator", "1"}));  // the variables' names
  const Json& rational = root["equations"][1];
  EXPECT_EQ(rational["family"], "rational");
  EXPECT_EQ(rational["denominator_order"], 1);
  EXPECT_EQ(rational["terms"], Json({"1", "prey", "predator", "prey (denominator)", "predator (denominator)"}));
  EXPECT_EQ(rational["coefficients"].size(), 5u);
  EXPECT_EQ(rational["standard_errors"].size(), 5u);
  EXPECT_GT(rational["condition"].get<double>(), 1.0);
  EXPECT_EQ(ModelFromJson(ModelToJson(prey)).names, prey.names);
  EXPECT_EQ(root["recordings"], 1);
  // Files that name the terms x1..xD (before names reached them) still read.
  Json unnamedTerms = root;
  unnamedTerms["equations"][0]["terms"] = Json({"x1", "x1*x2", "1"});
  EXPECT_EQ(ModelFromJson(unnamedTerms.dump()).names, prey.names);
  unnamedTerms["equations"][0]["terms"] = Json({"x1", "predator*x1", "1"});
  EXPECT_THROW(ModelFromJson(unnamedTerms.dump()), InputError);
  // A header saved as Latin-1 names a variable with a byte that is not UTF-8:
  // the file is still written, with U+FFFD for it, and so is a search result.
  prey.names = {"T\xb0" "C", "predator"};
  EXPECT_EQ(ModelFromJson(ModelToJson(prey)).names, (std::vector<std::string>{"T\xef\xbf\xbd" "C", "predator"}));
  SearchResult result;
  result.best = prey;
  EXPECT_EQ(ModelFromJson(SearchResultToJson(result)).names[0], "T\xef\xbf\xbd" "C");
}

TEST(ModelFile, UndefinedNumbersAreNullAndReadBack) {
  Model model = Lorenz();
  model.Equation(2).error = std::nan("");
  model.Equation(2).standardErrors.assign(10, std::nan(""));
  model.Equation(3).condition = INFINITY;
  const std::string text = ModelToJson(model);
  const Json root = Json::parse(text);
  EXPECT_TRUE(root["equations"][1]["error"].is_null());
  EXPECT_TRUE(root["equations"][1]["standard_errors"][0].is_null());
  EXPECT_TRUE(root["equations"][2]["condition"].is_null());
  const Model back = ModelFromJson(text);
  EXPECT_TRUE(std::isnan(back.Equation(2).error));
  EXPECT_TRUE(std::isnan(back.Equation(2).standardErrors[9]));
  EXPECT_TRUE(std::isinf(back.Equation(3).condition));
}

TEST(ModelFile, AnotherFormatOrNoJsonIsRefused) {
  EXPECT_EQ(FileError(R"({"format": "pixels-1"})"),
            "m.json: is not an odefit model file (its \"format\" is \"pixels-1\", not \"odefit-model-1\")");
  EXPECT_EQ(FileError("[1, 2]"), "m.json: is not a JSON object");
  EXPECT_EQ(FileError("{}"), "m.json: is not an odefit model file (its \"format\" is missing, not "
                             "\"odefit-model-1\")");
  const std::string broken = FileError("{\n  \"format\": \"odefit-model-1\",\n  \"dt\": 0.01,,\n}");
  EXPECT_EQ(broken.rfind("m.json:3:", 0), 0u) << broken;  // line 3 of the text
  EXPECT_NE(broken.find("is not JSON"), std::string::npos) << broken;
  EXPECT_NE(FileError(""), "");
  // A number beyond the range of a double is the parser's out_of_range, not a
  // syntax error: it must still be an InputError, never escape as another exception.
  EXPECT_EQ(FileError(R"({"format": "odefit-model-1", "dt": 1e999})"),
            "m.json: is not JSON: number overflow parsing '1e999'");
  EXPECT_EQ(FileError(R"({"dimension": -1e400})"), "m.json: is not JSON: number overflow parsing '-1e400'");
}

TEST(ModelFile, WrongTypesSizesAndNumbersAreRefusedByName) {
  EXPECT_EQ(FileError(Edited([](Json& r) { r["dimension"] = "3"; })), "m.json: \"dimension\" is not a whole number");
  EXPECT_EQ(FileError(Edited([](Json& r) { r["dimension"] = 2; })), "m.json: \"variables\" has 3 items, not 2");
  EXPECT_EQ(FileError(Edited([](Json& r) { r["dimension"] = 4000000000; })),
            "m.json: \"dimension\" must be from 1 to 9");
  EXPECT_EQ(FileError(Edited([](Json& r) { r["dt"] = -0.01; })), "m.json: \"dt\" must be positive");
  EXPECT_EQ(FileError(Edited([](Json& r) { r.erase("train"); })), "m.json: has no \"train\"");
  EXPECT_EQ(FileError(Edited([](Json& r) { r["equations"][1]["coefficients"][3] = "1"; })),
            "m.json: equation 2 \"coefficients\" item 4 is not a number");
  EXPECT_EQ(FileError(Edited([](Json& r) { r["equations"][1]["coefficients"].push_back(1.0); })),
            "m.json: equation 2 \"coefficients\" has 11 items, not 10");
  EXPECT_EQ(FileError(Edited([](Json& r) { r["equations"][2]["coefficients"][0] = nullptr; })),
            "m.json: equation 3 \"coefficients\" item 1 is not a number");
  EXPECT_EQ(FileError(Edited([](Json& r) { r["equations"][0]["family"] = "spline"; })),
            "m.json: equation 1 has the unknown family \"spline\" (poly, driven, rational or reduced)");
  EXPECT_EQ(FileError(Edited([](Json& r) { r["equations"][0]["terms"][4] = "x1*x1"; })),
            "m.json: equation 1 term 5 is \"x1*x1\" where poly:2 in 3 variables has \"x1^2\"");
  EXPECT_EQ(FileError(Edited([](Json& r) { r["equations"][0]["standard_errors"][0] = -1.0; })),
            "m.json: equation 1 has a negative standard error");
  EXPECT_EQ(FileError(Edited([](Json& r) { r["equations"][0]["family"] = "reduced"; })),
            "m.json: equation 1 has no \"second_order\"");
  EXPECT_EQ(FileError(Edited([](Json& r) { r["equations"][0]["order"] = 1.5; })),
            "m.json: equation 1 \"order\" is not a whole number");
}

TEST(ModelFile, HostileSizesAreRefusedBeforeAnythingIsAllocated) {
  // An order whose term count would take gigabytes of names is refused by its count.
  EXPECT_NE(FileError(Edited([](Json& r) { r["equations"][0]["order"] = 25; })).find("impossible orders"),
            std::string::npos);
  EXPECT_EQ(FileError(Edited([](Json& r) { r["equations"][0]["order"] = 1000000; })),
            "m.json: equation 1 \"order\" must be from 0 to 1000");
  std::string deep(100000, '[');
  EXPECT_NE(FileError(deep), "");
  // Six levels hold a search result with its model; a seventh is nobody's.
  EXPECT_EQ(FileError(Edited([](Json& r) {
              r["variables"][0] = Json::array({Json::array({Json::array({Json::array({Json::array({1})})})})});
            })),
            "m.json: is not a model file: nested too deep");
  // Members a reader does not know are passed over.
  EXPECT_EQ(FileError(Edited([](Json& r) { r["comment"] = "fitted on Monday"; })), "");
}

}  // namespace
}  // namespace odefit
