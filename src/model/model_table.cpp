#include "model/model_table.h"

namespace odefit {

ModelTable& GlobalModelTable() {
  static ModelTable table;
  return table;
}

std::vector<double>& TrainApproximationError() {
  static std::vector<double> errors;
  return errors;
}

}  // namespace odefit
