// The command line run as a user runs it: odefit fit, show, simulate and
// test on real files, their outputs, and the exit status of every kind of
// failure (1 usage, 2 bad input, 3 numerical, 4 file), with no partial file
// left behind.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <chrono>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "graphics/palette.h"
#include "graphics/png_file.h"
#include "odefit/odefit.h"
#include "../support/generated_systems.h"
#include "program_run.h"

namespace odefit::testing {
namespace {

using Json = nlohmann::json;

const std::string kLorenz = std::string(ODEFIT_EXAMPLES_DIR) + "/lorenz.txt";
const std::string kSingular = std::string(ODEFIT_FIXTURES_DIR) + "/singular/series.txt";
const std::string kLorenzFit = "fit " + Quoted(kLorenz) + " --dimension 3 --dt 0.01 --train 3000 --points 3 --model poly:2";

struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs `odefit ARGS` in `folder` (a shell command line: quote what needs it).
ProgramRun Odefit(const fs::path& folder, const std::string& args) {
  ProgramRun run;
  run.status = RunShell("cd " + Quoted(folder.string()) + " && " + Quoted(ODEFIT_BINARY) + " " + args +
                        " > out.txt 2> err.txt");
  run.out = Text(folder / "out.txt");
  run.err = Text(folder / "err.txt");
  fs::remove(folder / "out.txt");
  fs::remove(folder / "err.txt");
  return run;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The files of `folder`, to show that a failure left nothing behind.
std::vector<std::string> Files(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// Writes `series` (from vector `first` on) as a CSV with a header, every value in %.17g.
void WriteCsv(const fs::path& path, const Series& series, std::size_t first = 0) {
  std::string text = "x,y,z\n";
  const std::size_t D = static_cast<std::size_t>(series.dimension);
  for (std::size_t n = first; n < series.size(); ++n) {
    for (std::size_t i = 0; i < D; ++i) {
      char value[40];
      std::snprintf(value, sizeof value, "%.17g", series.values[n * D + i]);
      text += value;
      text += i + 1 < D ? ',' : '\n';
    }
  }
  WriteText(path, text);
}

// The Lorenz model of the README, fitted once into `folder`/m.json.
void FitLorenz(const fs::path& folder) {
  const ProgramRun run = Odefit(folder, kLorenzFit + " --output m.json");
  ASSERT_EQ(run.status, 0) << run.err;
}

// ---------------------------------------------------------------- fit

TEST(CliFit, TheClassicFileGivesTheDialoguesCoefficientsAndAModelFile) {
  ScratchFolder folder("cli-fit");
  const ProgramRun run = Odefit(folder.path(), kLorenzFit + " --output m.json");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(Contains(run.out, "Equation 1: poly:2, 10 terms, error of approximation 0.13926 %")) << run.out;
  EXPECT_TRUE(Contains(run.out, "  dx1/dt = -0.0714521 - 9.88249 x1 + 9.92197 x2")) << run.out;
  EXPECT_TRUE(Contains(run.out, "\n  x1         -9.882494634          0.00216\n")) << run.out;
  const Json model = Json::parse(Text(folder.path() / "m.json"));
  char digits[32];
  std::snprintf(digits, sizeof digits, "%.10f", model["equations"][0]["coefficients"][1].get<double>());
  EXPECT_EQ(std::string(digits), "-9.8824946336");  // as report.txt shows it
  EXPECT_EQ(model["train"], 3000);
  EXPECT_EQ(model["equations"][2]["terms"][9], "x3^2");
  EXPECT_EQ(Files(folder.path()), (std::vector<std::string>{"m.json"}));
}

TEST(CliFit, ATableWithAHeaderAndStandardInputGiveTheSameModel) {
  ScratchFolder folder("cli-csv");
  FitLorenz(folder.path());
  WriteCsv(folder.path() / "lorenz.csv", ReadClassicSeries(kLorenz, 3));
  const ProgramRun csv = Odefit(folder.path(), "fit lorenz.csv --dt 0.01 --train 3000 --output csv.json");
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_TRUE(Contains(csv.out, "Variables: x1 = x, x2 = y, x3 = z\n")) << csv.out;
  const ProgramRun piped = Odefit(folder.path(), "fit - --dt 0.01 --train 3000 --output piped.json < lorenz.csv");
  ASSERT_EQ(piped.status, 0) << piped.err;
  Json classic = Json::parse(Text(folder.path() / "m.json"));
  for (const char* file : {"csv.json", "piped.json"}) {
    Json table = Json::parse(Text(folder.path() / file));
    // The header's names name the terms; every coefficient is the classic fit's to the bit.
    EXPECT_EQ(table["equations"][2]["terms"][5], "x*y") << file;
    for (Json* model : {&table, &classic}) {
      for (Json& equation : (*model)["equations"]) equation.erase("terms");
    }
    EXPECT_EQ(table["equations"], classic["equations"]) << file;
    EXPECT_EQ(table["variables"], Json({"x", "y", "z"})) << file;
  }
}

TEST(CliFit, UnreadableRaggedOrEmptySeriesAreBadInputAndWriteNothing) {
  ScratchFolder folder("cli-fit-input");
  WriteText(folder.path() / "value.csv", "t,x\n0,1.5\n0.1,1.5e\n");
  WriteText(folder.path() / "ragged.csv", "1 2\n3 4\n5\n");
  WriteText(folder.path() / "empty.csv", "");
  WriteText(folder.path() / "classic.txt", "1.5\n2.5\nabc\n");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"value.csv", "odefit: value.csv:3:5: cannot read \"1.5e\" as a number\n"},
      {"ragged.csv", "odefit: ragged.csv:3: has 1 value where the first vector has 2 values (ragged rows)\n"},
      {"empty.csv", "odefit: empty.csv: holds no vector\n"},
      {"classic.txt --dimension 1", "odefit: classic.txt:3: cannot read \"abc\" as a number\n"},
  };
  for (const auto& [args, message] : cases) {
    const ProgramRun run = Odefit(folder.path(), "fit " + args + " --dt 0.1 --output m.json");
    EXPECT_EQ(run.status, 2) << args;
    EXPECT_EQ(run.err, message) << args;
    EXPECT_EQ(run.out, "") << args;
    EXPECT_FALSE(fs::exists(folder.path() / "m.json")) << args;
  }
}

TEST(CliFit, AHeaderThatIsNotUtf8StillGivesAModelFile) {
  ScratchFolder folder("cli-fit-latin1");
  std::string text = "T\xb0" "C,y\n";  // a header saved as Latin-1
  for (int k = 0; k < 60; ++k) text += std::to_string(std::sin(0.1 * k)) + "," + std::to_string(std::cos(0.1 * k)) + "\n";
  WriteText(folder.path() / "latin1.csv", text);
  const ProgramRun run = Odefit(folder.path(), "fit latin1.csv --dt 0.1 --model poly:1 --output m.json");
  ASSERT_EQ(run.status, 0) << run.err;
  const Json model = Json::parse(Text(folder.path() / "m.json"));
  EXPECT_EQ(model["variables"][0], "T\xef\xbf\xbd" "C");  // U+FFFD for the byte
  EXPECT_EQ(Odefit(folder.path(), "show m.json").status, 0);
}

TEST(CliFit, BadOptionsAndImpossibleSettingsAreUsageErrors) {
  ScratchFolder folder("cli-fit-usage");
  const std::string lorenz = "fit " + Quoted(kLorenz) + " --dimension 3 --dt 0.01 ";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {lorenz + "--bogus", "--bogus"},
      {"fit " + Quoted(kLorenz) + " --dimension 3", "--dt is required"},
      {lorenz + "--dimension 12", "--dimension"},
      {lorenz + "--train 8 --model poly:2", "equation 1 has 10 coefficients but only 6 rows"},
      {lorenz + "--train 5000", "from 2 to the 4000 vectors of the series, not 5000"},
      {lorenz + "--model poly:2 --model poly:2", "not 2"},
      {lorenz + "--model cubic:3", "unknown model family \"cubic\""},
      {lorenz + "--model reduced:1:1", "the reduced polynomial needs two variables"},
      {lorenz + "--threshold -1", "--threshold"},
      {"fit " + Quoted(kLorenz) + " --dimension 3 --dt -0.01", "--dt must be a positive number"},
  };
  for (const auto& [args, message] : cases) {
    const ProgramRun run = Odefit(folder.path(), args + " --output m.json");
    EXPECT_EQ(run.status, 1) << args;
    EXPECT_TRUE(Contains(run.err, message)) << args << "\n" << run.err;
    EXPECT_FALSE(fs::exists(folder.path() / "m.json")) << args;
  }
}

TEST(CliNumbers, EveryOptionTakesDecimalNumbersOnly) {
  // A leading zero would be octal to CLI11 (--points 010 was 8, 09 refused
  // as out of range), 0x10 hexadecimal: every option refuses both alike.
  ScratchFolder folder("cli-numbers");
  FitLorenz(folder.path());
  const std::string lorenz = Quoted(kLorenz) + " --dimension 3";
  const std::string leading = "write whole numbers without leading zeros";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"fit " + lorenz + " --dt 0.01 --points 010", "--points: \"010\": " + leading},
      {"fit " + lorenz + " --dt 0.01 --points 09", "--points: \"09\": " + leading},
      {"fit " + lorenz + " --dt 0.01 --train 0100", "--train: \"0100\": " + leading},
      {"fit " + lorenz + " --dt 0.01 --points 0x3", "--points: \"0x3\" is not a whole number in decimal digits"},
      {"fit " + lorenz + " --dt 0x10", "--dt: \"0x10\" is not a number in decimal notation"},
      {"fit " + lorenz + " --dt inf", "--dt: \"inf\" is not a number in decimal notation"},
      {"fit " + lorenz + " --dt 1e400", "--dt: \"1e400\" is beyond the range of double precision"},
      {"fit " + lorenz + " --dt 1e308", "the sampling interval is too large"},
      {"simulate m.json --from 1,1,20 --steps 010", "--steps: \"010\": " + leading},
      {"simulate m.json --from 1,1,20 --steps 3 --t0 0x1p4", "--t0: \"0x1p4\" is not a number in decimal notation"},
      {"test m.json " + lorenz + " --pieces 02", "--pieces: \"02\": " + leading},
      {"search " + lorenz + " --dt 0.01 --threads 0x2", "--threads: \"0x2\" is not a whole number"},
      {"search " + lorenz + " --dt 0.01 --points 3 05", "--points: \"05\": " + leading},
  };
  for (const auto& [args, message] : cases) {
    const ProgramRun run = Odefit(folder.path(), args);
    EXPECT_EQ(run.status, 1) << args;
    EXPECT_TRUE(Contains(run.err, message)) << args << "\n" << run.err;
  }
}

TEST(CliFit, ValuesOrAnIntervalBeyondDoublePrecisionAreANumericalFailure) {
  ScratchFolder folder("cli-fit-overflow");
  {
    std::ofstream big(folder.path() / "big.txt"), small(folder.path() / "small.txt");
    for (int k = 0; k < 200; ++k) {
      big << 1e200 * std::sin(0.1 * k) << " " << 1e200 * std::cos(0.13 * k) << "\n";
      small << std::sin(0.1 * k) << " " << std::cos(0.13 * k) << "\n";
    }
  }
  for (const char* args : {"fit big.txt --dt 0.1", "fit small.txt --dt 1e-320"}) {
    const ProgramRun run = Odefit(folder.path(), std::string(args) + " --model poly:2 --output m.json");
    EXPECT_EQ(run.status, 3) << args << run.err;
    EXPECT_TRUE(Contains(run.err, "the fit of equation 1 overflowed")) << args << run.err;
    EXPECT_FALSE(fs::exists(folder.path() / "m.json")) << args;
  }
}

TEST(CliFit, AThresholdDropsTheSmallTermsAndTheModelFileKeepsTheZeros) {
  ScratchFolder folder("cli-fit-sparse");
  const ProgramRun run = Odefit(folder.path(), kLorenzFit + " --threshold 0.5 --output m.json");
  ASSERT_EQ(run.status, 0) << run.err;
  // The Lorenz equations themselves are left: sigma (x2 - x1), x1 (rho - x3) - x2, x1 x2 - beta x3.
  EXPECT_TRUE(Contains(run.out, "\n  dx1/dt = -10.0221 x1 + 10.0221 x2\n")) << run.out;
  EXPECT_TRUE(Contains(run.out, "\n  dx2/dt = 28.0773 x1 - 1.01193 x2 - 1.0032 x1*x3\n")) << run.out;
  EXPECT_TRUE(Contains(run.out, "\n  x1^2                  0          dropped\n")) << run.out;
  const Json model = Json::parse(Text(folder.path() / "m.json"));
  const Json& first = model["equations"][0]["coefficients"];
  EXPECT_EQ(std::count_if(first.begin(), first.end(), [](const Json& c) { return c.get<double>() != 0.0; }), 2);
  const ProgramRun show = Odefit(folder.path(), "show m.json");
  EXPECT_EQ(show.out, run.out);
  EXPECT_EQ(Odefit(folder.path(), kLorenzFit + " --scaled").status, 1);  // --scaled needs a threshold
}

TEST(CliFit, ADoubtfulAnswerIsWarnedAboutOncePerDoubtAndStillWritten) {
  ScratchFolder folder("cli-fit-doubts");
  const std::string fit = "fit " + Quoted(kLorenz) + " --dimension 3 --dt 0.01 --train 3000 --output m.json ";
  const struct {
    const char* options;
    const char* warning;  // the start of every warning line
    int count;
  } cases[] = {
      {"--points 3", "", 0},
      {"--points 4", "odefit: warning: the differentiation windows have an even number of points (4)", 1},
      {"--points 3 --threshold 100", "odefit: warning: equation ", 3},  // every equation says 0
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    fs::remove(folder.path() / "m.json");
    const ProgramRun run = Odefit(folder.path(), fit + c.options);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::exists(folder.path() / "m.json"));
    int lines = 0;
    for (std::size_t at = run.err.find("odefit: warning: "); at != std::string::npos;
         at = run.err.find("odefit: warning: ", at + 1)) {
      EXPECT_EQ(run.err.compare(at, std::strlen(c.warning), c.warning), 0) << run.err;
      ++lines;
    }
    EXPECT_EQ(lines, c.count) << run.err;
  }
  EXPECT_TRUE(Contains(Odefit(folder.path(), fit + "--threshold 100").err,
                       "equation 2 (dx2/dt) keeps no term: it says dx2/dt = 0"));
}

TEST(CliFit, IntervalsAreAColumnOfEveryKeptTermAndTheModelFileKeepsThem) {
  ScratchFolder folder("cli-fit-intervals");
  const ProgramRun run = Odefit(folder.path(), kLorenzFit + " --threshold 0.5 --intervals --output m.json");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Contains(run.out, "  term        coefficient   standard error   95 % interval\n")) << run.out;
  EXPECT_TRUE(Contains(run.out, "  x1^2                  0          dropped\n")) << run.out;  // no interval
  // The seven Lorenz terms kept, each with its interval, and the true -10 inside the first.
  std::size_t brackets = 0;
  for (std::size_t at = run.out.find(" ["); at != std::string::npos; at = run.out.find(" [", at + 1)) ++brackets;
  EXPECT_EQ(brackets, 7u) << run.out;
  const std::size_t x1 = run.out.find("  x1         -10.02");
  ASSERT_NE(x1, std::string::npos) << run.out;
  const std::string row = run.out.substr(x1, run.out.find('\n', x1) - x1);
  const double lower = std::stod(row.substr(row.find('[') + 1)), upper = std::stod(row.substr(row.find(", ") + 2));
  EXPECT_LT(lower, -10.0) << row;
  EXPECT_GT(upper, -10.0) << row;
  EXPECT_EQ(Odefit(folder.path(), "show m.json").out, run.out);
}

TEST(CliFit, ASingularDesignIsANumericalFailure) {
  ScratchFolder folder("cli-fit-singular");
  const ProgramRun run = Odefit(folder.path(), "fit " + Quoted(kSingular) +
                                            " --dimension 2 --dt 0.1 --train 150 --model reduced:0:0 --model poly:1"
                                            " --output m.json");
  EXPECT_EQ(run.status, 3);
  EXPECT_TRUE(Contains(run.err, "odefit: numerical failure:\n")) << run.err;
  EXPECT_TRUE(Contains(run.err, "FATAL")) << run.err;
  EXPECT_EQ(Files(folder.path()), std::vector<std::string>{});
}

TEST(CliFit, FilesThatCannotBeReadOrWrittenAreFileErrorsAndKeepTheOldFile) {
  ScratchFolder folder("cli-fit-files");
  const ProgramRun missing = Odefit(folder.path(), "fit nothere.csv --dt 0.1");
  EXPECT_EQ(missing.status, 4);
  EXPECT_EQ(missing.err, "odefit: cannot open nothere.csv: No such file or directory\n");
  WriteText(folder.path() / "plain", "a file, not a folder");
  const ProgramRun notFolder = Odefit(folder.path(), kLorenzFit + " --output plain/m.json");
  EXPECT_EQ(notFolder.status, 4);
  EXPECT_TRUE(Contains(notFolder.err, "cannot write plain/m.json: Not a directory")) << notFolder.err;
  // A write that fails half-way (a file-size limit of 512 bytes) leaves the old file as it was.
  WriteText(folder.path() / "m.json", "old");
  const ProgramRun limited = Odefit(folder.path(), "--help > /dev/null; ulimit -f 1; " + Quoted(ODEFIT_BINARY) + " " +
                                                kLorenzFit + " --output m.json");
  EXPECT_EQ(limited.status, 4);
  EXPECT_TRUE(Contains(limited.err, "cannot write m.json: File too large")) << limited.err;
  EXPECT_EQ(Text(folder.path() / "m.json"), "old");
  EXPECT_EQ(Files(folder.path()), (std::vector<std::string>{"m.json", "plain"}));
}

TEST(CliOutput, DashIsStandardOutputFoldersAreFileErrorsAndTheParsersMessagesSayOdefit) {
  ScratchFolder folder("cli-output-details");
  // fit --output -: the model file alone on standard output, the equations on standard error.
  const ProgramRun fit = Odefit(folder.path(), kLorenzFit + " --output -");
  ASSERT_EQ(fit.status, 0) << fit.err;
  EXPECT_EQ(Json::parse(fit.out)["dimension"], 3);
  EXPECT_TRUE(Contains(fit.err, "dx1/dt = ")) << fit.err;
  FitLorenz(folder.path());
  const ProgramRun simulate = Odefit(folder.path(), "simulate m.json --from 1,1,20 --steps 3 --output -");
  ASSERT_EQ(simulate.status, 0) << simulate.err;
  EXPECT_EQ(std::count(simulate.out.begin(), simulate.out.end(), '\n'), 5) << simulate.out;
  const ProgramRun search =
      Odefit(folder.path(), "search " + Quoted(std::string(ODEFIT_EXAMPLES_DIR) + "/lorenz.csv") + " --dt 0.002 --output -");
  ASSERT_EQ(search.status, 0) << search.err;
  EXPECT_EQ(Json::parse(search.out)["format"], "odefit-search-1");
  EXPECT_TRUE(Contains(search.err, "Chosen: ")) << search.err;
  EXPECT_EQ(Files(folder.path()), (std::vector<std::string>{"m.json"}));

  fs::create_directory(folder.path() / "a-folder");
  struct Case {
    std::string args;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {"fit a-folder --dt 0.1", 4, "odefit: cannot read a-folder: it is a folder\n"},
      {"show a-folder", 4, "odefit: cannot read a-folder: it is a folder\n"},
      {"test m.json a-folder", 4, "odefit: cannot read a-folder: it is a folder\n"},
      {"fit --dt 0.1", 1, "odefit: SERIES is required\nRun with --help for more information.\n"},
      {"show m.json --bogus", 1, "odefit: The following argument was not expected: --bogus\n"},
  };
  for (const Case& c : cases) {
    const ProgramRun run = Odefit(folder.path(), c.args);
    EXPECT_EQ(run.status, c.status) << c.args;
    EXPECT_EQ(run.err.substr(0, c.message.size()), c.message) << c.args;
  }
}

TEST(CliFit, PlotsShowTheDifferentiationAndTheModelAgainstTheEstimates) {
  ScratchFolder folder("cli-fit-plots");
  const ProgramRun run = Odefit(folder.path(), kLorenzFit + " --plots plots/lorenz");
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* name : {"differentiation.png", "fit.png"}) {
    const auto picture = ReadPng((folder.path() / "plots/lorenz" / name).string());
    ASSERT_TRUE(picture) << name;
    const auto pixels = picture->Pixels();
    const bool red = std::find(pixels.begin(), pixels.end(), kBrightRed) != pixels.end();
    EXPECT_EQ(red, std::string(name) == "fit.png") << name;  // the model's right-hand sides in red
  }
  // The same pictures as SVG; --format alone is a usage error.
  const ProgramRun svg = Odefit(folder.path(), kLorenzFit + " --plots svg --format svg");
  ASSERT_EQ(svg.status, 0) << svg.err;
  EXPECT_EQ(Files(folder.path() / "svg"), (std::vector<std::string>{"differentiation.svg", "fit.svg"}));
  EXPECT_TRUE(Contains(Text(folder.path() / "svg/fit.svg"), ">dx3/dt</text>"));
  EXPECT_EQ(Odefit(folder.path(), kLorenzFit + " --format svg").status, 1);
  EXPECT_EQ(Odefit(folder.path(), kLorenzFit + " --plots p --format gif").status, 1);
}

// ---------------------------------------------------------------- show

TEST(CliShow, PrintsTheEquationsOrTheModelFile) {
  ScratchFolder folder("cli-show");
  FitLorenz(folder.path());
  const ProgramRun fit = Odefit(folder.path(), kLorenzFit);
  const ProgramRun show = Odefit(folder.path(), "show m.json");
  ASSERT_EQ(show.status, 0) << show.err;
  EXPECT_EQ(show.out, fit.out);  // what the fit printed, from the file
  const ProgramRun json = Odefit(folder.path(), "show m.json --json");
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out, Text(folder.path() / "m.json"));
}

TEST(CliShow, AFileOfAnotherFormatIsBadInputAndAMissingOneAFileError) {
  ScratchFolder folder("cli-show-bad");
  FitLorenz(folder.path());
  const std::string pixels = std::string(ODEFIT_FIXTURES_DIR) + "/lorenz/expected/differentiation.pixels.json";
  const ProgramRun other = Odefit(folder.path(), "show " + Quoted(pixels));
  EXPECT_EQ(other.status, 2);
  EXPECT_TRUE(Contains(other.err, "is not an odefit model file (its \"format\" is \"pixels-1\"")) << other.err;
  const std::string text = Text(folder.path() / "m.json");
  WriteText(folder.path() / "cut.json", text.substr(0, text.size() / 2));
  const ProgramRun cut = Odefit(folder.path(), "show cut.json");
  EXPECT_EQ(cut.status, 2);
  EXPECT_TRUE(Contains(cut.err, "odefit: cut.json:")) << cut.err;
  EXPECT_TRUE(Contains(cut.err, "is not JSON")) << cut.err;
  EXPECT_EQ(Odefit(folder.path(), "show nothere.json").status, 4);
  EXPECT_EQ(Odefit(folder.path(), "show").status, 1);
}

// ---------------------------------------------------------------- simulate

std::vector<double> CsvNumbers(const std::string& line) {
  std::vector<double> values;
  for (std::size_t begin = 0; begin <= line.size();) {
    const std::size_t end = std::min(line.find(',', begin), line.size());
    double v = 0.0;
    std::from_chars(line.data() + begin, line.data() + end, v);
    values.push_back(v);
    begin = end + 1;
  }
  return values;
}

TEST(CliSimulate, WritesTimeAndStateOfEveryIntervalAsTheLibraryIntegrates) {
  ScratchFolder folder("cli-simulate");
  FitLorenz(folder.path());
  const ProgramRun run = Odefit(folder.path(), "simulate m.json --from=-1,1,20 --steps 10");
  ASSERT_EQ(run.status, 0) << run.err;
  const Model model = ModelFromJson(Text(folder.path() / "m.json"));
  const std::vector<double> path = Simulate(model, std::vector<double>{-1.0, 1.0, 20.0}, 10);
  std::istringstream lines(run.out);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "t,x1,x2,x3");
  for (std::size_t j = 0; j <= 10; ++j) {
    ASSERT_TRUE(std::getline(lines, line)) << j;
    const std::vector<double> row = CsvNumbers(line);
    ASSERT_EQ(row.size(), 4u) << line;
    EXPECT_EQ(row[0], j * 0.01) << line;
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(row[i + 1], path[j * 3 + i]) << line;  // to the bit
  }
  EXPECT_FALSE(std::getline(lines, line));
  const ProgramRun file = Odefit(folder.path(), "simulate m.json --from -1,1,20 --steps 10 --output traj.csv");
  ASSERT_EQ(file.status, 0) << file.err;
  EXPECT_EQ(file.out, "");
  EXPECT_EQ(Text(folder.path() / "traj.csv"), run.out);
}

TEST(CliSimulate, EveryMethodRunsAndAnEscapingSolutionIsMarked) {
  ScratchFolder folder("cli-simulate-methods");
  FitLorenz(folder.path());
  for (const char* method : {"euler", "rk4", "rk56", "rkv"}) {
    const ProgramRun run = Odefit(folder.path(), std::string("simulate m.json --from 1,1,20 --steps 3 --step 0.001 --method ") +
                                              method);
    EXPECT_EQ(run.status, 0) << method << run.err;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 5) << method;
  }
  const ProgramRun escaping = Odefit(folder.path(), "simulate m.json --from 3e5,3e5,3e5 --steps 20");
  EXPECT_EQ(escaping.status, 0) << escaping.err;
  EXPECT_TRUE(Contains(escaping.out, ",nan,nan,nan\n")) << escaping.out;
  EXPECT_TRUE(Contains(escaping.err, "warning: the solution left the bounds")) << escaping.err;
}

TEST(CliSimulate, TimesThatAStepCannotAdvanceAreAUsageErrorNotAHang) {
  ScratchFolder folder("cli-simulate-times");
  FitLorenz(folder.path());
  // The same model with a sampling interval whose times overflow.
  std::string text = Text(folder.path() / "m.json");
  const std::size_t at = text.find("\"dt\": 0.01");
  ASSERT_NE(at, std::string::npos);
  text.replace(at, 10, "\"dt\": 1e308");
  std::ofstream(folder.path() / "huge-dt.json") << text;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"m.json --t0 2e14", "cannot advance the time 2e+14"},
      {"m.json --t0 1e15", "cannot advance the time 1e+15"},
      {"m.json --t0 1e300", "cannot advance the time 1e+300"},
      {"m.json --t0 -1e300", "cannot advance the time -1e+300"},
      {"huge-dt.json", "the time would overflow"},
  };
  for (const auto& [args, message] : cases) {
    for (const char* method : {"euler", "rk4", "rk56"}) {
      const ProgramRun run =
          Odefit(folder.path(), "simulate " + args + " --from 1,1,20 --steps 3 --method " + method);
      EXPECT_EQ(run.status, 1) << args << " " << method;
      EXPECT_TRUE(Contains(run.err, message)) << args << "\n" << run.err;
    }
  }
  const ProgramRun test = Odefit(folder.path(), "test huge-dt.json " + Quoted(kLorenz) + " --dimension 3 --pieces 2 --length 10");
  EXPECT_EQ(test.status, 1) << test.err;
  EXPECT_TRUE(Contains(test.err, "the time would overflow")) << test.err;
}

TEST(CliSimulate, AStateOfTheWrongSizeOrAnUnknownMethodIsAUsageError) {
  ScratchFolder folder("cli-simulate-usage");
  FitLorenz(folder.path());
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"--from 1,2 --steps 3", "--from gives 2 values for a model of 3 variables"},
      {"--from 1,x,3 --steps 3", "--from: \"x\" is not a finite number"},
      {"--from 1,2,3 --steps -3", "--steps"},
      {"--from 1,2,3", "--steps is required"},
      {"--from 1,2,3 --steps 3 --method heun", "unknown integration method \"heun\" (euler, rk4 or rk56"},
  };
  for (const auto& [args, message] : cases) {
    const ProgramRun run = Odefit(folder.path(), "simulate m.json " + args);
    EXPECT_EQ(run.status, 1) << args;
    EXPECT_TRUE(Contains(run.err, message)) << args << "\n" << run.err;
    EXPECT_EQ(run.out, "") << args;
  }
}

// ---------------------------------------------------------------- test

TEST(CliTest, TheHeldOutVectorsGiveTheDialoguesPredictionTimes) {
  ScratchFolder folder("cli-test");
  FitLorenz(folder.path());
  const ProgramRun run = Odefit(folder.path(), "test m.json " + Quoted(kLorenz) +
                                            " --dimension 3 --pieces 4 --length 200 --shift 200 --plots plots");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Contains(run.out, "Test on vectors 3001 to 4000 of ")) << run.out;
  EXPECT_TRUE(Contains(run.out, "  dx1/dt       0.13623 %\n  dx2/dt       0.15132 %\n  dx3/dt       0.10050 %\n"))
      << run.out;
  EXPECT_TRUE(Contains(run.out, "  x1     189 intervals        1.89 time units\n"
                                "  x2      69 intervals        0.69 time units\n"
                                "  x3      60 intervals         0.6 time units\n"))
      << run.out;
  EXPECT_TRUE(Contains(run.out, "Infinite solutions: 0 of 4 pieces\n")) << run.out;
  const auto picture = ReadPng((folder.path() / "plots/model-efficiency.png").string());
  ASSERT_TRUE(picture);

  // The held-out vectors alone, as a table, with nothing to skip.
  WriteCsv(folder.path() / "held-out.csv", ReadClassicSeries(kLorenz, 3), 3000);
  const ProgramRun alone = Odefit(folder.path(), "test m.json held-out.csv --skip 0 --pieces 4 --length 200 --shift 200");
  ASSERT_EQ(alone.status, 0) << alone.err;
  EXPECT_EQ(alone.out.substr(alone.out.find('\n')), run.out.substr(run.out.find('\n')));
}

TEST(CliTest, TooFewVectorsForTheSettingsAreAUsageError) {
  ScratchFolder folder("cli-test-usage");
  FitLorenz(folder.path());
  const std::string lorenz = "test m.json " + Quoted(kLorenz) + " --dimension 3 ";
  const ProgramRun longer = Odefit(folder.path(), lorenz + "--length 2000");
  EXPECT_EQ(longer.status, 1);
  EXPECT_TRUE(Contains(longer.err, "the test needs 2403 vectors")) << longer.err;
  const ProgramRun skipped = Odefit(folder.path(), lorenz + "--skip 4000");
  EXPECT_EQ(skipped.status, 1);
  EXPECT_TRUE(Contains(skipped.err, "has 4000 vectors, none after the 4000 skipped")) << skipped.err;
  const ProgramRun other = Odefit(folder.path(), "test m.json " + Quoted(kSingular) + " --dimension 2");
  EXPECT_EQ(other.status, 1);
  EXPECT_TRUE(Contains(other.err, "the test series has 2 components, the model 3")) << other.err;
  EXPECT_EQ(Odefit(folder.path(), lorenz + "--pieces 0").status, 1);
}

// ---------------------------------------------------------------- series as users have them

// Writes `text` of every vector of `series` from `first` to `last` (exclusive) as `format` makes its line.
void WriteLines(const fs::path& path, const std::string& header, const Series& series, std::size_t first,
                std::size_t last, const std::function<std::string(std::size_t, const double*)>& line) {
  std::string text = header;
  for (std::size_t n = first; n < last; ++n) text += line(n, &series.values[3 * n]);
  WriteText(path, text);
}

std::string Csv(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

TEST(CliSeries, RecordingsTimeColumnsAndTheUsualFileMistakes) {
  ScratchFolder folder("cli-series");
  const Series lorenz = Lorenz(0.002, 3000);
  const auto row = [](const std::string& sep) {
    return [sep](std::size_t, const double* x) { return Csv(x[0]) + sep + Csv(x[1]) + sep + Csv(x[2]) + "\n"; };
  };
  for (int k = 0; k < 3; ++k) {
    const std::string name = std::string(1, 'r').append(1, static_cast<char>('1' + k)).append(".csv");
    WriteLines(folder.path() / name, "x,y,z\n", lorenz, 1000 * k, 1000 * k + 1000,
               row(","));
  }
  // Every 25th vector missing, the others stamped with their times.
  WriteLines(folder.path() / "holes.csv", "t,x,y,z\n", lorenz, 0, 2000, [](std::size_t n, const double* x) {
    return n % 25 == 24 ? std::string() : Csv(0.002 * n) + "," + Csv(x[0]) + "," + Csv(x[1]) + "," + Csv(x[2]) + "\n";
  });
  WriteLines(folder.path() / "pandas.csv", ",x,y,z\n", lorenz, 0, 1000, [](std::size_t n, const double* x) {
    return Csv(static_cast<double>(n)) + "," + Csv(x[0]) + "," + Csv(x[1]) + "," + Csv(x[2]) + "\n";
  });
  WriteLines(folder.path() / "savetxt.txt", "# x y z\n", lorenz, 0, 1000, row(" "));
  WriteLines(folder.path() / "semicolons.csv", "x;y;z\n", lorenz, 0, 1000, [](std::size_t, const double* x) {
    std::string line = Csv(x[0]) + ";" + Csv(x[1]) + ";" + Csv(x[2]) + "\n";
    std::replace(line.begin(), line.end(), '.', ',');
    return line;
  });
  WriteLines(folder.path() / "column.txt", "", lorenz, 0, 1000, [](std::size_t, const double* x) {
    return Csv(x[0]) + "\n" + Csv(x[1]) + "\n" + Csv(x[2]) + "\n";
  });
  struct Case {
    std::string args;
    int status;
    std::vector<std::string> out, err;  // parts expected
  };
  const std::string fit = "fit --threshold 0.5 ";
  const std::vector<Case> cases = {
      {fit + "r1.csv r2.csv r3.csv --dt 0.002 --output m.json", 0,
       {"fitted to 3000 vectors of 3 recordings", "  dx/dt = -10.00", "  dz/dt = -2.6667", " z + 1.0001"},
       {"odefit: note: 3000 vectors in 3 recordings into 3 pieces, dt 0.002\n"}},
      {fit + "holes.csv", 0, {"  dy/dt = 28.003", " y - 1.0001", " x*z\n"},
       {"holes.csv: took the column \"t\" as the time of every vector", "split by 79 gaps into 80 pieces, dt 0.002\n"}},
      {fit + "holes.csv --dt 0.01", 1, {}, {"odefit: dt 0.01 disagrees with the time stamps, 0.002 apart"}},
      {fit + "r1.csv", 1, {}, {"odefit: --dt is required when the series has no time column (--time)\n"}},
      {fit + "pandas.csv --dt 0.002", 0, {"  dx/dt = "}, {"pandas.csv: skipped the first column, an index 0, 1, 2"}},
      {fit + "savetxt.txt --dt 0.002", 0, {"  dx/dt = "}, {"took the comment on line 1 as the header: x, y, z"}},
      {fit + "semicolons.csv --dt 0.002", 2, {},
       {"semicolons.csv:1:2: the values are separated by \";\" with decimal commas: read it with the delimiter "
        "\";\" and the decimal mark \",\" (--delimiter ';' --decimal ',')\n"}},
      {fit + "semicolons.csv --dt 0.002 --delimiter ';' --decimal ,", 0, {"  dx/dt = "}, {}},
      {fit + "semicolons.csv --dt 0.002 --decimal ,", 1, {}, {"--decimal ',' needs another --delimiter"}},
      {fit + "column.txt --dt 0.002", 2, {},
       {"column.txt: has one column of 3000 values that read as 3 interleaved variables", "give --dimension 3\n"}},
      {fit + "r1.csv pandas.csv column.txt --dimension 3 --time t --dt 0.002", 1, {}, {"--dimension excludes --time"}},
      {"search r1.csv r2.csv r3.csv --dt 0.002 --threads 2", 0, {"Search on 3000 vectors of r1.csv, r2.csv, r3.csv", "Chosen: 7 terms"}, {}},
      {"simulate m.json --from 1,1,20 --steps 2", 0, {"t,x,y,z\n0,1,1,20\n"}, {}},
      {"test m.json r2.csv r3.csv --pieces 2 --length 100", 0,
       {"Test on vectors 1 to 1000 of r2.csv", "Test on vectors 1 to 1000 of r3.csv", "  dx/dt", "\n  z "}, {}},
      {"test m.json holes.csv --pieces 2 --length 100", 1, {}, {"the efficiency test needs evenly sampled recordings without gaps"}},
  };
  for (const Case& c : cases) {
    const ProgramRun run = Odefit(folder.path(), c.args);
    EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.err;
    for (const std::string& part : c.out) EXPECT_TRUE(Contains(run.out, part)) << c.args << " lacks " << part << ":\n" << run.out;
    for (const std::string& part : c.err) EXPECT_TRUE(Contains(run.err, part)) << c.args << " lacks " << part << ":\n" << run.err;
  }
  const Json model = Json::parse(Text(folder.path() / "m.json"));
  EXPECT_EQ(model["recordings"], 3);
  EXPECT_EQ(model["train"], 3000);
  EXPECT_EQ(model["equations"][1]["terms"][6], "x*z");
}

// ---------------------------------------------------------------- search

TEST(CliSearch, FindsTheLorenzEquationsWithDefaultsAndWritesAResultTheOtherCommandsRead) {
  ScratchFolder folder("cli-search");
  WriteCsv(folder.path() / "lorenz.csv", Lorenz(0.002, 1000));
  const ProgramRun run = Odefit(folder.path(), "search lorenz.csv --dt 0.002 --threads 2 --output r.json --plots p");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Contains(run.out, "rank  points  degree  threshold  terms")) << run.out;
  EXPECT_TRUE(Contains(run.out, "Chosen: 7 terms")) << run.out;
  EXPECT_TRUE(Contains(run.out, "  dx/dt = -10 x + 10 y\n")) << run.out;  // the header's names
  EXPECT_TRUE(Contains(run.out, "  dz/dt = -2.66667 z + 1 x*y\n")) << run.out;
  // Every kept term says how often resampled series keep it, and its interval.
  EXPECT_TRUE(Contains(run.out, "standard error   kept   95 % interval\n")) << run.out;
  EXPECT_FALSE(Contains(run.err, "warning")) << run.err;
  const Json result = Json::parse(Text(folder.path() / "r.json"));
  EXPECT_EQ(result["inclusion"][2][3], 1.0);
  EXPECT_TRUE(result["inclusion"][2][0].is_null());
  EXPECT_EQ(result["doubts"], Json::array());
  EXPECT_EQ(result["format"], "odefit-search-1");
  EXPECT_EQ(result["candidates"][0]["terms"][1], Json({"x", "y", "x*z"}));
  EXPECT_TRUE(result["complete"].get<bool>());
  EXPECT_TRUE(fs::exists(folder.path() / "p" / "search.png"));
  // The result is a model file to show, simulate and test.
  const ProgramRun show = Odefit(folder.path(), "show r.json");
  ASSERT_EQ(show.status, 0) << show.err;
  EXPECT_TRUE(Contains(show.out, "dy/dt = 28 x - 1 y - 1 x*z")) << show.out;
  EXPECT_EQ(Odefit(folder.path(), "simulate r.json --from 1,1,20 --steps 10").status, 0);
}

TEST(CliSearch, TooShortASeriesOrBadOptionsAreUsageErrorsAndWriteNothing) {
  ScratchFolder folder("cli-search-bad");
  WriteCsv(folder.path() / "short.csv", Lorenz(0.002, 30));
  EXPECT_EQ(Odefit(folder.path(), "search short.csv --dt 0.002 --output r.json").status, 1);
  EXPECT_EQ(Odefit(folder.path(), "search short.csv --dt 0.002 --points 1").status, 1);
  EXPECT_EQ(Odefit(folder.path(), "search short.csv --dt -1").status, 1);
  EXPECT_EQ(Odefit(folder.path(), "search short.csv --dt 0.1 --model poly:x").status, 1);
  EXPECT_EQ(Odefit(folder.path(), "search missing.csv --dt 0.1").status, 4);
  WriteCsv(folder.path() / "lorenz.csv", Lorenz(0.002, 1000));
  const ProgramRun hurried = Odefit(folder.path(), "search lorenz.csv --dt 0.002 --time-limit 0.000000001 --output r.json");
  EXPECT_EQ(hurried.status, 5);
  EXPECT_TRUE(Contains(hurried.err, "passed before any candidate was scored")) << hurried.err;
  EXPECT_EQ(Files(folder.path()), (std::vector<std::string>{"lorenz.csv", "short.csv"}));
}

// Doubts about the answer are warnings, one line each; the answer is still printed and written.
TEST(CliSearch, NoiseIsWarnedAboutAndStillAnswered) {
  ScratchFolder folder("cli-search-noise");
  Series noise;
  noise.dimension = 3;
  std::mt19937_64 random(5);
  std::normal_distribution<double> normal;
  for (int k = 0; k < 3000; ++k) noise.values.push_back(normal(random));
  WriteCsv(folder.path() / "noise.csv", noise);
  const ProgramRun run = Odefit(folder.path(), "search noise.csv --dt 0.01 --points 5 9 --degrees 2 --output r.json");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Contains(run.err, "odefit: warning: no candidate predicts the held-out data clearly better")) << run.err;
  EXPECT_TRUE(Contains(run.out, "Chosen: ")) << run.out;
  EXPECT_EQ(Json::parse(Text(folder.path() / "r.json"))["doubts"].size(), std::count(run.err.begin(), run.err.end(), '\n'));
}

// ---------------------------------------------------------------- faults

// Every file the subcommands write goes through the whole-or-nothing write:
// under a file-size limit (a full disk fails the same way) each ends with
// status 4 and the old file as it was, and leaves nothing else.
TEST(CliFaults, AFileSizeLimitFailsEveryWriterAndKeepsTheOldFile) {
  ScratchFolder folder("cli-file-size");
  FitLorenz(folder.path());
  WriteCsv(folder.path() / "lorenz.csv", Lorenz(0.002, 1000));
  fs::create_directories(folder.path() / "p");
  const std::string lorenz = Quoted(kLorenz) + " --dimension 3";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"simulate m.json --from 1,1,20 --steps 200 --output out.csv", "out.csv"},
      {kLorenzFit + " --plots p", "p/differentiation.png"},
      {"test m.json " + lorenz + " --pieces 4 --length 200 --shift 200 --plots p", "p/model-efficiency.png"},
      {"search lorenz.csv --dt 0.002 --output r.json", "r.json"},
      {"search lorenz.csv --dt 0.002 --plots p", "p/search.png"},
  };
  for (const auto& [args, target] : cases) {
    WriteText(folder.path() / target, "old");
    // ulimit -f counts blocks of 1024 bytes; every one of these files is larger.
    const ProgramRun run =
        Odefit(folder.path(), "--help > /dev/null; ulimit -f 1; " + Quoted(ODEFIT_BINARY) + " " + args);
    EXPECT_EQ(run.status, 4) << args << "\n" << run.err;
    EXPECT_TRUE(Contains(run.err, "odefit: cannot write " + target + ": File too large")) << args << "\n" << run.err;
    EXPECT_EQ(Text(folder.path() / target), "old") << args;
    fs::remove(folder.path() / target);
  }
  EXPECT_EQ(Files(folder.path()), (std::vector<std::string>{"lorenz.csv", "m.json", "p"}));
  EXPECT_EQ(Files(folder.path() / "p"), std::vector<std::string>{});
}

struct Interrupted {
  int status = -1;
  std::string err;  // standard error as the terminal received it, carriage returns removed
};

// Starts `odefit ARGS` in `folder` with standard error on a pseudo-terminal,
// so that the progress line shows, and standard output into out.txt; sends
// `signal` once standard error has shown `marker` (or after two minutes).
// Sends `signal` once any of `markers` has been shown on the terminal.
Interrupted InterruptWhenShown(const fs::path& folder, const std::vector<std::string>& args,
                               const std::vector<std::string>& markers, int signal) {
  Interrupted run;
  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return run;
  std::vector<std::string> words = {ODEFIT_BINARY};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    close(master);
    dup2(slave, STDERR_FILENO);
    if (chdir(folder.c_str()) != 0) _exit(99);
    const int out = open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, STDOUT_FILENO);
    execv(argv[0], argv.data());
    _exit(98);
  }
  close(slave);
  std::string text;
  bool signalled = false;
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    const auto shown = [&](const std::string& marker) { return text.find(marker) != std::string::npos; };
    if (!signalled && (std::any_of(markers.begin(), markers.end(), shown) ||
                       std::chrono::steady_clock::now() - start > std::chrono::minutes(2))) {
      kill(pid, signal);
      signalled = true;
    }
    pollfd ready{master, POLLIN, 0};
    if (poll(&ready, 1, 100) <= 0) continue;
    char block[4096];
    const ssize_t n = read(master, block, sizeof block);
    if (n <= 0) break;  // EIO once the program has ended and closed the terminal
    text.append(block, static_cast<std::size_t>(n));
  }
  close(master);
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  run.err = text;
  return run;
}

TEST(CliFaults, AnInterruptedSearchWritesTheBestSoFarWholeOrNothingAndEndsWithTheSignalsStatus) {
  ScratchFolder folder("cli-search-interrupted");
  const auto write = [&](const char* name, int vectors) {
    const Series lorenz = Lorenz(0.002, vectors);
    std::string csv = "x,y,z\n";
    for (std::size_t k = 0; k < lorenz.values.size(); ++k) {
      char value[32];
      std::snprintf(value, sizeof value, k % 3 == 2 ? "%.9g\n" : "%.9g,", lorenz.values[k]);
      csv += value;
    }
    WriteText(folder.path() / name, csv);
  };
  const auto with = [&](const char* file, std::vector<std::string> more) {
    const std::vector<std::string> search = {"search", file, "--dt", "0.002", "--threads", "1", "--output", "r.json"};
    more.insert(more.begin(), search.begin(), search.end());
    return more;
  };

  // Terminated before the only window is done (while the search is planned
  // or the window searched; long enough that the first candidate takes over
  // the progress line's second on one thread): nothing to write.
  write("huge.csv", 1200000);
  const Interrupted early =
      InterruptWhenShown(folder.path(), with("huge.csv", {"--points", "3", "--degrees", "1"}), {"odefit: searching ("}, SIGTERM);
  EXPECT_EQ(early.status, 143) << early.err;
  EXPECT_TRUE(Contains(early.err, "odefit: interrupted by SIGTERM before any candidate was scored: nothing written\n"))
      << early.err;
  EXPECT_EQ(Files(folder.path()), (std::vector<std::string>{"huge.csv", "out.txt"}));
  EXPECT_EQ(Text(folder.path() / "out.txt"), "");
  std::filesystem::remove(folder.path() / "huge.csv");

  // Interrupted as soon as the progress line counts a done task (the widest
  // windows come first, one task each; the first count may be any of the
  // first few of ten), well before the narrowest: the best so far, printed
  // and written whole.
  std::vector<std::string> someDone;
  for (int done = 1; done < 8; ++done) someDone.push_back("searching: " + std::to_string(done) + " of 10 tasks done");
  write("big.csv", 400000);
  const Interrupted later = InterruptWhenShown(
      folder.path(),
      with("big.csv", {"--points", "3", "5", "7", "9", "11", "13", "15", "17", "19", "21", "--degrees", "1", "2", "3", "4",
            "--plots", "p"}),
      someDone, SIGINT);
  EXPECT_EQ(later.status, 130) << later.err;
  EXPECT_TRUE(Contains(later.err, "odefit: interrupted by SIGINT: the search stopped early; the result (the best of the "))
      << later.err;
  EXPECT_TRUE(Contains(later.err, "candidates scored so far) was printed and written to r.json and p/search.png\n"))
      << later.err;
  const Json result = Json::parse(Text(folder.path() / "r.json"));  // whole: it parses
  EXPECT_FALSE(result["complete"].get<bool>());
  ASSERT_FALSE(result["candidates"].empty());
  bool widest = false, narrowest = false;
  for (const Json& candidate : result["candidates"]) {
    widest = widest || candidate["points"] == 21;
    narrowest = narrowest || candidate["points"] == 3;
  }
  EXPECT_TRUE(widest);
  EXPECT_FALSE(narrowest);  // the last window never started
  EXPECT_TRUE(Contains(Text(folder.path() / "out.txt"), "\nChosen: "));
  EXPECT_TRUE(ReadPng((folder.path() / "p" / "search.png").string()));
  EXPECT_EQ(Files(folder.path()), (std::vector<std::string>{"big.csv", "out.txt", "p", "r.json"}));
}

// ---------------------------------------------------------------- help

TEST(CliHelp, TheProgramAndEverySubcommandExplainThemselves) {
  ScratchFolder folder("cli-help");
  const ProgramRun help = Odefit(folder.path(), "--help");
  EXPECT_EQ(help.status, 0);
  for (const char* part : {"odefit fit SERIES... [--dt DT]", "odefit search SERIES... [--dt DT]", "odefit show MODEL.json", "odefit simulate MODEL.json",
                           "odefit test MODEL.json SERIES", "Files written:", "Exit status: 0 success; 1 usage error"}) {
    EXPECT_TRUE(Contains(help.out, part)) << part;
  }
  for (const char* command : {"fit", "search", "show", "simulate", "test"}) {
    const ProgramRun run = Odefit(folder.path(), std::string(command) + " --help");
    EXPECT_EQ(run.status, 0) << command;
    EXPECT_TRUE(Contains(run.out, std::string("Usage: odefit ") + command)) << run.out;
    EXPECT_TRUE(Contains(run.out, "Exit status: 0 success")) << run.out;
  }
  EXPECT_EQ(Odefit(folder.path(), "fit").status, 1);
  EXPECT_EQ(Files(folder.path()), std::vector<std::string>{});
}

}  // namespace
}  // namespace odefit::testing
