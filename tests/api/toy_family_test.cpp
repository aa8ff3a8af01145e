// A family added from outside the library: one file (this one) and its
// registration. The constant family dx_i/dt = c_i goes through everything a
// built-in family does: its spec text, the fit, the equations' text, the
// simulation and the model file.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "model/model_family.h"
#include "odefit/odefit.h"

namespace odefit {
namespace {

constexpr auto kConstant = static_cast<ModelFamily>(40);

class ConstantFamily final : public ModelFamilyDescription {
 public:
  ConstantFamily() : ModelFamilyDescription(kConstant, "const", "constant", {}, 0, false) {}
  void Shape(const EquationSpec&, int, double, ModelEquation& eq) const override { eq.nterms = 1; }
  void CheckOrders(const ModelEquation&, int, const std::string&) const override {}
  int ExpectedTerms(const ModelEquation&, int, const std::string&) const override { return 1; }
  std::vector<std::string> TermNames(const ModelEquation&, int) const override { return {"1"}; }
  bool SameDesign(const ModelEquation&, const ModelEquation&) const override { return true; }
  void FillDesign(const ModelEquation&, std::span<const double>, int, int rows, int, std::span<const double>,
                  std::span<double> A, int) const override {
    std::fill(A.begin(), A.begin() + rows, 1.0);
  }
  void Values(const ModelEquation& eq, std::span<const double>, int, int rows, int,
              std::span<double> values) const override {
    std::fill(values.begin(), values.begin() + rows, eq.coef[0]);
  }
  void Rhs(std::span<const ModelEquation* const> group, const RhsPoint&, std::span<double> values) const override {
    values[0] = group[0]->coef[0];
  }
};

void RegisterConstantFamily() {
  static const ConstantFamily family;
  static const bool registered = (RegisterModelFamily(family), true);
  (void)registered;
}

TEST(ToyFamily, ConstantFamilyFitsShowsSimulatesAndRoundTrips) {
  RegisterConstantFamily();
  const EquationSpec spec = ParseEquationSpec("const");
  ASSERT_EQ(spec.family, kConstant);
  EXPECT_EQ(FormatEquationSpec(spec), "const");
  EXPECT_THROW(ParseEquationSpec("const:2"), InvalidArgument);

  struct Case {
    std::vector<double> slopes;  // c_i of the series x_i(t) = 1 + c_i t
    const char* text;            // what FormatModel shows
  };
  const Case cases[] = {
      {{2.5}, "dx1/dt = 2.5"},
      {{1.0, -0.5, 0.0}, "dx2/dt = -0.5"},
  };
  const double dt = 0.1;
  const int n = 200;
  for (const Case& c : cases) {
    const int D = static_cast<int>(c.slopes.size());
    Series series;
    series.dimension = D;
    for (int r = 0; r < n; ++r) {
      for (const double slope : c.slopes) series.values.push_back(1.0 + slope * r * dt);
    }
    FitSettings fit;
    fit.dt = dt;
    fit.equations = {spec};
    const Model model = FitModel(series, fit);
    ASSERT_EQ(model.Dimension(), D);
    for (int i = 1; i <= D; ++i) {
      EXPECT_EQ(model.Equation(i).family, kConstant);
      EXPECT_NEAR(model.Equation(i).coef.at(0), c.slopes[static_cast<std::size_t>(i - 1)], 1e-9) << D;
    }
    EXPECT_NE(FormatModel(model).find(c.text), std::string::npos) << FormatModel(model);

    const std::vector<double> x0(static_cast<std::size_t>(D), 1.0);
    const std::vector<double> path = Simulate(model, x0, 10);
    for (int i = 0; i < D; ++i) {
      EXPECT_NEAR(path[static_cast<std::size_t>(10 * D + i)], 1.0 + c.slopes[static_cast<std::size_t>(i)] * 10 * dt, 1e-9);
    }

    const std::string json = ModelToJson(model);
    EXPECT_NE(json.find("\"family\": \"const\""), std::string::npos) << json;
    const Model back = ModelFromJson(json);
    ASSERT_EQ(back.Dimension(), D);
    for (int i = 1; i <= D; ++i) {
      EXPECT_EQ(back.Equation(i).family, kConstant);
      EXPECT_EQ(back.Equation(i).coef, model.Equation(i).coef);
    }
  }
}

}  // namespace
}  // namespace odefit
