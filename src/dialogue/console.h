#pragma once
// The dialogue's view of the outside world: a text console that writes text
// without ending the line and reads one typed line at a time, and the
// file-choice dialogs. Front ends implement these; tests script them. The
// input window's placement and colours are kept by the graphics layer.

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace odefit {

// Thrown when the input ends while a question waits for its answer.
class InputEnded : public std::runtime_error {
 public:
  InputEnded() : std::runtime_error("the input ended while a question waited for an answer") {}
};

// The input window: text out, typed lines in.
class Console {
 public:
  virtual ~Console() = default;
  // Writes `text` as it stands; a line ends only where `text` holds "\n".
  virtual void Write(std::string_view text) = 0;
  // Returns the next typed line without its line end, or nullopt at the end of the input.
  virtual std::optional<std::string> ReadLine() = 0;
};

// Writes `text` followed by a line end.
inline void WriteLine(Console& console, std::string_view text) {
  console.Write(text);
  console.Write("\n");
}

// Writes a dialogue line: one blank, `text` and a line end.
inline void Say(Console& console, std::string_view text) {
  console.Write(" ");
  WriteLine(console, text);
}

// The file-open dialog and the message boxes of the series-file choice.
class FileDialogs {
 public:
  virtual ~FileDialogs() = default;
  // Asks for the series file; returns the chosen name, or an empty text when none was chosen.
  virtual std::string ChooseSeriesFile() = 0;
  // Shows the "File Open Error" box; returns true when the user answers Yes (end the program).
  virtual bool ConfirmTerminate() = 0;
  // Tells the user that `name` cannot be opened for `reason`.
  virtual void ReportOpenFailure(const std::string& name, const std::string& reason) = 0;
};

}  // namespace odefit
