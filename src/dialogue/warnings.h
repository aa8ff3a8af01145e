#pragma once
// What the dialogue tells the user besides its own lines: warnings about an
// answer or a series value that was read otherwise than it was most likely
// meant, about settings that quietly cost accuracy, and the reason why a
// series file is refused. Each is one line, "odefit: warning: ..." or
// "odefit: ...", on the stream of the numerical messages (the bound error reporter's output:
// standard error, and in the desktop also the Messages window), never in the
// input window or report.txt, whose texts do not change.

#include <cstdint>
#include <string>
#include <string_view>

#include <vector>

#include "dialogue/series_file.h"
#include "dialogue/settings.h"
#include "model/dependent_columns.h"

namespace odefit {

// Writes "odefit: warning: " and `text` as one line.
void Warn(std::string_view text);
// Writes "odefit: " and `text` as one line.
void Note(std::string_view text);

// Returns a number as the notes show it: the shortest text that reads back
// as `value` (or `significant` digits of it, when given), with a point
// ("12.0", "0.0025") and, for very small or large values, an exponent of at
// least two digits ("1.0E-10", "2.5E+20").
std::string NumberText(double value, int significant = 0);

// Returns a record or an answer for a note: control characters shown as
// '?', cut to 40 characters with "..." after; QuotedText puts it in double
// quotes.
std::string ShownText(std::string_view text);
std::string QuotedText(std::string_view text);

// Returns what a prompt asks for, as a note names it: "dt =" for a prompt
// that ends with "dt = ", otherwise the prompt without its number and blanks
// ("Period of driving (in dt units):").
std::string PromptLabel(std::string_view prompt);

// Warns about a real answer read with the edit descriptor Fw.d: typed without
// a decimal point (so it got d implied decimals) or with characters past its
// field (they were ignored). `value` is what was read.
void WarnAboutRealAnswer(std::string_view prompt, std::string_view answer, int w, int d, double value);

// Warns about an integer answer with characters past its field of w characters.
void WarnAboutIntegerAnswer(std::string_view prompt, std::string_view answer, int w, int value);

// Tells why the series file `name` was refused: its first unreadable value,
// or that it holds no numbers, or too few vectors of D values.
void NoteRefusedSeries(const std::string& name, const SeriesFindings& found, std::int64_t records, int D);

// Warns about values of the accepted series file `name` that were probably
// misread: without a decimal point, with characters past column 20, blank.
void WarnAboutSeriesValues(const std::string& name, const SeriesFindings& found);

// Warns that an even m pairs each smoothed state with a slope half a sample
// away, which biases the fitted coefficients.
void WarnAboutEvenM(const RunSettings& s);

// Warns when the integration step h does not cover the sampling intervals
// of the test in whole steps (methods 1 and 2): what the integrators do
// instead, found by following their own step loop over the test's intervals.
void WarnAboutStep(const RunSettings& s);

// Tells which terms (by their names, in coefficient order) made the fit of
// equation i singular, and that another family or order is needed.
void NoteSingularFit(int i, const std::vector<std::string>& names, const DependentColumns& found);

}  // namespace odefit
