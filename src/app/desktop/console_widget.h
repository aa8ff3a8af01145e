#pragma once
// The input window's widget: a text console of 8 x 16 pixel character cells
// that shows the session's transcript, the lines typed ahead (in grey) and
// the line being edited, and passes every entered line to the dialogue
// through the ConsoleChannel. GUI thread only.

#include <QAbstractScrollArea>
#include <QFont>

#include "app/desktop/console_channel.h"
#include "app/desktop/console_model.h"
#include "graphics/fonts.h"  // kCellWidth, kCellHeight

namespace odefit {

class ConsoleWidget : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit ConsoleWidget(ConsoleChannel& channel, QWidget* parent = nullptr);

  // Shows the channel's news (output, unread lines); returns whether it held
  // output or a new question, that is, whether the window should take the focus.
  bool TakeNews();
  // Sets the colours (palette indices; text 0..31 shows as its index modulo 16) and the cursor.
  void SetAppearance(int background, int textColour, bool cursorShown);

  // Types `text` as the keyboard would; each line end enters a line.
  void TypeText(const QString& text);
  // Types the clipboard's text.
  void Paste();
  void SelectAll();
  // Returns the selected text, rows joined by "\n" (empty when nothing is selected).
  QString SelectedText() const;
  // Returns the whole transcript (what the dialogue wrote and read).
  QString TranscriptText() const;
  const ConsoleTranscript& Transcript() const { return transcript_; }
  const LineEditor& Editor() const { return editor_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  bool focusNextPrevChild(bool next) override;

 private:
  struct CellPos {
    int row = 0;
    int col = 0;
    friend bool operator==(const CellPos&, const CellPos&) = default;
    friend auto operator<=>(const CellPos&, const CellPos&) = default;
  };
  // A row as shown: its characters and whether it is a typed-ahead line.
  struct ShownRow {
    std::u32string text;
    bool typedAhead = false;
  };

  // Rebuilds the shown rows from the transcript, the unread lines and the editor.
  void Rebuild();
  // Enters the edited line.
  void EnterLine();
  // Scrolls so that the cursor's cell is visible.
  void KeepCursorVisible();
  void UpdateScrollRanges();
  int VisibleRows() const { return viewport()->height() / kCellHeight; }
  int VisibleCols() const { return viewport()->width() / kCellWidth; }
  CellPos CellAt(const QPoint& point) const;
  void AfterEdit();

  ConsoleChannel& channel_;
  ConsoleTranscript transcript_;
  LineEditor editor_;
  std::vector<std::string> unread_;
  std::vector<ShownRow> shown_;
  CellPos cursor_;
  int clearRow_ = 0;  // the first row of the screen after the last clear
  std::size_t clearsSeen_ = 0;
  CellPos anchor_, head_;  // the selection, empty when equal
  int background_ = 15;
  int textColour_ = 0;
  bool cursorShown_ = false;
  QFont font_;
  int baseline_ = 12;
};

}  // namespace odefit
