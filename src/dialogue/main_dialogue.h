#pragma once
// The main dialogue: the numbered questions, the five nested loops (series,
// training length, differentiation, model, test) and the arrays they own.

#include "dialogue/console.h"
#include "dialogue/report_file.h"
#include "graphics/graphics_layer.h"

namespace odefit {

enum class DialogueEnd {
  Finished,    // n to "13) Different time series?"
  Terminated,  // Yes in the File Open Error box
};

// Runs the whole dialogue. Throws InputEnded when the answers run out,
// RunStopped after a stopping numerical error, ReportError and
// SeriesFileError on file failures; what the report holds stays written.
// The plots are drawn through `layer`, which also holds the input window's
// placement and colours.
DialogueEnd RunMainDialogue(Console& console, FileDialogs& dialogs, GraphicsLayer& layer, ReportFile& report);

}  // namespace odefit
