#include "model/term_names.h"

#include "model/model_family.h"
#include "model/monomials.h"

namespace odefit {
namespace {

// Returns "x<i>", with "^<power>" when the power is above 1.
std::string Power(int i, int power) {
  std::string name(1, 'x');
  name += std::to_string(i);
  if (power > 1) {
    name += '^';
    name += std::to_string(power);
  }
  return name;
}

}  // namespace

std::vector<std::string> MonomialNames(int D, int nu) {
  std::vector<std::string> names = {"1"};
  for (int f = 1; f <= nu; ++f) {
    IndexTupleCursor tuple(D, f);
    const int count = MonomialCount(f, D) - MonomialCount(f - 1, D);
    for (int q = 1; q <= count; ++q) {
      // The tuple is non-decreasing: equal indices form one power.
      std::string name;
      for (int k = 1; k <= f;) {
        int power = 1;
        while (k + power <= f && tuple[k + power] == tuple[k]) ++power;
        if (!name.empty()) name += "*";
        name += Power(tuple[k], power);
        k += power;
      }
      names.push_back(std::move(name));
      if (q < count) tuple.NextIndexTuple(f);
    }
  }
  return names;
}

std::vector<std::string> TermNames(ModelFamily family, int D, int nu, int mu) {
  ModelEquation eq;
  eq.family = family;
  eq.nu = nu;
  eq.mu = mu;
  return FamilyOf(family).TermNames(eq, D);
}

}  // namespace odefit
