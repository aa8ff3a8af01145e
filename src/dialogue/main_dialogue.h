#pragma once
// The main dialogue: the numbered questions, the five nested loops (series,
// training length, differentiation, model, test) and the arrays they own.

#include <functional>

#include "dialogue/console.h"
#include "dialogue/report_file.h"
#include "graphics/graphics_layer.h"
#include "odefit/cancellation.h"
#include "odefit/model.h"

namespace odefit {

// How the dialogue may use the machine; the front end decides.
struct DialogueOptions {
  int threads = 1;  // threads for the efficiency test's pieces (0: one per hardware thread)
  // Polled by the fits and the efficiency test; cancelling ends the dialogue
  // with Cancelled (the report keeps what it holds).
  const CancellationToken* cancel = nullptr;
  // Called with every model the dialogue has fitted, after its report block.
  std::function<void(const Model&)> modelFitted;
};

enum class DialogueEnd {
  Finished,    // n to "13) Different time series?"
  Terminated,  // Yes in the File Open Error box
};

// Runs the whole dialogue. Throws InputEnded when the answers run out,
// RunStopped after a stopping numerical error, ReportError and
// SeriesFileError on file failures; what the report holds stays written.
// The plots are drawn through `layer`, which also holds the input window's
// placement and colours.
DialogueEnd RunMainDialogue(Console& console, FileDialogs& dialogs, GraphicsLayer& layer, ReportFile& report,
                            const DialogueOptions& options = {});

}  // namespace odefit
