// odefit fit: fits a model to a series, prints its equations and writes the
// model file and the pictures.

#include <CLI/CLI.hpp>
#include <filesystem>
#include <future>
#include <iostream>

#include "app/cli/commands.h"
#include "app/cli/exit_status.h"
#include "app/cli/inputs.h"
#include "app/cli/output_file.h"
#include "app/cli/progress.h"
#include "odefit/doubts.h"
#include "odefit/fit.h"
#include "odefit/intervals.h"
#include "odefit/model_file.h"
#include "odefit/model_text.h"
#include "odefit/number_text.h"
#include "odefit/plots.h"

namespace odefit::cli {

void FitCommand::Register(CLI::App& parent) {
  app_ = parent.add_subcommand("fit", "Fit a model to a series and print its equations.");
  app_->add_option("SERIES", series_,
                   "the series: a table with one vector per line (values separated by commas, blanks or\n"
                   "tabs, an optional header line of names), or with --dimension the classic file of one\n"
                   "value per line; - reads standard input. Several files are recordings of one system,\n"
                   "fitted together, each differentiated on its own")
      ->required();
  app_->add_option("--dt", dt_, "sampling interval, in time units (default: from the time column)");
  AddSeriesOptions(*app_, seriesOptions_);
  app_->add_option("--train", train_, "fit to the first N vectors (default: all)")->check(CLI::Range(2, 2147483647));
  app_->add_option("--points", points_, "points per differentiation window (default 3)")
      ->check(CLI::Range(2, 2147483647));
  app_->add_option("--model", models_,
                   "model of the equations: poly:NU, driven:NU:PERIOD (period in time units),\n"
                   "rational:NU:MU or reduced:NU:MU (two variables); once for every equation or\n"
                   "once per equation in order (default poly:2)")
      ->expected(1)
      ->take_all();
  app_->add_option("--threshold", threshold_,
                   "sparse fit: drop the terms whose coefficients stay below T in magnitude, refitting\n"
                   "the others, until none is dropped")
      ->check(CLI::NonNegativeNumber);
  app_->add_flag("--scaled", scaled_,
                 "compare with T each term's share of the derivative estimates, |c| ||column|| / ||slopes||,\n"
                 "instead of |c|")
      ->needs("--threshold");
  app_->add_flag("--intervals", intervals_,
                 "add a 95 % interval to every kept coefficient that includes the derivative estimates' error\n"
                 "(30 refits on blocks of the series and one with 2 more points; one recording without time\n"
                 "stamps)");
  app_->add_option("--output", output_, "write the model file (JSON) here; - writes it to standard output and the equations to standard error");
  app_->add_option("--threads", threads_,
                   "threads of a large fit (default 0: one per processor); the result is the same")
      ->check(CLI::Range(0, 1024));
  plots_.Register(*app_, "differentiation.png and fit.png (or .svg)");
}

bool FitCommand::Given() const { return app_->parsed(); }

void FitCommand::Prepare(InputFiles& files) {
  if (app_->count("--dt") > 0 && (!(dt_ > 0.0) || !std::isfinite(dt_))) {
    throw UsageError("--dt must be a positive number");
  }
  settings_.dt = dt_;
  settings_.points = points_;
  settings_.train = train_;
  settings_.threads = threads_;  // the result does not depend on it
  if (threshold_) settings_.sparse = SparseOptions{*threshold_, scaled_};
  settings_.equations.clear();
  for (const std::string& text : models_) settings_.equations.push_back(ParseEquationSpec(text));
  if (settings_.equations.empty()) settings_.equations.push_back(EquationSpec{});
  seriesData_ = ReadSeriesInputs(files, series_, seriesOptions_, notes_);
  if (seriesData_.times.empty() && settings_.dt == 0.0) {
    throw UsageError("--dt is required when the series has no time column (--time)");
  }
  CheckFitSettings(seriesData_, settings_);
}

int FitCommand::Run() {
  const Series& series = seriesData_;
  PrintNotes(notes_);
  if (!series.times.empty() || !series.breaks.empty()) {
    const Sampling sampling = SeriesSampling(series, settings_.dt, train_ ? static_cast<std::size_t>(*train_) : 0);
    PrintSampling(sampling, settings_.points);
  }
  Model model;
  Derivatives training;  // for the pictures and the doubts about a rational's poles: differentiated once
  {
    const std::size_t rows = train_ ? static_cast<std::size_t>(*train_) : series.size();
    Progress progress("fitting " + std::to_string(series.dimension) + " equations to " + std::to_string(rows) +
                      " vectors");
    model = FitModel(series, settings_, &training);
  }
  if (intervals_) {
    Progress progress("refitting for the intervals");
    SetIntervals(model, FitIntervals(series, settings_, model));
  }
  ReportStream(output_) << FormatModel(model);
  for (const std::string& doubt : FitDoubts(model, &training)) std::cerr << "odefit: warning: " << doubt << "\n";
  if (!output_.empty()) WriteWholeFile(output_, ModelToJson(model));
  if (plots_.Wanted()) {
    // The fit picture is drawn and packed on a second thread while the
    // differentiation picture is made and written (and synced); they are
    // written in the same order as ever. Without a thread, it is made here.
    std::future<Picture> fit = std::async(std::launch::async | std::launch::deferred,
                                          [&] { return FitPlot(series, model, training, plots_.Format()); });
    try {
      plots_.Write("differentiation", DifferentiationPlot(series, model, training, plots_.Format()));
    } catch (...) {
      fit.wait();  // it reads this function's locals
      throw;
    }
    plots_.Write("fit", fit.get());
  }
  return kSuccess;
}

}  // namespace odefit::cli
