// The input window's text model: the transcript and the line editor.
#include "app/desktop/console_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace odefit {
namespace {

std::vector<std::string> Rows(const ConsoleTranscript& transcript) {
  std::vector<std::string> rows;
  for (const std::u32string& row : transcript.Rows()) rows.push_back(EncodeUtf8(row));
  return rows;
}

TEST(ConsoleTranscript, ContinuesTheLastRowUntilALineEnd) {
  ConsoleTranscript transcript;
  transcript.Append(" 1) Dimension of vectors: D = ");
  transcript.Append("3\n");
  transcript.Append("    The time series contains  4000 vectors\n");
  EXPECT_EQ(Rows(transcript), (std::vector<std::string>{" 1) Dimension of vectors: D = 3",
                                                        "    The time series contains  4000 vectors", ""}));
  EXPECT_EQ(transcript.Text(), " 1) Dimension of vectors: D = 3\n    The time series contains  4000 vectors\n");
}

TEST(ConsoleTranscript, JoinsAUtf8SequenceSplitBetweenTwoWrites) {
  ConsoleTranscript transcript;
  const std::string text = "x\xC3\xA9y";  // x, e acute, y
  transcript.Append(text.substr(0, 2));
  transcript.Append(text.substr(2));
  ASSERT_EQ(transcript.Rows().size(), 1u);
  EXPECT_EQ(transcript.Rows()[0], U"x\u00E9y");
}

TEST(ConsoleTranscript, DropsControlCharactersAndExpandsTabs) {
  ConsoleTranscript transcript;
  transcript.Append("a\r\x07" "b\tc");
  EXPECT_EQ(Rows(transcript), (std::vector<std::string>{"ab      c"}));
}

TEST(ConsoleTranscript, ClearStartsTheScreenOnAFreshRowAndKeepsTheRowsAbove) {
  ConsoleTranscript transcript;
  transcript.Append("first\nprompt ");
  transcript.Append("\f");
  transcript.Append("second\n");
  EXPECT_EQ(transcript.ClearRow(), 2);
  EXPECT_EQ(transcript.Clears(), 1u);
  EXPECT_EQ(Rows(transcript), (std::vector<std::string>{"first", "prompt ", "second", ""}));
}

TEST(ConsoleTranscript, ClearOnAnEmptyRowUsesThatRow) {
  ConsoleTranscript transcript;
  transcript.Append("line\n\f");
  EXPECT_EQ(transcript.ClearRow(), 1);
  EXPECT_EQ(transcript.Rows().size(), 2u);
}

TEST(Utf8, StrayBytesSurviveARoundTripAsCodePoints) {
  EXPECT_EQ(DecodeUtf8("a\xFF"), std::u32string(U"a\u00FF"));
  EXPECT_EQ(EncodeUtf8(U"\u20AC1"), "\xE2\x82\xAC" "1");
  EXPECT_EQ(DecodeUtf8(EncodeUtf8(U"\U0001F600")), U"\U0001F600");
}

TEST(LineEditor, InsertsAndDeletesAtTheCursor) {
  LineEditor editor;
  editor.Type(U"3000");
  editor.Home();
  editor.Delete();
  editor.Type(U"2");
  editor.End();
  editor.Backspace();
  EXPECT_EQ(editor.Text(), U"200");
  EXPECT_EQ(editor.Cursor(), 3u);
}

TEST(LineEditor, MovesAndDeletesNothingBeyondTheEnds) {
  LineEditor editor;
  editor.Backspace();
  editor.Delete();
  editor.Left();
  EXPECT_EQ(editor.Cursor(), 0u);
  editor.Type(U"ab");
  editor.Right();
  editor.Delete();
  EXPECT_EQ(editor.Text(), U"ab");
  EXPECT_EQ(editor.Cursor(), 2u);
}

TEST(LineEditor, DeletesToEitherEndOfTheLine) {
  LineEditor editor;
  editor.Type(U"0.0125");
  editor.Left();
  editor.Left();
  editor.DeleteToEnd();
  EXPECT_EQ(editor.Text(), U"0.01");
  editor.Left();
  editor.DeleteToStart();
  EXPECT_EQ(editor.Text(), U"1");
  EXPECT_EQ(editor.Cursor(), 0u);
}

TEST(LineEditor, TypedLineEndsEnterEveryLineAndKeepTheRestInTheEditor) {
  LineEditor editor;
  const std::vector<std::u32string> entered = editor.Type(U"lorenz.txt\n3\n30");
  EXPECT_EQ(entered, (std::vector<std::u32string>{U"lorenz.txt", U"3"}));
  EXPECT_EQ(editor.Text(), U"30");
}

TEST(LineEditor, HistoryBrowsesBackAndReturnsToTheLineBeingTyped) {
  LineEditor editor;
  editor.Type(U"y\nn\n");
  editor.Type(U"0.0");
  editor.HistoryUp();
  EXPECT_EQ(editor.Text(), U"n");
  editor.HistoryUp();
  EXPECT_EQ(editor.Text(), U"y");
  editor.HistoryUp();  // the oldest stays
  EXPECT_EQ(editor.Text(), U"y");
  editor.HistoryDown();
  editor.HistoryDown();
  EXPECT_EQ(editor.Text(), U"0.0");
  EXPECT_EQ(editor.Cursor(), 3u);
  editor.HistoryDown();  // past the newest nothing changes
  EXPECT_EQ(editor.Text(), U"0.0");
}

TEST(LineEditor, HistorySkipsEmptyLinesAndRepeats) {
  LineEditor editor;
  editor.Type(U"n\nn\n\ny\n");
  EXPECT_EQ(editor.History(), (std::vector<std::u32string>{U"n", U"y"}));
}

TEST(LineEditor, EnteringARecalledLineStartsBrowsingAfresh) {
  LineEditor editor;
  editor.Type(U"1\n2\n");
  editor.HistoryUp();
  editor.HistoryUp();
  EXPECT_EQ(editor.Enter(), U"1");
  editor.HistoryUp();
  EXPECT_EQ(editor.Text(), U"1");  // the newest entry again
}

}  // namespace
}  // namespace odefit
