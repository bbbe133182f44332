#include "lsp/line_highlights.h"

#include <algorithm>
#include <utility>

void LineHighlights::update(const ScoreText& text, LineHighlighter& highlighter) {
  std::vector<Line> old = std::move(lines_);
  const auto count = static_cast<size_t>(text.lineCount());
  const size_t shorter = std::min(count, old.size());
  size_t same = 0;  // lines equal from the start: their states are equal too
  while (same < shorter && old[same].bytes == text.compileLine(static_cast<int32_t>(same))) ++same;
  size_t sameEnd = 0;  // lines equal from the end, not overlapping the start's
  while (sameEnd < shorter - same &&
         old[old.size() - 1 - sameEnd].bytes ==
             text.compileLine(static_cast<int32_t>(count - 1 - sameEnd)))
    ++sameEnd;

  lines_.clear();
  lines_.reserve(count);
  for (size_t i = 0; i < same; ++i) lines_.push_back(std::move(old[i]));
  DisplayLineState state = same > 0 ? lines_.back().end : DisplayLineState{};
  linesRead_ = 0;
  const size_t oldShift = old.size() - count;  // wraps; only added back below
  for (size_t i = same; i < count; ++i) {
    if (i >= count - sameEnd) {
      Line& kept = old[i + oldShift];
      if (kept.start == state) {
        state = kept.end;
        lines_.push_back(std::move(kept));
        continue;
      }
    }
    Line& line = lines_.emplace_back();
    line.bytes = text.compileLine(static_cast<int32_t>(i));
    line.start = state;
    line.end = highlighter.highlightLine(line.bytes, state, line.spans);
    state = line.end;
    ++linesRead_;
  }
  end_ = state;
}
