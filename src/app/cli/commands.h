#pragma once
// The subcommands of the command line. Each registers its options on its
// own CLI11 subcommand and, when that subcommand was given, prepares (reads
// its inputs, checks every setting against them) and runs: it prints its
// results on standard output and its warnings on standard error, and
// reports failures by the exceptions of exit_status.h and the library's.

#include <optional>
#include <string>
#include <vector>

#include "app/cli/picture_options.h"
#include "odefit/efficiency.h"
#include "odefit/fit.h"
#include "odefit/integration.h"
#include "odefit/model.h"
#include "odefit/search.h"
#include "odefit/series.h"
#include "app/cli/inputs.h"

namespace CLI {
class App;
}

namespace odefit::cli {

class InputFiles;

class Command {
 public:
  virtual ~Command() = default;
  // Adds the subcommand and its options to `app`.
  virtual void Register(CLI::App& app) = 0;
  // Whether the command line named this subcommand.
  virtual bool Given() const = 0;
  // Reads the input files through `files` and checks every setting against
  // them, throwing as Run would for anything that cannot work; runs nothing
  // long and writes nothing.
  virtual void Prepare(InputFiles& files) = 0;
  // Does the work on what Prepare read; returns the exit status.
  virtual int Run() = 0;
};

class FitCommand : public Command {
 public:
  void Register(CLI::App& app) override;
  bool Given() const override;
  void Prepare(InputFiles& files) override;
  int Run() override;

 private:
  CLI::App* app_ = nullptr;
  std::vector<std::string> series_;
  double dt_ = 0.0;
  SeriesOptions seriesOptions_;
  std::vector<std::string> notes_;
  std::optional<int> train_;
  int points_ = 3;
  std::vector<std::string> models_;
  std::optional<double> threshold_;
  bool scaled_ = false;
  bool intervals_ = false;
  std::string output_;
  PictureOptions plots_;
  int threads_ = 0;
  Series seriesData_;
  FitSettings settings_;
};

class ShowCommand : public Command {
 public:
  void Register(CLI::App& app) override;
  bool Given() const override;
  void Prepare(InputFiles& files) override;
  int Run() override;

 private:
  CLI::App* app_ = nullptr;
  std::string model_;
  bool json_ = false;
  Model modelData_;
};

class SimulateCommand : public Command {
 public:
  void Register(CLI::App& app) override;
  bool Given() const override;
  void Prepare(InputFiles& files) override;
  int Run() override;

 private:
  CLI::App* app_ = nullptr;
  std::string model_;
  std::string from_;
  int steps_ = 0;
  std::string method_ = "rk4";
  double step_ = 0.0;
  double t0_ = 0.0;
  std::string output_;
  Model modelData_;
  std::vector<double> x0_;
  SimulationSettings settings_;
};

class TestCommand : public Command {
 public:
  void Register(CLI::App& app) override;
  bool Given() const override;
  void Prepare(InputFiles& files) override;
  int Run() override;

 private:
  CLI::App* app_ = nullptr;
  std::string model_;
  std::vector<std::string> series_;
  SeriesOptions seriesOptions_;
  std::vector<std::string> notes_;
  std::optional<long long> skip_;
  int pieces_ = 5;
  int length_ = 500;
  int shift_ = 100;
  std::string method_ = "rk4";
  double step_ = 0.0;
  int threads_ = 0;
  PictureOptions plots_;
  Model modelData_;
  std::vector<Series> tests_;  // one per recording tested
  std::vector<std::string> testNames_;
  std::vector<long long> skipped_, sizes_;
  void TestOne(std::size_t index);
  EfficiencySettings settings_;
};

class SearchCommand : public Command {
 public:
  void Register(CLI::App& app) override;
  bool Given() const override;
  void Prepare(InputFiles& files) override;
  int Run() override;

 private:
  CLI::App* app_ = nullptr;
  std::vector<std::string> series_;
  double dt_ = 0.0;
  SeriesOptions seriesOptions_;
  std::vector<std::string> notes_;
  std::vector<int> points_;
  std::vector<int> degrees_;
  std::vector<std::string> models_;
  std::vector<double> thresholds_;
  double validation_ = 0.2;
  int horizon_ = 0;
  double timeLimit_ = 0.0;
  int threads_ = 0;
  int show_ = 10;
  std::string output_;
  PictureOptions plots_;
  Series seriesData_;
  SearchSettings settings_;
};

}  // namespace odefit::cli
