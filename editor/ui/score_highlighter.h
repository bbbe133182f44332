// The editor pane's colours, computed by the compiler core's own reading of each line
// (LineHighlighter), so what is coloured as a comment is exactly what the compiler skips. The
// state a line ends in (an open block comment, a header command going on) is the block state
// Qt hands to the next line, so a keystroke re-reads only the lines whose state changes.
#pragma once

#include <QPalette>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>
#include <vector>

#include "core/line_highlighter.h"

class ScoreHighlighter : public QSyntaxHighlighter {
  Q_OBJECT
 public:
  explicit ScoreHighlighter(QTextDocument* document);

  // Colours for a light or a dark palette, chosen by the palette's base colour.
  void usePalette(const QPalette& palette);
  // The format a byte of this kind is shown with.
  const QTextCharFormat& format(SpanKind kind) const { return formats_[kind]; }

 protected:
  void highlightBlock(const QString& text) override;

 private:
  LineHighlighter lines_;
  std::vector<DisplaySpan> spans_;
  QTextCharFormat formats_[SPAN_IGNORED + 1];
};
