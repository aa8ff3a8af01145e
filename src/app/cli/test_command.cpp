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
                   "vectors after the first --skip. Several files are tested one by one")
      ->required();
  AddSeriesOptions(*app_, seriesOptions_);
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
  const Series joined = ReadSeriesInputs(files, series_, seriesOptions_, notes_);
  if (joined.dimension != model.Dimension()) {
    throw UsageError("the test series has " + std::to_string(joined.dimension) + " components, the model " +
                     std::to_string(model.Dimension()));
  }
  // The training vectors are skipped by default only in the one series a model of one recording was fitted to.
  const bool oneSeries = series_.size() == 1 && joined.breaks.empty() && model.recordings <= 1;
  const long long skip = skip_ ? *skip_ : oneSeries ? model.train : 0;
  const Sampling sampling = SeriesSampling(joined, joined.times.empty() ? model.dt : 0.0);
  if (!joined.times.empty() && std::fabs(sampling.dt - model.dt) > 1e-6 * model.dt) {
    throw UsageError("the test series is sampled every " + ShortestText(sampling.dt) + ", the model at dt " +
                     ShortestText(model.dt));
  }
  if (!sampling.uniform || sampling.gaps > 0) {
    throw UsageError("the efficiency test needs evenly sampled recordings without gaps: its pieces are integrated "
                     "at the model's dt");
  }
  settings_.pieces = pieces_;
  settings_.length = length_;
  settings_.shift = shift_;
  settings_.method = ParseIntegrationMethod(method_);
  settings_.step = step_;
  settings_.threads = threads_;
  for (std::size_t k = 0; k < sampling.pieces.size(); ++k) {
    const SeriesPiece& piece = sampling.pieces[k];
    const std::string name = series_.size() == sampling.pieces.size() ? series_[k] : series_.front();
    const long long size = static_cast<long long>(piece.end - piece.begin);
    if (skip >= size) {
      throw UsageError(name + " has " + std::to_string(size) + " vectors, none after the " + std::to_string(skip) +
                       " skipped" +
                       (skip_ ? std::string()
                              : " (the model's training vectors; give --skip 0 when " + name +
                                    " holds only held-out vectors)"));
    }
    Series test;
    test.dimension = joined.dimension;
    test.names = joined.names;
    const std::size_t d = static_cast<std::size_t>(joined.dimension);
    test.values.assign(joined.values.begin() + static_cast<std::ptrdiff_t>((piece.begin + static_cast<std::size_t>(skip)) * d),
                       joined.values.begin() + static_cast<std::ptrdiff_t>(piece.end * d));
    CheckEfficiencySettings(model, test, settings_);
    tests_.push_back(std::move(test));
    testNames_.push_back(name);
    skipped_.push_back(skip);
    sizes_.push_back(size);
  }
}

int TestCommand::Run() {
  PrintNotes(notes_);
  for (std::size_t k = 0; k < tests_.size(); ++k) {
    if (k > 0) std::cout << "\n";
    TestOne(k);
  }
  return kSuccess;
}

void TestCommand::TestOne(std::size_t index) {
  const Model& model = modelData_;
  const Series& test = tests_[index];
  const EfficiencySettings& settings = settings_;
  const long long skip = skipped_[index];
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
  std::cout << "Test on vectors " << skip + 1 << " to " << sizes_[index] << " of " << testNames_[index] << ": " << pieces_
            << (pieces_ == 1 ? " piece of " : " pieces of ") << length_ << " intervals, " << shift_
            << " apart, " << IntegrationMethodName(settings_.method) << ", step " << ShortestText(step) << "\n\n";
  std::cout << "Error of approximation on the test series\n";
  for (int i = 1; i <= D; ++i) {
    const double e = result.testErrors[static_cast<std::size_t>(i - 1)];
    std::cout << "  d" << VariableName(model, i) << "/dt" << PaddedText(std::isnan(e) ? "undefined" : Fixed(100.0 * e, 5) + " %", 16, true)
              << "\n";
  }
  std::cout << "\nPrediction time (normalised error at most 0.05)\n";
  for (int i = 1; i <= D; ++i) {
    const int time = result.predictionTime[static_cast<std::size_t>(i - 1)];
    std::cout << "  " << VariableName(model, i) << PaddedText(std::to_string(time), 8, true) << " intervals"
              << PaddedText(SignificantText(time * model.dt, 6), 12, true) << " time units\n";
  }
  std::cout << "\nInfinite solutions: " << result.infiniteCount << " of " << pieces_ << " pieces\n";

  // One picture per recording tested: model-efficiency, model-efficiency-2, ...
  if (plots_.Wanted()) {
    plots_.Write(index == 0 ? std::string("model-efficiency") : "model-efficiency-" + std::to_string(index + 1),
                 EfficiencyPlot(model, test, settings, result, plots_.Format()));
  }
}

}  // namespace odefit::cli
