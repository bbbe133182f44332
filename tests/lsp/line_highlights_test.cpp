// The highlights kept between versions of a score: after any edits they are what a reading of
// every line from the start gives, and an edit that changes no line's starting state reads only
// the lines it touched.
#include "lsp/line_highlights.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

class LineHighlightsTest : public ::testing::Test {
 protected:
  // Every line read afresh from the start, compared with the kept highlights.
  void expectFreshReading() {
    DisplayLineState state;
    std::vector<DisplaySpan> spans;
    ASSERT_EQ(highlights.lineCount(), text.lineCount());
    for (int32_t line = 0; line < text.lineCount(); ++line) {
      SCOPED_TRACE(testing::Message() << "line " << line << ": " << text.line(line));
      ASSERT_EQ(highlights.startState(line), state);
      state = highlighter.highlightLine(text.compileLine(line), state, spans);
      ASSERT_EQ(highlights.spans(line), spans);
    }
    EXPECT_EQ(highlights.startState(text.lineCount()), state);
  }

  ScoreText text{TextEncoding::Utf8};
  LineHighlighter highlighter;
  LineHighlights highlights;
};

// Random insertions and deletions of the bytes that change how the lines after them read
// (quotes, comment marks, braces, header commands, line ends) and of plain ones.
TEST_F(LineHighlightsTest, AfterRandomEditsTheKeptHighlightsAreAFreshReading) {
  std::string score = "op(q7def)\ncr(\"me\")\n";
  for (int i = 0; i < 30; ++i)
    score += "ch1{ // x\n \"t120 l8 c d e {c e g}4 c&c\"\n/* a\n b */ \"v12\"\n}\n";
  text.setText(score);
  highlights.update(text, highlighter);
  expectFreshReading();
  const std::vector<std::string> pieces = {"\"",  "/*",    "*/", "//",  "{", "}", "\n", "\r\n",
                                           "cr(", "sn(\"", ")",  "ch2", "c", " ", "&&", "あ"};
  std::mt19937 random(20261209);
  for (int edit = 0; edit < 400; ++edit) {
    const auto line = static_cast<int64_t>(random() % static_cast<unsigned>(text.lineCount()));
    const auto character = static_cast<int64_t>(random() % 40);
    const TextPosition from{line, character};
    TextPosition to = from;
    std::string inserted;
    if (random() % 3 == 0) {
      to = {line + static_cast<int64_t>(random() % 2), static_cast<int64_t>(random() % 40)};
    } else {
      inserted = pieces[random() % pieces.size()];
    }
    SCOPED_TRACE(testing::Message() << "edit " << edit << " at " << line << ":" << character
                                    << " inserting '" << inserted << "'");
    text.replace(from, to, inserted, PositionEncoding::UTF16);
    highlights.update(text, highlighter);
    expectFreshReading();
    if (HasFatalFailure()) return;
  }
}

TEST_F(LineHighlightsTest, AnEditThatKeepsTheStatesReadsOnlyItsLines) {
  std::string score;
  for (int i = 0; i < 100; ++i) score += "ch1{\"c d e\"}\n";
  text.setText(score);
  highlights.update(text, highlighter);
  EXPECT_EQ(highlights.linesRead(), 101);
  text.replace({50, 6}, {50, 7}, "f", PositionEncoding::UTF16);
  highlights.update(text, highlighter);
  EXPECT_EQ(highlights.linesRead(), 1);
  text.replace({50, 0}, {50, 0}, "x\ny\n", PositionEncoding::UTF16);
  highlights.update(text, highlighter);
  EXPECT_EQ(highlights.linesRead(), 2);  // the line that was 50 is kept behind them
  // An opened block comment changes the start of every line after it.
  text.replace({10, 0}, {10, 0}, "/*", PositionEncoding::UTF16);
  highlights.update(text, highlighter);
  EXPECT_EQ(highlights.linesRead(), 93);
  expectFreshReading();
}

}  // namespace
