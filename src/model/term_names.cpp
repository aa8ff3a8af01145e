#include "model/term_names.h"

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
  std::vector<std::string> names;
  switch (family) {
    case ModelFamily::StandardPolynomial:
      return MonomialNames(D, nu);
    case ModelFamily::DrivenPolynomial:
      names = MonomialNames(D, nu);
      names.push_back("cos");
      names.push_back("sin");
      return names;
    case ModelFamily::Rational: {
      names = MonomialNames(D, nu);
      const std::vector<std::string> denominator = MonomialNames(D, mu);
      for (std::size_t j = 1; j < denominator.size(); ++j) names.push_back(denominator[j] + " (denominator)");
      return names;
    }
    case ModelFamily::ReducedPolynomial:
      // x1 times the powers of x2 up to nu, then the powers of x2 up to mu.
      for (int k = 0; k <= nu; ++k) names.push_back(k == 0 ? "x1" : std::string("x1*").append(Power(2, k)));
      for (int k = 0; k <= mu; ++k) names.push_back(k == 0 ? "1" : Power(2, k));
      return names;
  }
  return names;
}

}  // namespace odefit
