// odefit test: the efficiency test of a model on held-out vectors.

#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "app/cli/commands.h"
#include "app/cli/exit_status.h"
#include "app/cli/inputs.h"
#include "app/cli/output_file.h"
#include "app/cli/progress.h"
#include "odefit/efficiency.h"
#include "odefit/errors.h"
#include "odefit/number_text.h"
#include "odefit/plots.h"

namespace odefit::cli {
namespace {

std::string Fixed(double value, int decimals) {
  if (!std::isfinite(value)) return std::isnan(value) ? "undefined" : "inf";
  return FixedText(value, decimals);
}

}  // namespace

void TestCommand::Register(CLI::App& parent) {
  app_ = parent.add_subcommand("test", "Test how long a model predicts held-out vectors.");
  app_->add_option("MODEL", model_, "the model file written by odefit fit --output")->required();
  app_->add_option("SERIES", series_,
                   "the series, read as odefit fit reads it (- for standard input); the test uses the\n"
                   "vectors after the first --skip")
      ->required();
  app_->add_option("--dimension", dimension_, "read SERIES as the classic file of one value per line")
      ->check(CLI::Range(1, 9));
  app_->add_option("--skip", skip_,
                   "vectors of SERIES before the test series (default: the model's training vectors,\n"
                   "for the series the model was fitted to; 0 when SERIES holds only held-out vectors)")
      ->check(CLI::NonNegativeNumber);
  app_->add_option("--pieces", pieces_, "number of test pieces (default 5)")->check(CLI::Range(1, 2147483647));
  app_->add_option("--length", length_, "sampling intervals per piece (default 500)")->check(CLI::Range(1, 2147483647));
  app_->add_option("--shift", shift_, "vectors between the starts of pieces (default 100)")
      ->check(CLI::Range(1, 2147483647));
  app_->add_option("--method", method_, "euler, rk4 (default) or rk56 (adaptive Runge-Kutta-Verner 5,6; also rkv)");
  app_->add_option("--step", step_, "integration step (default: the model's dt)")->check(CLI::NonNegativeNumber);
  app_->add_option("--threads", threads_, "threads for the pieces (default 0: one per processor)")
      ->check(CLI::Range(0, 1024));
  plots_.Register(*app_, "model-efficiency.png (or .svg)");
}

bool TestCommand::Given() const { return app_->parsed(); }

void TestCommand::Prepare(InputFiles& files) {
  modelData_ = ReadModelInput(files, model_);
  const Model& model = modelData_;
  Series series = ReadSeriesInput(files, series_, dimension_);
  if (series.dimension != model.Dimension()) {
    throw UsageError("the test series has " + std::to_string(series.dimension) + " components, the model " +
                     std::to_string(model.Dimension()));
  }
  const long long skip = skip_ ? *skip_ : model.train;
  if (skip >= static_cast<long long>(series.size())) {
    throw UsageError(series_ + " has " + std::to_string(series.size()) + " vectors, none after the " +
                     std::to_string(skip) + " skipped" +
                     (skip_ ? std::string() : " (the model's training vectors; give --skip 0 when " + series_ +
                                                  " holds only held-out vectors)"));
  }
  skipped_ = skip;
  seriesSize_ = static_cast<long long>(series.size());
  test_.dimension = series.dimension;
  test_.names = std::move(series.names);
  test_.values.assign(series.values.begin() + static_cast<std::ptrdiff_t>(skip * series.dimension),
                      series.values.end());
  settings_.pieces = pieces_;
  settings_.length = length_;
  settings_.shift = shift_;
  settings_.method = ParseIntegrationMethod(method_);
  settings_.step = step_;
  settings_.threads = threads_;
  CheckEfficiencySettings(model, test_, settings_);
}

int TestCommand::Run() {
  const Model& model = modelData_;
  const Series& test = test_;
  const EfficiencySettings& settings = settings_;
  const long long skip = skipped_;
  std::ostringstream messages;
  EfficiencyResult result;
  {
    Progress progress("testing " + std::to_string(pieces_) + " pieces of " + std::to_string(length_) +
                      " intervals");
    result = TestModel(model, test, settings, &messages);
  }
  std::cerr << messages.str();

  const int D = model.Dimension();
  const double step = step_ == 0.0 ? model.dt : step_;
  std::cout << "Test on vectors " << skip + 1 << " to " << seriesSize_ << " of " << series_ << ": " << pieces_
            << (pieces_ == 1 ? " piece of " : " pieces of ") << length_ << " intervals, " << shift_
            << " apart, " << IntegrationMethodName(settings_.method) << ", step " << ShortestText(step) << "\n\n";
  std::cout << "Error of approximation on the test series\n";
  for (int i = 1; i <= D; ++i) {
    const double e = result.testErrors[static_cast<std::size_t>(i - 1)];
    std::cout << "  dx" << i << "/dt" << PaddedText(std::isnan(e) ? "undefined" : Fixed(100.0 * e, 5) + " %", 16, true)
              << "\n";
  }
  std::cout << "\nPrediction time (normalised error at most 0.05)\n";
  for (int i = 1; i <= D; ++i) {
    const int time = result.predictionTime[static_cast<std::size_t>(i - 1)];
    std::cout << "  x" << i << PaddedText(std::to_string(time), 8, true) << " intervals"
              << PaddedText(SignificantText(time * model.dt, 6), 12, true) << " time units\n";
  }
  std::cout << "\nInfinite solutions: " << result.infiniteCount << " of " << pieces_ << " pieces\n";

  if (plots_.Wanted()) plots_.Write("model-efficiency", EfficiencyPlot(model, test, settings, result, plots_.Format()));
  return kSuccess;
}

}  // namespace odefit::cli
