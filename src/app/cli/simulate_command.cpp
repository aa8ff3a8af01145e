// odefit simulate: integrates a model from a given state and writes the
// trajectory as CSV.

#include <CLI/CLI.hpp>
#include <cmath>
#include <iostream>
#include <sstream>

#include "app/cli/commands.h"
#include "app/cli/exit_status.h"
#include "app/cli/inputs.h"
#include "odefit/number_text.h"
#include "app/cli/output_file.h"
#include "app/cli/progress.h"
#include "odefit/errors.h"
#include "odefit/integration.h"

namespace odefit::cli {

void SimulateCommand::Register(CLI::App& parent) {
  app_ = parent.add_subcommand("simulate", "Integrate a model and write its trajectory as CSV.");
  app_->add_option("MODEL", model_, "the model file written by odefit fit --output")->required();
  app_->add_option("--from", from_, "the initial state X1,X2,... (write --from=-1,2,3 when X1 is negative)")
      ->required();
  app_->add_option("--steps", steps_, "sampling intervals to integrate")->required()->check(CLI::NonNegativeNumber);
  app_->add_option("--method", method_, "euler, rk4 (default) or rk56 (adaptive Runge-Kutta-Verner 5,6; also rkv)");
  app_->add_option("--step", step_, "integration step (default: the model's dt; euler and rk4)")
      ->check(CLI::NonNegativeNumber);
  app_->add_option("--t0", t0_,
                   "time of the initial state (default 0); vector n of the training series was at n * dt,\n"
                   "which matters only for the phase of the driven family");
  app_->add_option("--output", output_, "write the CSV here (default: standard output)");
}

bool SimulateCommand::Given() const { return app_->parsed(); }

void SimulateCommand::Prepare(InputFiles& files) {
  x0_ = ParseNumberList(from_, "--from");
  modelData_ = ReadModelInput(files, model_);
  const int D = modelData_.Dimension();
  if (x0_.size() != static_cast<std::size_t>(D)) {
    throw UsageError("--from gives " + std::to_string(x0_.size()) + " values for a model of " + std::to_string(D) +
                     " variables");
  }
  settings_.method = ParseIntegrationMethod(method_);
  settings_.step = step_;
  settings_.t0 = t0_;
  CheckSimulation(modelData_, x0_, steps_, settings_);
}

int SimulateCommand::Run() {
  const Model& model = modelData_;
  const int D = model.Dimension();
  std::vector<double> path;
  {
    Progress progress("integrating " + std::to_string(steps_) + " sampling intervals");
    path = Simulate(model, x0_, steps_, settings_);
  }
  std::ostringstream csv;
  csv << "t";
  for (int i = 1; i <= D; ++i) csv << ',' << VariableName(model, i);
  csv << "\n";
  const std::size_t d = static_cast<std::size_t>(D);
  long long firstUnbounded = -1;
  for (std::size_t j = 0; j * d < path.size(); ++j) {
    csv << ShortestText(t0_ + static_cast<double>(j) * model.dt);
    for (std::size_t i = 0; i < d; ++i) csv << ',' << ShortestText(path[j * d + i]);
    csv << "\n";
    if (firstUnbounded < 0 && std::isnan(path[j * d])) firstUnbounded = static_cast<long long>(j);
  }
  if (firstUnbounded >= 0) {
    std::cerr << "odefit: warning: the solution left the bounds (sum of |x_i| reached 1e6) before interval "
              << firstUnbounded << "; that row and the later ones are nan\n";
  }
  if (output_.empty()) {
    std::cout << csv.str();
  } else {
    WriteWholeFile(output_, csv.str());
  }
  return kSuccess;
}

}  // namespace odefit::cli
