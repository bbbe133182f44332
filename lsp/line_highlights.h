// Every line of an open score highlighted as core/line_highlighter.h reads it, kept from one
// version of the text to the next: a line is read again only when its bytes or the state it
// starts in differ from its last reading, so an edit costs the lines it touched and those whose
// starting state it changed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/line_highlighter.h"
#include "lsp/score_text.h"

class LineHighlights {
 public:
  // Brings the highlights in step with the text. The lines before the first one that differs
  // and after the last one that differs keep their spans while they start in the state they
  // had; the others are read again.
  void update(const ScoreText& text, LineHighlighter& highlighter);

  int32_t lineCount() const { return static_cast<int32_t>(lines_.size()); }
  const std::vector<DisplaySpan>& spans(int32_t line) const {
    return lines_[static_cast<size_t>(line)].spans;
  }
  // The state line `line` starts in; lineCount() for the end of the text.
  const DisplayLineState& startState(int32_t line) const {
    return line < lineCount() ? lines_[static_cast<size_t>(line)].start : end_;
  }
  // The lines read by the last update(), for the tests.
  int32_t linesRead() const { return linesRead_; }

 private:
  struct Line {
    std::string bytes;  // the compile bytes the spans were read from
    DisplayLineState start;
    DisplayLineState end;
    std::vector<DisplaySpan> spans;
  };
  std::vector<Line> lines_;
  DisplayLineState end_;
  int32_t linesRead_ = 0;
};
