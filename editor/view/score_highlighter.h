// The editor pane's colours, computed by the compiler core's own reading of each line
// (LineHighlighter), so what is coloured as a comment is exactly what the compiler skips. The
// state a line ends in (an open block comment, a header command going on) is the block state
// Qt hands to the next line, so a keystroke re-reads only the lines whose state changes.
//
// Reading a line is cheap; giving Qt its formats is not (about half the time of opening a
// megabyte score). So in a long text every line is read, for the state it hands on, but only
// the lines in view get their colours; the others get them when they come into view
// (colourLinesInView(), which the editor pane calls before each paint).
#pragma once

#include <QPalette>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>
#include <functional>
#include <utility>
#include <vector>

#include "core/line_highlighter.h"
#include "editor/document/text_codec.h"

class ScoreHighlighter : public QSyntaxHighlighter {
  Q_OBJECT
 public:
  explicit ScoreHighlighter(QTextDocument* document);

  // Colours for a light or a dark palette, chosen by the palette's base colour.
  void usePalette(const QPalette& palette);
  // The format a byte of this kind is shown with.
  const QTextCharFormat& format(SpanKind kind) const { return formats_[kind]; }
  // The encoding the compiler reads the lines in: the document's.
  void setEncoding(TextEncoding encoding);

  // Texts of up to this many lines are coloured whole.
  static constexpr int WHOLE_TEXT_LINES = 1000;
  // The first and last line (block numbers) the view shows, or may show soon; in a longer text
  // only these are coloured as they are read. Unset: every line is.
  void setLinesInView(std::function<std::pair<int, int>()> linesInView);
  // Colours the lines in view that were read but not coloured.
  void colourLinesInView();

 protected:
  void highlightBlock(const QString& text) override;

 private:
  bool colourNow(int blockNumber) const;
  void recolour(const std::function<void()>& give);

  TextEncoding encoding_ = TextEncoding::Cp932;
  std::function<std::pair<int, int>()> linesInView_;
  LineHighlighter lines_;
  std::vector<DisplaySpan> spans_;
  QTextCharFormat formats_[SPAN_IGNORED + 1];
};
