// The command line's parts in process: command lines checked against given
// file contents (what the fuzz target drives), the progress line's thread,
// and SIGINT and SIGTERM deferred to a cancellation token.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/command_line.h"
#include "app/cli/exit_status.h"
#include "app/cli/inputs.h"
#include "app/cli/number_options.h"
#include "app/cli/output_file.h"
#include "app/cli/progress.h"
#include "odefit/cancellation.h"

namespace odefit::cli {
namespace {

// Hands out the given contents in the order the files are opened; a path
// without content cannot be opened.
class GivenFiles final : public InputFiles {
 public:
  explicit GivenFiles(std::vector<std::string> contents) : contents_(std::move(contents)) {}
  std::istream& Open(const std::string& path, bool) override {
    opened.push_back(path);
    if (streams_.size() >= contents_.size()) throw FileError("cannot open " + path + ": No such file or directory");
    streams_.emplace_back(contents_[streams_.size()]);
    return streams_.back();
  }
  std::vector<std::string> opened;

 private:
  std::vector<std::string> contents_;
  std::vector<std::istringstream> streams_;
};

struct Checked {
  int status = -1;
  std::string out;
  std::string err;
  std::vector<std::string> opened;
};

Checked Check(const std::vector<std::string>& args, std::vector<std::string> contents) {
  std::vector<const char*> argv = {"odefit"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  GivenFiles files(std::move(contents));
  std::ostringstream out, err;
  Checked checked;
  checked.status = CheckCommandLine(static_cast<int>(argv.size()), argv.data(), files, out, err);
  checked.out = out.str();
  checked.err = err.str();
  checked.opened = files.opened;
  return checked;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string Oscillation(int vectors) {
  std::string text = "x,y\n";
  char line[64];
  for (int k = 0; k < vectors; ++k) {
    std::snprintf(line, sizeof line, "%.6f,%.6f\n", std::sin(0.1 * k), std::cos(0.1 * k));
    text += line;
  }
  return text;
}

const std::string kModel =
    R"({"format": "odefit-model-1", "dimension": 2, "dt": 0.1, "points": 3, "train": 100, "variables": ["x1", "x2"],
 "equations": [{"family": "poly", "order": 1, "terms": ["1", "x1", "x2"], "coefficients": [0, 0, 1], "error": 0},
               {"family": "poly", "order": 1, "terms": ["1", "x1", "x2"], "coefficients": [0, -1, 0], "error": 0}]})";

// ---------------------------------------------------------------- checked command lines

TEST(CheckedCommandLine, SettingsThatCanWorkPassWithoutWorkOrFiles) {
  const std::string output = (std::filesystem::temp_directory_path() / "odefit-checked-never.json").string();
  const Checked fit = Check({"fit", "s.csv", "--dt", "0.1", "--model", "poly:3", "--output", output, "--plots", output},
                            {Oscillation(100)});
  EXPECT_EQ(fit.status, kSuccess) << fit.err;
  EXPECT_EQ(fit.out + fit.err, "");
  EXPECT_EQ(fit.opened, std::vector<std::string>{"s.csv"});
  EXPECT_FALSE(std::filesystem::exists(output));
  // Huge requests pass the checks: they are refused or run only by the work.
  EXPECT_EQ(Check({"simulate", "m.json", "--from", "1,2", "--steps", "2000000000"}, {kModel}).status, kSuccess);
  EXPECT_EQ(Check({"test", "m.json", "s.csv", "--skip", "0", "--pieces", "3", "--length", "20", "--shift", "10"},
                  {kModel, Oscillation(100)}).status,
            kSuccess);
  EXPECT_EQ(Check({"search", "s.csv", "--dt", "0.1", "--points", "3", "5"}, {Oscillation(200)}).status, kSuccess);
}

TEST(CheckedCommandLine, TheLibrarysSettingsChecksComeBeforeTheWork) {
  const Checked orders = Check({"fit", "s.csv", "--dt", "0.1", "--model", "poly:9"}, {Oscillation(30)});
  EXPECT_EQ(orders.status, kUsageError);
  EXPECT_TRUE(Contains(orders.err, "equation 1 has 55 coefficients but only 28 rows")) << orders.err;
  const Checked pieces = Check({"test", "m.json", "s.csv", "--skip", "0", "--pieces", "30"}, {kModel, Oscillation(100)});
  EXPECT_EQ(pieces.status, kUsageError);
  EXPECT_TRUE(Contains(pieces.err, "the test needs")) << pieces.err;
  const Checked step = Check({"simulate", "m.json", "--from", "1,2", "--steps", "5", "--step", "1e-9"}, {kModel});
  EXPECT_EQ(step.status, kUsageError);
  EXPECT_TRUE(Contains(step.err, "100000 steps per interval")) << step.err;
  const Checked window = Check({"search", "s.csv", "--dt", "0.1", "--points", "31"}, {Oscillation(200)});
  EXPECT_EQ(window.status, kUsageError);
  EXPECT_TRUE(Contains(window.err, "too wide")) << window.err;
  EXPECT_EQ(Check({"search", "s.csv", "--dt", "0.1", "--model", "reduced:1:1"}, {Oscillation(200)}).status, kSuccess);
  const Checked shape = Check({"search", "s.csv", "--dt", "0.1", "--model", "reduced:1:1"}, {"1 2 3\n"});
  EXPECT_EQ(shape.status, kUsageError);  // too short, before the shape
  EXPECT_TRUE(Contains(shape.err, "at least 50 vectors")) << shape.err;
  EXPECT_EQ(Check({"search", "s.csv", "--dt", "0.1", "--model", "poly:40"}, {Oscillation(200)}).status, kUsageError);
}

TEST(CheckedCommandLine, HostileInputsAreBadInputAndMissingFilesFileErrors) {
  const Checked order = Check({"show", "m.json"}, {R"({"format": "odefit-model-1", "dimension": 1, "dt": 1,
      "points": 0, "train": 0, "variables": ["x"], "equations": [{"family": "poly", "order": 1000000,
      "terms": [], "coefficients": [], "error": 0}]})"});
  EXPECT_EQ(order.status, kBadInput);
  EXPECT_TRUE(Contains(order.err, "\"order\" must be from 0 to 1000")) << order.err;
  EXPECT_EQ(Check({"simulate", "m.json", "--from", "1", "--steps", "3"}, {"[1, 2, 3]"}).status, kBadInput);
  EXPECT_EQ(Check({"fit", "s.csv", "--dt", "1"}, {"1,2\n3,nan\n"}).status, kBadInput);
  const Checked missing = Check({"test", "m.json", "s.csv"}, {kModel});
  EXPECT_EQ(missing.status, kFileError);
  EXPECT_EQ(missing.err, "odefit: cannot open s.csv: No such file or directory\n");
  // The model is read as a file even when named "-"; a series "-" is standard input.
  EXPECT_EQ(Check({"fit", "-", "--dt", "0.1"}, {Oscillation(50)}).status, kSuccess);
}

TEST(CheckedCommandLine, UsageErrorsAndHelpSayWhat) {
  const Checked help = Check({"search", "--help"}, {});
  EXPECT_EQ(help.status, kSuccess);
  EXPECT_TRUE(Contains(help.out, "Usage: odefit search")) << help.out;
  const Checked bogus = Check({"fit", "s.csv", "--dt", "0.1", "--bogus"}, {});
  EXPECT_EQ(bogus.status, kUsageError);
  EXPECT_TRUE(Contains(bogus.err, "--bogus")) << bogus.err;
  EXPECT_TRUE(bogus.opened.empty());
  EXPECT_EQ(Check({}, {}).status, kUsageError);
  EXPECT_EQ(Check({"fit", "s.csv", "--dt", "nan"}, {Oscillation(50)}).status, kUsageError);
  EXPECT_EQ(Check({"search", "s.csv", "--dt", "0.1", "--thresholds", "nan"}, {Oscillation(200)}).status, kUsageError);
  EXPECT_EQ(Check({"simulate", "m.json", "--from", "1,inf", "--steps", "3"}, {kModel}).status, kUsageError);
}

// ---------------------------------------------------------------- the progress line

// The text a Progress on a temporary file showed after `hold`, updated from this thread meanwhile.
std::string Shown(std::chrono::milliseconds hold) {
  std::FILE* file = std::tmpfile();
  {
    Progress progress("working", file);
    const auto end = std::chrono::steady_clock::now() + hold;
    for (int k = 0; std::chrono::steady_clock::now() < end; ++k) {
      progress.Update("working: step " + std::to_string(k % 3));
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text.push_back(static_cast<char>(c));
  std::fclose(file);
  return text;
}

TEST(ProgressLine, ShowsTheLatestTextEverySecondAndErasesItAtTheEnd) {
  const std::string text = Shown(std::chrono::milliseconds(1300));
  EXPECT_EQ(text.rfind("\rodefit: working: step ", 0), 0u) << text;
  EXPECT_TRUE(Contains(text, " (1 s)\033[K")) << text;
  EXPECT_TRUE(text.ends_with("\r\033[K")) << text;
  EXPECT_EQ(Shown(std::chrono::milliseconds(50)), "");  // quick work shows nothing
}

TEST(NumberOptions, DecimalDigitsOnly) {
  struct Case {
    const char* text;
    bool whole, real;
  };
  const Case cases[] = {
      {"0", true, true},      {"7", true, true},       {"-12", true, true},  {"+5", true, true},
      {"010", false, true},   {"-09", false, true},    {"0x10", false, false}, {"0X1p3", false, false},
      {" 5", false, false},   {"5 ", false, false},    {"", false, false},   {"-", false, false},
      {"5e0", false, true},   {"1.5", false, true},    {".5", false, true},  {"5.", false, true},
      {"1E-3", false, true},  {"1e", false, false},    {".", false, false},  {"inf", false, false},
      {"nan", false, false},  {"1e400", false, false}, {"-1e400", false, false}, {"1e-320", false, true},
      {"1_000", false, false}, {"1'000", false, false}, {"0b101", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WholeNumberProblem(c.text).empty(), c.whole) << c.text;
    EXPECT_EQ(RealNumberProblem(c.text).empty(), c.real) << c.text;
  }
}

TEST(ProgressLine, AThreadTheSystemRefusesOnlyCostsTheLine) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        // No thread can get a stack this large: std::thread throws.
        pthread_attr_t huge;
        pthread_attr_init(&huge);
        pthread_attr_setstacksize(&huge, std::size_t(1) << 60);
        pthread_setattr_default_np(&huge);
        std::FILE* sink = std::tmpfile();
        { const Progress progress("working", sink); }
        _exit(7);
      },
      ::testing::ExitedWithCode(7), "");
}

// ---------------------------------------------------------------- whole files

namespace whole {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace whole

TEST(WholeFiles, OnlyRegularFilesAreWrittenLinksFollowedModesKept) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::temp_directory_path() / ("odefit-whole-" + std::to_string(getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  const fs::path file = folder / "file.csv";
  struct Case {
    const char* what;
    std::function<fs::path()> make;  // sets up the path written to
    fs::path holder;                 // where the bytes must land ("" when refused)
    mode_t mode;                     // the mode the written file must have
  };
  const Case cases[] = {
      {"a 0600 file", [&] { std::ofstream(file) << "old"; fs::permissions(file, fs::perms(0600)); return file; },
       file, 0600},
      {"a symbolic link to a 0640 file",
       [&] {
         std::ofstream(file) << "old";
         fs::permissions(file, fs::perms(0640));
         fs::create_symlink("file.csv", folder / "link.csv");
         return folder / "link.csv";
       },
       file, 0640},
      {"a link to nothing yet", [&] { fs::create_symlink("new.csv", folder / "link.csv"); return folder / "link.csv"; },
       folder / "new.csv", 0},
      {"a FIFO", [&] { mkfifo((folder / "fifo").c_str(), 0600); return folder / "fifo"; }, "", 0},
      {"a folder", [&] { fs::create_directory(folder / "sub"); return folder / "sub"; }, "", 0},
      {"a device", [] { return fs::path("/dev/null"); }, "", 0},
  };
  for (const Case& c : cases) {
    const fs::path path = c.make();
    const auto before = whole::Names(folder);
    if (c.holder.empty()) {
      EXPECT_THROW(WriteWholeFile(path, "new\n"), FileError) << c.what;
      EXPECT_EQ(whole::Names(folder), before) << c.what;
    } else {
      WriteWholeFile(path, "new\n");
      EXPECT_EQ(whole::Read(c.holder), "new\n") << c.what;
      EXPECT_EQ(fs::is_symlink(path), path != c.holder) << c.what;
      if (c.mode != 0) {
        EXPECT_EQ(static_cast<mode_t>(fs::status(c.holder).permissions()), c.mode) << c.what;
      }
    }
    for (const auto& entry : fs::directory_iterator(folder)) fs::remove_all(entry.path());
  }
  fs::remove_all(folder);
}

TEST(WholeFiles, AWriterKilledMidwayLeavesNoTemporaryBehind) {
  namespace fs = std::filesystem;
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const fs::path folder = fs::temp_directory_path() / ("odefit-killed-" + std::to_string(getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  const fs::path file = folder / "out.csv";
  std::ofstream(file) << "old\n";
  // A stale temporary of a run that was killed where files cannot be unnamed.
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  std::ofstream(folder / (".out.csv.odefit-" + std::to_string(gone) + "-0.tmp")) << "half";
  // Past the file-size limit the system kills the writer (SIGXFSZ) in the middle of its write.
  const auto writePastTheLimit = [&] {
    const rlimit limit{1 << 16, 1 << 16};
    setrlimit(RLIMIT_FSIZE, &limit);
    WriteWholeFile(file, std::string(1 << 20, 'x'));
    _exit(0);
  };
  const auto before = whole::Names(folder);
  EXPECT_EXIT(writePastTheLimit(), ::testing::KilledBySignal(SIGXFSZ), "");
  EXPECT_EQ(whole::Read(file), "old\n");
  // Where the file system has unnamed files, the killed writer left nothing at all.
  const int probe = open(folder.c_str(), O_TMPFILE | O_WRONLY, 0600);
  if (probe >= 0) {
    close(probe);
    EXPECT_EQ(whole::Names(folder), before);
  }
  WriteWholeFile(file, "new\n");
  EXPECT_EQ(whole::Names(folder), std::vector<std::string>{"out.csv"});
  EXPECT_EQ(whole::Read(file), "new\n");
  fs::remove_all(folder);
}

// ---------------------------------------------------------------- interrupts

TEST(InterruptDeath, ADeferredSignalCancelsTheTokenAndASecondOneEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const auto deferredThenLater = [](int later) {
    InstallInterruptCleanup();
    CancellationToken token;
    {
      const DeferredInterrupt deferral(token);
      raise(SIGINT);
      if (!token.IsCancelled() || deferral.Received() != SIGINT) _exit(1);
    }
    raise(later);
    _exit(2);
  };
  EXPECT_EXIT(deferredThenLater(SIGTERM), ::testing::ExitedWithCode(143), "odefit: interrupted by SIGTERM: no file written");
  EXPECT_EXIT(
      {
        InstallInterruptCleanup();
        CancellationToken token;
        const DeferredInterrupt deferral(token);
        raise(SIGTERM);
        raise(SIGINT);  // the impatient second signal
        _exit(2);
      },
      ::testing::ExitedWithCode(130), "interrupted by SIGINT");
}

TEST(InterruptDeath, WithoutADeferralASignalEndsAtOnceAndSaysWhatWasWritten) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::filesystem::path file = std::filesystem::temp_directory_path() / ("odefit-written-" + std::to_string(getpid()));
  EXPECT_EXIT(
      {
        InstallInterruptCleanup();
        WriteWholeFile(file, "whole\n");
        raise(SIGINT);
        _exit(2);
      },
      ::testing::ExitedWithCode(130), "^odefit: interrupted by SIGINT\n$");
  std::filesystem::remove(file);
  EXPECT_EQ(SignalName(SIGTERM), "SIGTERM");
  EXPECT_EQ(SignalName(SIGHUP), "signal " + std::to_string(SIGHUP));
}

}  // namespace
}  // namespace odefit::cli
