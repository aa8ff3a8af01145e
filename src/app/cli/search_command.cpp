// odefit search: finds the differentiation window, the family and orders of
// every equation and its terms that predict held-out data best, prints a
// leaderboard and the chosen equations, and writes the result file and a
// picture of the candidates.

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
#include "odefit/fit.h"
#include "odefit/model_file.h"
#include "odefit/model_text.h"
#include "odefit/number_text.h"
#include "odefit/plots.h"
#include "odefit/search.h"

namespace odefit::cli {
namespace {

// A table cell: "-" for a value a candidate does not have.
std::string Significant(double value, int digits) { return std::isnan(value) ? "-" : SignificantText(value, digits); }

std::string Shapes(const SearchCandidate& c) {
  std::string text;
  for (const EquationSpec& spec : c.equations) {
    if (!text.empty()) text += ' ';
    text += FormatEquationSpec(spec);
  }
  return text;
}

void PrintLeaderboard(std::ostream& out, const SearchResult& result, int shown) {
  out << "rank  points  degree  threshold  terms        score  noise floor    criterion  models\n";
  const int count = std::min<int>(shown, static_cast<int>(result.candidates.size()));
  for (int k = 0; k < count; ++k) {
    const SearchCandidate& c = result.candidates[static_cast<std::size_t>(k)];
    out << PaddedText(std::to_string(k + 1), 4, true) << PaddedText(std::to_string(c.points), 8, true)
              << PaddedText(std::to_string(c.degree), 8, true) << PaddedText(Significant(c.threshold, 3), 11, true)
              << PaddedText(std::to_string(c.terms), 7, true) << PaddedText(Significant(c.score, 4), 13, true)
              << PaddedText(Significant(c.noiseFloor, 4), 13, true) << PaddedText(Significant(c.criterion, 6), 13, true) << "  "
              << Shapes(c) << "\n";
  }
  if (static_cast<int>(result.candidates.size()) > count) {
    out << "(" << result.candidates.size() - static_cast<std::size_t>(count)
              << " more candidates in the result file)\n";
  }
}

}  // namespace

void SearchCommand::Register(CLI::App& parent) {
  app_ = parent.add_subcommand(
      "search",
      "Find the differentiation window, the family and orders of every equation and its terms that predict\n"
      "held-out data best; print a leaderboard and the chosen equations.");
  app_->add_option("SERIES", series_,
                   "the series, read as odefit fit reads it (- for standard input); several files are\n"
                   "recordings of one system")
      ->required();
  app_->add_option("--dt", dt_, "sampling interval, in time units (default: from the time column)");
  AddSeriesOptions(*app_, seriesOptions_);
  app_->add_option("--points", points_,
                   "differentiation windows to try (default: 3 5 7 9 11 15 21 31 41 as far as the series\n"
                   "allows); odd windows avoid the half-sample bias of even ones")
      ->check(CLI::Range(2, 100000));
  app_->add_option("--degrees", degrees_,
                   "degrees of the local polynomial fits to try with every window (default 1 2 3 4);\n"
                   "higher degrees follow coarse sampling, lower ones smooth noise more")
      ->check(CLI::Range(1, 4));
  app_->add_option("--model", models_,
                   "equation shapes to try, as odefit fit takes them (default: polynomials, rational\n"
                   "functions, reduced polynomials for two variables, and driven polynomials when the\n"
                   "series shows a periodic driving)")
      ->expected(1)
      ->take_all();
  app_->add_option("--thresholds", thresholds_,
                   "scaled thresholds to try: the share of the derivative estimates a term must carry\n"
                   "(default 0.001 0.002 0.005 0.01 0.02 0.05 0.1 0.2)")
      ->check(CLI::NonNegativeNumber);
  app_->add_option("--validation", validation_, "share of the series held out for scoring (default 0.2)")
      ->check(CLI::Range(0.05, 0.5));
  app_->add_option("--horizon", horizon_,
                   "prediction horizon in samples (default: from the series' correlation time)")
      ->check(CLI::Range(0, 100000000));
  app_->add_option("--time-limit", timeLimit_,
                   "stop after S seconds with the best candidate so far (default: no limit)")
      ->check(CLI::NonNegativeNumber);
  app_->add_option("--threads", threads_, "threads (default 0: one per processor); the result is the same")
      ->check(CLI::Range(0, 1024));
  app_->add_option("--show", show_, "candidates in the leaderboard (default 10)")->check(CLI::Range(1, 1000000));
  app_->add_option("--output", output_, "write the result (the best model and every candidate) as JSON here; - writes it to standard output and the\nleaderboard and equations to standard error");
  plots_.Register(*app_, "search.png (or .svg: score and criterion against terms)");
}

bool SearchCommand::Given() const { return app_->parsed(); }

void SearchCommand::Prepare(InputFiles& files) {
  if (app_->count("--dt") > 0 && (!(dt_ > 0.0) || !std::isfinite(dt_))) {
    throw UsageError("--dt must be a positive number");
  }
  settings_.dt = dt_;
  for (const int m : points_) {
    if (m < 3) throw UsageError("--points: windows need at least 3 points to be centred");
  }
  settings_.points = points_;
  settings_.degrees = degrees_;
  for (const std::string& text : models_) settings_.shapes.push_back(ParseEquationSpec(text));
  settings_.thresholds = thresholds_;
  settings_.validationFraction = validation_;
  settings_.horizon = horizon_;
  settings_.timeLimit = timeLimit_;
  settings_.threads = threads_;
  seriesData_ = ReadSeriesInputs(files, series_, seriesOptions_, notes_);
  if (seriesData_.times.empty() && settings_.dt == 0.0) {
    throw UsageError("--dt is required when the series has no time column (--time)");
  }
  if (!seriesData_.times.empty() || !seriesData_.breaks.empty()) {
    // The time stamps give dt; the search works on uniform pieces.
    const Sampling sampling = SeriesSampling(seriesData_, settings_.dt);
    if (!sampling.uniform) {
      throw UsageError("the search needs evenly sampled recordings (gaps are allowed): fit uneven ones with odefit fit");
    }
    settings_.dt = sampling.dt;
  }
  CheckVariableNames(seriesData_.names);
  CheckSearchSettings(seriesData_, settings_);
}

int SearchCommand::Run() {
  const Series& series = seriesData_;
  PrintNotes(notes_);
  if (!series.times.empty() || !series.breaks.empty()) PrintSampling(SeriesSampling(series, settings_.dt), 3);
  SearchSettings settings = settings_;
  // SIGINT and SIGTERM stop the search with the best candidate so far, which
  // is then printed and written as for a complete one.
  CancellationToken stop;
  settings.stop = &stop;
  SearchResult result;
  int interruption = 0;
  {
    const DeferredInterrupt deferral(stop);
    try {
      Progress progress("searching");
      settings.progress = [&progress](int done, int total) {
        progress.Update("searching: " + std::to_string(done) + " of " + std::to_string(total) + " tasks done");
      };
      result = SearchModels(series, settings);
    } catch (const Cancelled&) {
      if (deferral.Received() == 0) throw;
      std::cerr << "odefit: interrupted by " << SignalName(deferral.Received())
                << " before any candidate was scored: nothing written\n";
      return 128 + deferral.Received();
    }
    interruption = deferral.Received();
  }
  result.best.names = series.names;

  std::string sources;
  for (const std::string& path : series_) sources += (sources.empty() ? "" : ", ") + path;
  std::ostream& out = ReportStream(output_);
  out << "Search on " << series.size() << " vectors of " << sources << ": " << result.candidates.size()
            << " candidates scored on the last " << Significant(100.0 * validation_, 3)
            << (series.breaks.empty() ? " % of the series, " : " % of each recording, ")
            << result.starts << " predictions of " << result.horizon << " samples each";
  if (!result.period.empty()) out << "; driving period: " << Significant(result.period.front(), 9);
  out << "\n\n";
  PrintLeaderboard(out, result, show_);
  if (!result.complete && interruption == 0) {
    std::cerr << "odefit: warning: the time limit cut the search short: the result is the best of the candidates "
                 "scored so far\n";
  }
  const SearchCandidate& best = result.candidates.front();
  out << "\nChosen: " << best.terms << " terms, window of " << best.points << " points, local fits of degree "
            << best.degree << "; fitted again on the whole series:\n\n";
  out << FormatModel(result.best, result.inclusion);
  out.flush();
  for (const std::string& doubt : result.doubts) std::cerr << "odefit: warning: " << doubt << "\n";

  std::vector<std::string> written;
  if (!output_.empty()) {
    WriteWholeFile(output_, SearchResultToJson(result));
    written.push_back(output_);
  }
  if (plots_.Wanted()) written.push_back(plots_.Write("search", SearchPlot(result, plots_.Format())).string());
  if (interruption != 0) {
    out.flush();
    std::cerr << "odefit: interrupted by " << SignalName(interruption)
              << ": the search stopped early; the result (the best of the " << result.candidates.size()
              << " candidates scored so far) was printed";
    for (std::size_t k = 0; k < written.size(); ++k) std::cerr << (k == 0 ? " and written to " : " and ") << written[k];
    std::cerr << "\n";
    return 128 + interruption;
  }
  return kSuccess;
}

}  // namespace odefit::cli
