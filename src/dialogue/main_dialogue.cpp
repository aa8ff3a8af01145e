#include "dialogue/main_dialogue.h"

#include <cstdint>
#include <string>
#include <vector>

#include "derivatives/differentiation_plot.h"
#include "dialogue/model_selection.h"
#include "dialogue/prompts.h"
#include "dialogue/series_file.h"
#include "dialogue/settings.h"
#include "dialogue/warnings.h"
#include "format/fixed_format.h"
#include "integration/efficiency_plot.h"
#include "integration/efficiency_test.h"
#include "integration/model_rhs.h"
#include "model/model_fit.h"
#include "odefit/model.h"

namespace odefit {
namespace {

using fixed::FormatF;
using fixed::FormatI;

constexpr int kBlack = 0;

// Releases a vector's storage (the arrays live only as long as their stage).
void Release(std::vector<double>& array) { std::vector<double>().swap(array); }

std::vector<double> Allocate(int rows, std::int64_t columns) {
  return std::vector<double>(static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns));
}

// The method's name as the settings display shows it (six characters).
std::string MethodName(int method) {
  switch (method) {
    case 1: return "Euler ";
    case 2: return "RK-4  ";
    default: return "RK-5,6";
  }
}

class MainDialogue {
 public:
  MainDialogue(Console& console, FileDialogs& dialogs, GraphicsLayer& layer, ReportFile& report,
               const DialogueOptions& options)
      : console_(console), dialogs_(dialogs), layer_(layer), report_(report), options_(options) {}

  DialogueEnd Run() {
    for (;;) {
      if (!SeriesStage()) return DialogueEnd::Terminated;
      do {
        TrainingStage();
      } while (Ask("12) Different length Ntrain? (y/n) ") == 'y');
      const char again = Ask("13) Different time series? (y/n) ");
      Report("!" + std::string(50, '*') + "!");
      report_.WriteLine("");
      report_.Close();
      series_.Close();
      if (again == 'n') return DialogueEnd::Finished;
    }
  }

 private:
  char Ask(std::string_view prompt) { return YesNoQuestion(console_, prompt); }
  // Every line of the console and the report is one blank and the text.
  void Say(std::string_view text) { odefit::Say(console_, text); }
  void Report(std::string_view text) { report_.Line(text); }
  void Incorrect() { WriteIncorrectInput(console_); }

  // Asks an integer until `valid` holds.
  template <typename Valid>
  int AskInteger(std::string_view format, std::string_view prompt, Valid valid) {
    for (;;) {
      int value = 0;
      PromptInteger(console_, format, prompt, value);
      if (valid(value)) return value;
      Incorrect();
    }
  }
  double AskPositiveReal(std::string_view prompt) {
    for (;;) {
      double value = 0.0;
      PromptReal(console_, "(F20.10)", prompt, value);
      if (value > 0.0) return value;
      Incorrect();
    }
  }

  // Chooses and opens the series file; false when the user ends the program.
  bool ChooseSeriesFile() {
    for (;;) {
      const std::string name = dialogs_.ChooseSeriesFile();
      if (name.empty()) {
        if (dialogs_.ConfirmTerminate()) return false;
        continue;
      }
      std::string reason;
      if (series_.Open(name, reason)) return true;
      dialogs_.ReportOpenFailure(name, reason);
    }
  }

  // Steps 1 to 5: the file, D and the count of vectors.
  bool SeriesStage() {
    for (;;) {
      if (!ChooseSeriesFile()) return false;
      PrepareConsoleWindow(layer_);
      s_.D = AskInteger("(I2)", "1) Dimension of vectors: D = ",
                        [](int D) { return D >= 1 && D <= kMaxDimension; });
      const std::optional<std::int64_t> records = series_.CountRecords();
      if (!records) {
        NoteRefusedSeries(series_.Path(), series_.Findings(), 0, s_.D);
        Incorrect();
        continue;
      }
      const std::int64_t vectors = *records / s_.D;
      if (vectors < 2) {
        NoteRefusedSeries(series_.Path(), series_.Findings(), *records, s_.D);
        continue;
      }
      WarnAboutSeriesValues(series_.Path(), series_.Findings());
      s_.N = vectors > INT32_MAX ? INT32_MAX : static_cast<int>(vectors);
      Say("   The time series contains " + FormatI(s_.N, 5) + " vectors");
      return true;
    }
  }

  // Steps 6 to 12 and the model loop of one training length.
  void TrainingStage() {
    s_.Ntrain = AskInteger("(I6)", "2) Length of a training series: Ntrain = ",
                           [&](int Ntrain) { return Ntrain >= 2 && Ntrain <= s_.N; });
    timeSeries_ = Allocate(s_.D, s_.Ntrain);
    series_.ReadTrainingSeries(s_.D, s_.Ntrain, timeSeries_);
    report_.Open();
    Report("Dimension of vectors D = " + FormatI(s_.D, 2));
    Report("The number of vectors in a training time series Ntrain = " + FormatI(s_.Ntrain, 6));
    s_.dt = AskPositiveReal("3) The value of sampling interval: dt = ");
    Report("Sampling interval dt = " + FormatF(s_.dt, 10, 5));
    s_.h = s_.dt;
    testDataLoaded_ = false;

    DifferentiationStage();
    do {
      ModelStage();
    } while (Ask("11) Different model? (y/n) ") == 'y');
    if (testDataLoaded_) ReleaseTestData();
    Release(trainSeries_);
    Release(trainDerivatives_);
  }

  // Steps 10 to 12.
  void DifferentiationStage() {
    for (;;) {
      s_.m = AskInteger("(I2)", "4) Number of points for differentiation: m = ",
                        [&](int m) { return m >= 2 && m <= s_.Ntrain; });
      WarnAboutEvenM(s_);
      trainSeries_ = Allocate(s_.D, Nfit(s_));
      trainDerivatives_ = Allocate(s_.D, Nfit(s_));
      DifferentiateAndPlot(layer_, timeSeries_, s_.D, s_.Ntrain, s_.m, s_.dt, trainSeries_, trainDerivatives_);
      layer_.DrawingComplete(DifferentiationWindow);
      if (Ask("5) Different number of points m? (y/n) ") == 'n') break;
      Release(trainSeries_);
      Release(trainDerivatives_);
    }
    Report("Number of points for differentiation m = " + FormatI(s_.m, 2));
    Release(timeSeries_);
  }

  // Steps 13, 14 and the test loop.
  void ModelStage() {
    settingsChanged_ = false;
    SelectModel(console_, report_, s_.D, s_.dt, Nfit(s_), trainSeries_, trainDerivatives_, model_, options_.cancel);
    model_.points = s_.m;
    model_.train = s_.Ntrain;
    if (options_.modelFitted) options_.modelFitted(model_);
    if (std::int64_t{s_.N} - s_.Ntrain <= s_.m) return;
    if (Ask("7) Check model efficiency? (y/n) ") == 'n') return;
    do {
      TestStage();
    } while (Ask("10) Check again? (y/n) ") == 'y');
  }

  // Steps 15 to 21.
  void TestStage() {
    Say("8) Current settings are:");
    Say("   Ltest = " + FormatI(s_.Ltest, 5) + ", Ktest = " + FormatI(s_.Ktest, 4) +
        ", Stest = " + FormatI(s_.Stest, 4) + ",");
    Say("   Method: " + MethodName(s_.method) + ", h = " + FormatF(s_.h, 6, 4));
    const bool change = !IsFeasible(s_) || Ask("   Change settings? (y/n) ") == 'y';
    if (change) ChangeSettings();

    if (settingsChanged_ || !testDataLoaded_) LoadTestData();

    const int ntest = static_cast<int>(Ntest(s_));
    DrawEfficiencyWindow(layer_, testSeries_, testDerivatives_, s_.D, ntest, s_.Ltest, s_.dt);
    const Model& model = model_;
    report_.WriteLine("");
    for (int i = 1; i <= s_.D; ++i) {
      const std::vector<double> targets = Row(testDerivatives_, i, ntest);
      double error = 0.0;
      ApproximationError(testSeries_, s_.D, ntest, s_.Ntrain + 1, targets, model.Equation(i), error);
      Report("Error of approximation of the " + FormatI(i, 1) +
                        " equation (test series): " + FormatF(100.0 * error, 10, 5) + " %");
      Say("Error of approximation (test) (" + FormatI(i, 1) + "): " + FormatF(100.0 * error, 10, 5) + " %");
    }
    PredictionRuns(ntest);
  }

  // Steps 22 to 25: the model orbit run, the prediction test and its results.
  void PredictionRuns(int ntest) {
    TestRunSettings run;
    run.D = s_.D;
    run.Ltest = s_.Ltest;
    run.Ktest = s_.Ktest;
    run.Stest = s_.Stest;
    run.method = s_.method;
    run.h = s_.h;
    run.dt = s_.dt;
    run.t0 = (s_.Ntrain + 1) * s_.dt;
    run.threads = options_.threads;
    run.cancel = options_.cancel;
    const ModelRightHandSide rhs(model_);
    const ModelFunction F = rhs;
    layer_.FocusWindow(EfficiencyWindow);
    ModelOrbitRun(testSeries_, testDerivatives_, ntest, run, F, [this](int x, int y) { layer_.SetPixel(x, y); });
    std::vector<int> predictionTime(static_cast<std::size_t>(s_.D));
    int infiniteCount = 0;
    EfficiencyTest(testSeries_, ntest, run, F, predictionError_, predictionTime, infiniteCount);
    DrawPredictionErrorCurves(layer_, predictionError_, s_.D, s_.Ltest);
    layer_.SetDrawColour(kBlack);
    layer_.DrawingComplete(EfficiencyWindow);

    Report("Length of a test piece: Ltest = " + FormatI(s_.Ltest, 5));
    Report("Number of test pieces: Ktest = " + FormatI(s_.Ktest, 4));
    Report("Shift between test pieces: Stest = " + FormatI(s_.Stest, 4));
    std::string method = MethodName(s_.method);
    method.resize(20, ' ');
    Report("Method of integration: " + method);
    Report("Step of integration: h = " + FormatF(s_.h, 9, 5));
    for (int i = 1; i <= s_.D; ++i) {
      const int time = predictionTime[static_cast<std::size_t>(i - 1)];
      Report("Prediction time for the " + FormatI(i, 1) + " variable is equal to " + FormatI(time, 5));
      Say("Prediction time (" + FormatI(i, 1) + "): " + FormatI(time, 5));
    }
    Report("Numbers of infinite solutions: " + FormatI(infiniteCount, 4));
    report_.WriteLine("");
    Say("Numbers of infinite solutions: " + FormatI(infiniteCount, 4));
  }

  std::vector<double> Row(const std::vector<double>& array, int i, int columns) const {
    std::vector<double> row(static_cast<std::size_t>(columns));
    const std::size_t d = static_cast<std::size_t>(s_.D);
    for (std::size_t n = 0; n < row.size(); ++n) row[n] = array[static_cast<std::size_t>(i - 1) + n * d];
    return row;
  }

  // Step 17: questions 9.
  void ChangeSettings() {
    s_.Ltest = AskInteger("(I6)", "9) The length of a test piece: Ltest = ",
                          [&](int Ltest) { return IsValidLtest(Ltest, s_); });
    s_.Ktest = AskInteger("(I6)", "    The number of test pieces: Ktest = ",
                          [&](int Ktest) { return IsValidKtest(Ktest, s_); });
    if (s_.Ktest < 2) {
      s_.Stest = 1;
    } else {
      s_.Stest = AskInteger("(I6)", "    Shift between test pieces: Stest = ",
                            [&](int Stest) { return IsValidStest(Stest, s_); });
    }
    Say("   Methods of integration:");
    Say("   1 - Euler method");
    Say("   2 - 4-th order Runge-Kutta routine");
    Say("   3 - 5-th and 6-th order Runge-Kutta");
    s_.method = AskInteger("(I1)", "    Select a method: ", [](int method) { return method >= 1 && method <= 3; });
    for (;;) {
      s_.h = AskPositiveReal("    Step of integration: h = ");
      if (IsValidStep(s_.h, s_)) break;
      Incorrect();
    }
    WarnAboutStep(s_);
    settingsChanged_ = true;
  }

  // Step 18.
  void LoadTestData() {
    if (testDataLoaded_ && settingsChanged_) ReleaseTestData();
    const std::int64_t ntest = Ntest(s_);
    const std::int64_t nraw = TestVectorsRead(s_);
    testSeries_ = Allocate(s_.D, ntest);
    testDerivatives_ = Allocate(s_.D, ntest);
    predictionError_ = Allocate(s_.D, s_.Ltest);
    std::vector<double> raw = Allocate(s_.D, nraw);
    series_.ReadTestSeries(s_.D, s_.Ntrain, static_cast<int>(nraw), s_.m, s_.dt, raw, testSeries_,
                           testDerivatives_);
    testDataLoaded_ = true;
    settingsChanged_ = false;
  }

  void ReleaseTestData() {
    Release(testSeries_);
    Release(testDerivatives_);
    Release(predictionError_);
    testDataLoaded_ = false;
  }

  Console& console_;
  FileDialogs& dialogs_;
  GraphicsLayer& layer_;
  ReportFile& report_;
  DialogueOptions options_;
  SeriesFile series_;
  RunSettings s_;
  Model model_;  // the model of the last selection, read by the tests
  bool testDataLoaded_ = false;
  bool settingsChanged_ = false;

  std::vector<double> timeSeries_;
  std::vector<double> trainSeries_, trainDerivatives_;
  std::vector<double> testSeries_, testDerivatives_, predictionError_;
};

}  // namespace

DialogueEnd RunMainDialogue(Console& console, FileDialogs& dialogs, GraphicsLayer& layer, ReportFile& report,
                            const DialogueOptions& options) {
  return MainDialogue(console, dialogs, layer, report, options).Run();
}

}  // namespace odefit
