#pragma once
// The input window's text, kept apart from its widget: the transcript of the
// whole session and the line the user is typing, with its history. Text is
// held as code points (one per character cell); the dialogue speaks UTF-8.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace odefit {

// Decodes UTF-8; a byte that starts no valid sequence becomes one code point of its own value.
std::u32string DecodeUtf8(std::string_view text);
std::string EncodeUtf8(std::u32string_view text);

// Everything written to the input window, by rows. Appending never rewrites
// a finished row, so a view may keep what it drew above the last row.
class ConsoleTranscript {
 public:
  // Appends UTF-8 text; "\n" ends the row, "\f" clears the screen (see
  // ClearRow), "\r" and other control characters are dropped, a tab advances
  // to the next multiple of 8. A sequence split between two calls is joined.
  void Append(std::string_view utf8);

  // The rows; the last is the one still being written (possibly empty).
  const std::vector<std::u32string>& Rows() const { return rows_; }
  // Returns the whole transcript as UTF-8, rows joined by "\n".
  std::string Text() const;
  // The first row of the screen after the last clear: a clear keeps the
  // rows above for scrolling back and starts the screen on a fresh row.
  int ClearRow() const { return clearRow_; }
  // How many clears there were.
  std::size_t Clears() const { return clears_; }

 private:
  std::vector<std::u32string> rows_{std::u32string()};
  int clearRow_ = 0;
  std::size_t clears_ = 0;
  std::string partial_;  // an incomplete UTF-8 sequence at the end of the last append
};

// The line being typed: insertion at a cursor, deletion, and a history of
// the lines entered, browsed with Up and Down as in a shell.
class LineEditor {
 public:
  const std::u32string& Text() const { return text_; }
  std::size_t Cursor() const { return cursor_; }

  // Inserts printable text at the cursor; a line end in it enters the line
  // typed so far. Returns the lines entered (in order).
  std::vector<std::u32string> Type(std::u32string_view text);
  // Returns the line, remembers it in the history (unless empty or equal to
  // the newest entry) and starts an empty one.
  std::u32string Enter();

  void Left();
  void Right();
  void Home();
  void End();
  // Deletes the character before the cursor / under it.
  void Backspace();
  void Delete();
  // Deletes from the start of the line to the cursor / from the cursor to the end.
  void DeleteToStart();
  void DeleteToEnd();
  // Shows the previous / next history entry; past the newest, the line that
  // was being typed when browsing began comes back.
  void HistoryUp();
  void HistoryDown();

  const std::vector<std::u32string>& History() const { return history_; }

 private:
  std::u32string text_;
  std::size_t cursor_ = 0;
  std::vector<std::u32string> history_;
  std::size_t browsing_ = 0;  // index into history_; history_.size() when not browsing
  std::u32string draft_;      // the line typed before browsing began
};

}  // namespace odefit
