#include "editor/view/score_highlighter.h"

#include <QColor>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

namespace {

// One colour per kind, for a light and a dark background; plain text keeps the palette's own.
struct KindColours {
  SpanKind kind;
  QRgb light;
  QRgb dark;
  bool bold;
  bool italic;
};

constexpr KindColours COLOURS[] = {
    {SPAN_LINE_KEYWORD, 0x1A4FB5, 0x7FB2FF, true, false},
    {SPAN_LINE_COMMENT, 0x5F7F5F, 0x8FB58F, false, true},
    {SPAN_BLOCK_COMMENT, 0x5F7F5F, 0x8FB58F, false, true},
    {SPAN_COMMAND_STRING, 0x9A3A12, 0xF0A070, false, false},
    {SPAN_NOTE, 0x202020, 0xF0F0F0, true, false},
    {SPAN_NUMBER, 0x00777A, 0x5ED8D8, false, false},
    {SPAN_PARAMETER, 0x7B2FA8, 0xD09AF2, true, false},
    {SPAN_TIE_TUPLET, 0xB8560B, 0xFFB35C, true, false},
    {SPAN_HEADER_ARGUMENT, 0x8A5A00, 0xE8C46A, false, false},
    {SPAN_IGNORED, 0x9A9A9A, 0x7A7A7A, false, true},
};

}  // namespace

ScoreHighlighter::ScoreHighlighter(QTextDocument* document) : QSyntaxHighlighter(document) {
  usePalette(QPalette());
}

void ScoreHighlighter::usePalette(const QPalette& palette) {
  const bool dark = palette.color(QPalette::Base).lightness() < 128;
  for (QTextCharFormat& format : formats_) format = QTextCharFormat();
  for (const KindColours& entry : COLOURS) {
    QTextCharFormat& format = formats_[entry.kind];
    format.setForeground(QColor(dark ? entry.dark : entry.light));
    if (entry.bold) format.setFontWeight(QFont::Bold);
    format.setFontItalic(entry.italic);
  }
  recolour([this] { rehighlight(); });
}

// New colours change the document's contents as an edit does, and Qt reports them alike. The
// colours of a palette, an encoding or a line coming into view are not edits: the text stays
// saved and a compiler mark on the line stays. So the document's signals are held while they
// are given; its layout, which Qt tells directly, still repaints them.
void ScoreHighlighter::recolour(const std::function<void()>& give) {
  QTextDocument* text = document();
  if (!text) return;
  const bool wasBlocked = text->blockSignals(true);
  give();
  text->blockSignals(wasBlocked);
}

void ScoreHighlighter::setEncoding(TextEncoding encoding) {
  if (encoding == encoding_) return;
  encoding_ = encoding;
  recolour([this] { rehighlight(); });
}

void ScoreHighlighter::setLinesInView(std::function<std::pair<int, int>()> linesInView) {
  linesInView_ = std::move(linesInView);
}

bool ScoreHighlighter::colourNow(int blockNumber) const {
  if (!linesInView_ || document()->blockCount() <= WHOLE_TEXT_LINES) return true;
  const auto [first, last] = linesInView_();
  return blockNumber >= first && blockNumber <= last;
}

// A line read but not coloured has no formats; so has an empty or all-plain line, which is
// read again for nothing, at the cost of one line.
void ScoreHighlighter::colourLinesInView() {
  if (!linesInView_ || !document()) return;
  const auto [first, last] = linesInView_();
  QTextBlock block = document()->findBlockByNumber(qMax(first, 0));
  for (int number = qMax(first, 0); block.isValid() && number <= last;
       ++number, block = block.next()) {
    if (block.length() > 1 && block.layout()->formats().isEmpty()) {
      recolour([this, &block] { rehighlightBlock(block); });
    }
  }
}

// The core reads the line's bytes as the compiler does; each span's byte range is mapped back
// to the line's characters (one to four bytes each).
void ScoreHighlighter::highlightBlock(const QString& text) {
  const QByteArray bytes = compileBytes(text, encoding_);
  const DisplayLineState end =
      lines_.highlightLine(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())),
                           unpackDisplayLineState(previousBlockState()), spans_);
  setCurrentBlockState(packDisplayLineState(end));
  if (!colourNow(currentBlock().blockNumber())) return;
  qsizetype position = 0;  // in UTF-16 units
  qsizetype byte = 0;
  auto advanceTo = [&](qsizetype targetByte) {
    while (position < text.size() && byte < targetByte) {
      const QChar c = text.at(position);
      const bool pair = c.isHighSurrogate() && position + 1 < text.size();
      const char32_t code = pair ? QChar::surrogateToUcs4(c, text.at(position + 1)) : c.unicode();
      byte += encoding_ == TextEncoding::Utf8 ? utf8CharBytes(code) : cp932CharBytes(code);
      position += pair ? 2 : 1;
    }
  };
  for (const DisplaySpan& span : spans_) {
    advanceTo(span.start);
    const qsizetype from = position;
    advanceTo(qsizetype(span.start) + span.length);
    if (span.kind != SPAN_PLAIN && position > from) {
      setFormat(static_cast<int>(from), static_cast<int>(position - from), formats_[span.kind]);
    }
  }
}
