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

using family_registry::kMostFamilies;
using family_registry::table;

// Adds the built-in families once, before the first lookup that misses.
void AddBuiltInFamilies();

std::mutex& RegistryMutex() {
  static std::mutex mutex;
  return mutex;
}

// Adds `family`; the caller holds the registry's mutex.
void Add(const ModelFamilyDescription& family) {
  const int tag = static_cast<int>(family.tag);
  if (tag < 1 || tag >= static_cast<int>(kMostFamilies)) {
    throw InvalidArgument("a model family's tag is from 1 to 63, not " + std::to_string(tag));
  }
  for (const auto& slot : table) {
    const ModelFamilyDescription* other = slot.load(std::memory_order_relaxed);
    if (other != nullptr && std::string_view(other->name) == family.name) {
      throw InvalidArgument(std::string("the model family \"") + family.name + "\" is registered already");
    }
  }
  if (table[static_cast<std::size_t>(tag)].load(std::memory_order_relaxed) != nullptr) {
    throw InvalidArgument("the model family tag " + std::to_string(tag) + " is taken");
  }
  table[static_cast<std::size_t>(tag)].store(&family, std::memory_order_release);
}

void AddBuiltInFamilies() {
  static std::once_flag once;
  std::call_once(once, [] {
    const std::lock_guard lock(RegistryMutex());
    for (const ModelFamilyDescription* family : {&StandardPolynomialFamily(), &DrivenPolynomialFamily(),
                                                 &RationalFamily(), &ReducedPolynomialFamily()}) {
      Add(*family);
    }
  });
}

const ModelFamilyDescription* Find(ModelFamily family) {
  AddBuiltInFamilies();
  const auto at = static_cast<std::size_t>(static_cast<int>(family));
  return at < kMostFamilies ? table[at].load(std::memory_order_acquire) : nullptr;
}

}  // namespace

namespace family_registry {

// Constant-initialised (all null), so a lookup before any dynamic
// initialisation finds it ready.
std::array<std::atomic<const ModelFamilyDescription*>, kMostFamilies> table{};

const ModelFamilyDescription& Lookup(ModelFamily family) {
  const ModelFamilyDescription* found = Find(family);
  if (found == nullptr) throw InvalidArgument("unknown model family");
  return *found;
}

}  // namespace family_registry

bool ModelFamilyDescription::Has(FamilyParameter p) const {
  for (const ParameterForm& form : parameters) {
    if (form.parameter == p) return true;
  }
  return false;
}

const ModelFamilyDescription& FamilyOf(ModelFamily family, const std::string& where) {
  const ModelFamilyDescription* found = Find(family);
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
    if (const ModelFamilyDescription* family = Find(static_cast<ModelFamily>(tag))) all.push_back(family);
  }
  return all;
}

void RegisterModelFamily(const ModelFamilyDescription& family) {
  AddBuiltInFamilies();
  const std::lock_guard lock(RegistryMutex());
  Add(family);
}

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
