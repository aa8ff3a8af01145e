#include "model/model_family.h"

#include <array>
#include <atomic>
#include <mutex>
#include <string>

#include "model/families/families.h"
#include "model/monomials.h"
#include "odefit/errors.h"

namespace odefit {
namespace {

// Largest n + D whose term count the factorial can form.
constexpr int kLargestCountArgument = 34;

constexpr std::size_t kMostFamilies = 64;

// The one table of families, indexed by tag. It only grows, and a lookup is
// one atomic load, so the right-hand side may look its families up per call.
class Registry {
 public:
  Registry() {
    for (const ModelFamilyDescription* family : {&StandardPolynomialFamily(), &DrivenPolynomialFamily(),
                                                 &RationalFamily(), &ReducedPolynomialFamily()}) {
      Add(*family);
    }
  }

  const ModelFamilyDescription* Find(ModelFamily tag) const {
    const auto at = static_cast<std::size_t>(static_cast<int>(tag));
    return at < kMostFamilies ? families_[at].load(std::memory_order_acquire) : nullptr;
  }

  void Add(const ModelFamilyDescription& family) {
    const std::lock_guard lock(mutex_);
    const int tag = static_cast<int>(family.tag);
    if (tag < 1 || tag >= static_cast<int>(kMostFamilies)) {
      throw InvalidArgument("a model family's tag is from 1 to 63, not " + std::to_string(tag));
    }
    for (const auto& slot : families_) {
      const ModelFamilyDescription* other = slot.load(std::memory_order_relaxed);
      if (other != nullptr && std::string_view(other->name) == family.name) {
        throw InvalidArgument(std::string("the model family \"") + family.name + "\" is registered already");
      }
    }
    if (families_[static_cast<std::size_t>(tag)].load(std::memory_order_relaxed) != nullptr) {
      throw InvalidArgument("the model family tag " + std::to_string(tag) + " is taken");
    }
    families_[static_cast<std::size_t>(tag)].store(&family, std::memory_order_release);
  }

 private:
  std::mutex mutex_;
  std::array<std::atomic<const ModelFamilyDescription*>, kMostFamilies> families_{};
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

bool ModelFamilyDescription::Has(FamilyParameter p) const {
  for (const ParameterForm& form : parameters) {
    if (form.parameter == p) return true;
  }
  return false;
}

const ModelFamilyDescription& FamilyOf(ModelFamily family) {
  const ModelFamilyDescription* found = TheRegistry().Find(family);
  if (found == nullptr) throw InvalidArgument("unknown model family");
  return *found;
}

const ModelFamilyDescription& FamilyOf(ModelFamily family, const std::string& where) {
  const ModelFamilyDescription* found = TheRegistry().Find(family);
  if (found == nullptr) throw InvalidArgument(where + ": unknown model family");
  return *found;
}

const ModelFamilyDescription* FamilyNamed(std::string_view name) {
  for (const ModelFamilyDescription* family : ModelFamilies()) {
    if (family->name == name) return family;
  }
  return nullptr;
}

std::vector<const ModelFamilyDescription*> ModelFamilies() {
  std::vector<const ModelFamilyDescription*> all;
  for (std::size_t tag = 1; tag < kMostFamilies; ++tag) {
    if (const ModelFamilyDescription* family = TheRegistry().Find(static_cast<ModelFamily>(tag))) all.push_back(family);
  }
  return all;
}

void RegisterModelFamily(const ModelFamilyDescription& family) { TheRegistry().Add(family); }

long long MonomialTermCount(int order, int D) {
  if (order < 0) throw InvalidArgument("an order must not be negative, not " + std::to_string(order));
  if (order + D > kLargestCountArgument) {
    throw InvalidArgument("order " + std::to_string(order) + " in " + std::to_string(D) +
                          " variables has more than 1000 terms");
  }
  return MonomialCount(order, D);
}

int MonomialTermCount(int order, int D, const std::string& where) {
  if (order < 0 || order + D > kLargestCountArgument) {
    throw InvalidArgument(where + ": order " + std::to_string(order) + " is out of range");
  }
  return MonomialCount(order, D);
}

void CheckCoefficientCount(long long terms) {
  if (terms > kMaxCoefficients) {
    throw InvalidArgument("an equation may have at most 1000 coefficients, not " + std::to_string(terms));
  }
}

}  // namespace odefit
