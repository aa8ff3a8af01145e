// Fuzz target: the model file reader on arbitrary bytes. What it accepts
// must be a model that evaluates, integrates a few steps, prints, and writes
// back as the same text with the same bits.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "odefit/errors.h"
#include "odefit/integration.h"
#include "odefit/model_file.h"
#include "odefit/model_text.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// The same number, or both undefined (written as null).
bool Same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  odefit::Model model;
  try {
    model = odefit::ModelFromJson(text, "fuzz");
  } catch (const odefit::InputError& e) {
    Check(e.file() == "fuzz");
    return 0;
  }
  const int D = model.Dimension();
  Check(D >= 1 && D <= odefit::kMaxModelDimension);
  for (int i = 1; i <= D; ++i) {
    const odefit::ModelEquation& eq = model.Equation(i);
    Check(eq.nterms >= 1 && eq.nterms <= odefit::kMaxCoefficients);
    Check(eq.coef.size() == static_cast<std::size_t>(eq.nterms));
    Check(odefit::TermNames(eq, D).size() == eq.coef.size());
    (void)odefit::EquationText(model, i);
  }
  (void)odefit::FormatModel(model);

  std::vector<double> x(static_cast<std::size_t>(D)), dxdt(static_cast<std::size_t>(D));
  for (int i = 0; i < D; ++i) x[static_cast<std::size_t>(i)] = 0.25 * (i + 1);
  odefit::EvaluateModel(model, 0.0, x, dxdt);
  odefit::EvaluateModel(model, 1e6, x, dxdt);
  for (const auto method : {odefit::IntegrationMethod::Euler, odefit::IntegrationMethod::RungeKutta4}) {
    odefit::SimulationSettings settings;
    settings.method = method;
    const std::vector<double> path = odefit::Simulate(model, x, 3, settings);
    Check(path.size() == 4 * static_cast<std::size_t>(D));
  }

  // Written and read back: the same text, the same bits.
  const std::string written = odefit::ModelToJson(model);
  const odefit::Model back = odefit::ModelFromJson(written, "written");
  Check(odefit::ModelToJson(back) == written);
  Check(back.dt == model.dt && back.points == model.points && back.train == model.train);
  Check(back.names == model.names);
  for (int i = 1; i <= D; ++i) {
    const odefit::ModelEquation& a = model.Equation(i);
    const odefit::ModelEquation& b = back.Equation(i);
    Check(a.family == b.family && a.nu == b.nu && a.mu == b.mu && a.nterms == b.nterms);
    Check(SameBits(a.coef, b.coef));
    Check(std::memcmp(&a.wdt, &b.wdt, sizeof(double)) == 0);
    Check(Same(a.error, b.error) && Same(a.condition, b.condition));
    Check(a.standardErrors.size() == b.standardErrors.size());
    for (std::size_t k = 0; k < a.standardErrors.size(); ++k) Check(Same(a.standardErrors[k], b.standardErrors[k]));
  }
  return 0;
}
