#pragma once
// A model family described in one place: its parameters with their text,
// file and dialogue forms, its term counts and names, its design rows, its
// values at states (the fit's error and the integrators' right-hand side)
// and its checks. Each family is one file under model/families/; the
// registry (model_family.cpp) lists the built-in ones, and a program or test
// may add its own with RegisterModelFamily before it makes a model of it.
//
// The fold and the integrators call a family once per block of rows or per
// equation (a group of equations for the right-hand side), never per term.

#include <array>
#include <atomic>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "odefit/fit.h"
#include "odefit/model.h"

namespace odefit {

// A parameter of an equation's spec beyond its family.
enum class FamilyParameter {
  Order,        // EquationSpec::order, ModelEquation::nu
  SecondOrder,  // EquationSpec::secondOrder, ModelEquation::mu
  Period,       // EquationSpec::period, ModelEquation::period (reported as ModelEquation::we)
};

// How a parameter is written and asked.
struct ParameterForm {
  FamilyParameter parameter = FamilyParameter::Order;
  const char* placeholder = "";  // in the model text, "NU" of "poly:NU"
  const char* label = "";        // in messages, "numerator order"
  const char* fileKey = "";      // the model file's key, "denominator_order"
  const char* question = "";     // the classic dialogue's question (orders; the period's is the dialogue's own)
  const char* reportLabel = "";  // the classic dialogue's report line before the value
};

// Where the right-hand side is evaluated: the state, its time and the
// monomials of the state up to the largest SharedMonomialOrder of the model's
// equations (terms up to order n: counts[n]).
struct RhsPoint {
  double T = 0.0;
  double dt = 0.0;  // the model's sampling interval
  std::span<const double> Y;
  const double* monomials = nullptr;
  const int* counts = nullptr;
};

class ModelFamilyDescription {
 public:
  ModelFamilyDescription(ModelFamily tag, const char* name, const char* title, std::vector<ParameterForm> parameters,
                         int simplicity, bool quotient)
      : tag(tag), name(name), title(title), parameters(std::move(parameters)), simplicity(simplicity),
        quotient(quotient) {}
  virtual ~ModelFamilyDescription() = default;
  ModelFamilyDescription(const ModelFamilyDescription&) = delete;
  ModelFamilyDescription& operator=(const ModelFamilyDescription&) = delete;

  const ModelFamily tag;
  const char* const name;   // the model text's and the model file's name, "poly"
  const char* const title;  // the classic dialogue's name, "standard polynomial"
  const std::vector<ParameterForm> parameters;  // in the model text's order
  // Rank of the family among shapes with as many terms (lower: simpler).
  const int simplicity;
  // The value is numerator / (1 + denominator), the terms nnum then nden: the
  // design holds -y times the denominator terms (one target per fit), the
  // fit's error comes from the quotient, the text shows the two parts.
  const bool quotient;

  bool Has(FamilyParameter p) const;

  // Sets eq's orders, counts (nterms, nnum, nden) and the driving fields from
  // `spec` in D variables sampled at dt. Throws InvalidArgument for orders no
  // model may have.
  virtual void Shape(const EquationSpec& spec, int D, double dt, ModelEquation& eq) const = 0;
  // Throws InvalidArgument "<where>: ..." when eq's orders are out of range in D variables.
  virtual void CheckOrders(const ModelEquation& eq, int D, const std::string& where) const = 0;
  // Returns the term count eq's orders give in D variables after checking its
  // other fields (ValidateModel's rules); throws InvalidArgument "<where>: ...".
  virtual int ExpectedTerms(const ModelEquation& eq, int D, const std::string& where) const = 0;
  // Returns the names of the terms in coefficient order (term_names.h) for orders checked by CheckOrders.
  virtual std::vector<std::string> TermNames(const ModelEquation& eq, int D) const = 0;
  // The error-stack checks a fit makes once before it forms rows (monomials.h).
  virtual void CheckTermCounts(const ModelEquation&, int) const {}
  // True when b's design rows are a's (a.family, nu and nterms already equal).
  virtual bool SameDesign(const ModelEquation& a, const ModelEquation& b) const = 0;

  // Fills the rows x eq.nterms design block A (design.h's contract).
  virtual void FillDesign(const ModelEquation& eq, std::span<const double> X, int D, int rows, int firstSample,
                          std::span<const double> y, std::span<double> A, int lda) const = 0;
  // values[r] = the equation's value at state X(:, r), sample index
  // firstSample + r, as the fit's error of approximation forms it.
  virtual void Values(const ModelEquation& eq, std::span<const double> X, int D, int rows, int firstSample,
                      std::span<double> values) const = 0;

  // The simpler shape eq has when a sparse fit keeps only the terms `support`
  // (a driven polynomial without its driving, a rational function without
  // its denominator), or nullopt when it keeps its own. The simpler shape's
  // terms are the first ones of eq's.
  virtual std::optional<EquationSpec> SimplerShape(const ModelEquation&, std::span<const int>) const {
    return std::nullopt;
  }

  // Highest order of the state's monomials the right-hand side reads from the
  // shared list (RhsPoint), or -1 for none.
  virtual int SharedMonomialOrder(const ModelEquation&) const { return -1; }
  // Most equations of one design evaluated by one Rhs call (1 to 4).
  virtual int RhsGroupSize() const { return 1; }
  // values[m] = f of equation group[m] at `point`; the group's equations share one design.
  virtual void Rhs(std::span<const ModelEquation* const> group, const RhsPoint& point,
                   std::span<double> values) const = 0;
};

namespace family_registry {
inline constexpr std::size_t kMostFamilies = 64;
// The registry's table by tag; filled on first use and by RegisterModelFamily.
extern std::array<std::atomic<const ModelFamilyDescription*>, kMostFamilies> table;
const ModelFamilyDescription& Lookup(ModelFamily family);
}  // namespace family_registry

// Returns the description of `family`. Throws InvalidArgument for a tag no
// family has. Once the registry is filled, one load: the right-hand side
// looks its families up per call.
inline const ModelFamilyDescription& FamilyOf(ModelFamily family) {
  const auto at = static_cast<std::size_t>(static_cast<int>(family));
  if (at < family_registry::kMostFamilies) {
    if (const ModelFamilyDescription* found = family_registry::table[at].load(std::memory_order_acquire)) return *found;
  }
  return family_registry::Lookup(family);
}
// As above, the message "<where>: unknown model family".
const ModelFamilyDescription& FamilyOf(ModelFamily family, const std::string& where);

// Returns the family called `name` ("poly"), or null.
const ModelFamilyDescription* FamilyNamed(std::string_view name);

// Returns every family, in tag order.
std::vector<const ModelFamilyDescription*> ModelFamilies();

// Adds `family` (which must outlive every use) to the registry. Throws
// InvalidArgument when its tag (1 to 63) or name is taken. The registry only
// grows; lookups from other threads may run meanwhile.
void RegisterModelFamily(const ModelFamilyDescription& family);

// Returns MonomialCount(order, D); throws InvalidArgument for a negative
// order or one whose count the factorial cannot form.
long long MonomialTermCount(int order, int D);

// Returns MonomialCount(order, D); throws InvalidArgument "<where>: order N
// is out of range" when the factorial cannot form it.
int MonomialTermCount(int order, int D, const std::string& where);

// Throws InvalidArgument when an equation would have more than kMaxCoefficients terms.
void CheckCoefficientCount(long long terms);

}  // namespace odefit
