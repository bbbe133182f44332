#include "editor/view/source_edit.h"

#include <QDragEnterEvent>
#include <QHelpEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QMimeData>
#include <QPainter>
#include <QTextBlock>
#include <QToolTip>

#include "editor/view/score_highlighter.h"

namespace {

constexpr int MARGIN_PADDING = 4;  // pixels either side of the numbers
const char INPUT_REFUSED_TEXT[] = "入力できる量 (%1 バイト) を超えるため入力できません";

// The margin left of the editor pane; the pane paints it and answers its tool tips.
class SourceMargin : public QWidget {
 public:
  explicit SourceMargin(SourceEdit& editor) : QWidget(&editor), editor_(editor) {}
  QSize sizeHint() const override { return {editor_.marginWidth(), 0}; }

 protected:
  void paintEvent(QPaintEvent* event) override { editor_.paintMargin(*this, event->rect()); }
  bool event(QEvent* event) override {
    if (event->type() == QEvent::ToolTip) {
      auto* help = static_cast<QHelpEvent*>(event);
      const QString text = editor_.marginToolTip(help->pos());
      if (text.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
      } else {
        QToolTip::showText(help->globalPos(), text, this);
      }
      return true;
    }
    return QWidget::event(event);
  }

 private:
  SourceEdit& editor_;
};

bool isDark(const QPalette& palette) {
  return palette.color(QPalette::Base).lightness() < 128;
}

}  // namespace

SourceEdit::SourceEdit(QTextDocument& text, QWidget* parent) : QPlainTextEdit(parent) {
  text.setDocumentLayout(new QPlainTextDocumentLayout(&text));
  setDocument(&text);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setTabChangesFocus(false);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setMouseTracking(true);
  viewport()->setMouseTracking(true);
  margin_ = new SourceMargin(*this);
  highlighter_ = new ScoreHighlighter(document());
  highlighter_->usePalette(palette());
  highlighter_->setLinesInView([this] { return linesInView(); });
  connect(this, &QPlainTextEdit::blockCountChanged, this, &SourceEdit::updateMargin);
  connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect& rect, int dy) {
    if (dy != 0) {
      margin_->scroll(0, dy);
    } else {
      margin_->update(0, rect.y(), margin_->width(), rect.height());
    }
  });
  connect(document(), &QTextDocument::contentsChange, this, &SourceEdit::contentsChanged);
  updateMargin();
}

// Without line wrapping a block is one row. A screenful above and two below are counted in, so
// that a step of scrolling finds its lines coloured.
std::pair<int, int> SourceEdit::linesInView() const {
  const int rows = viewport()->height() / qMax(fontMetrics().lineSpacing(), 1) + 1;
  const int first = firstVisibleBlock().blockNumber();
  return {first - rows, first + 2 * rows};
}

void SourceEdit::setSelections(SelectionLayer layer,
                               const QList<QTextEdit::ExtraSelection>& selections) {
  layers_[layer] = selections;
  applySelections();
}

void SourceEdit::applySelections() {
  QList<QTextEdit::ExtraSelection> all;
  for (const QList<QTextEdit::ExtraSelection>& layer : layers_) all += layer;
  setExtraSelections(all);
}

void SourceEdit::setLineNumbersShown(bool shown) {
  lineNumbersShown_ = shown;
  updateMargin();
}

// Nothing to show, no margin: the pane looks as it always did.
int SourceEdit::marginWidth() const {
  const QFontMetrics metrics(font());
  const int markWidth = markCursor_.isNull() ? 0 : metrics.height();
  if (!lineNumbersShown_) return markWidth > 0 ? markWidth + 2 : 0;
  const int digits = QString::number(qMax(1, blockCount())).size();
  return 2 * MARGIN_PADDING + metrics.horizontalAdvance(QLatin1Char('9')) * digits + markWidth;
}

void SourceEdit::updateMargin() {
  const int width = marginWidth();
  setViewportMargins(width, 0, 0, 0);
  const QRect area = contentsRect();
  margin_->setGeometry(area.left(), area.top(), width, area.height());
  margin_->setVisible(width > 0);
  margin_->update();
}

void SourceEdit::resizeEvent(QResizeEvent* event) {
  QPlainTextEdit::resizeEvent(event);
  updateMargin();
}

// Every way of bringing lines into view ends in a paint, and not every way tells: the pane moves
// its view for the caret (keys, a found match, a jump) with the scroll bar's signals held, and a
// new font or size shows more lines at once. So the lines about to be painted get their colours
// here; the paint then draws them coloured, and Qt repaints once more for the changed lines.
void SourceEdit::paintEvent(QPaintEvent* event) {
  highlighter_->colourLinesInView();
  QPlainTextEdit::paintEvent(event);
}

QColor SourceEdit::markColour() const {
  return isDark(palette()) ? QColor(0xFF, 0x6B, 0x6B) : QColor(0xC6, 0x28, 0x28);
}

// A faint tint of the mark's colour, so that the marked command stands out at a glance.
QColor SourceEdit::markBackground() const {
  return isDark(palette()) ? QColor(0x5A, 0x1E, 0x1E) : QColor(0xFD, 0xE0, 0xE0);
}

// Amber: a warning as the text is typed, apart from the red of a compilation's error.
QColor SourceEdit::checkColour() const {
  return isDark(palette()) ? QColor(0xFF, 0xB7, 0x4D) : QColor(0xB2, 0x5E, 0x00);
}

QColor SourceEdit::checkBackground() const {
  return isDark(palette()) ? QColor(0x4A, 0x3A, 0x14) : QColor(0xFF, 0xF1, 0xC9);
}

void SourceEdit::paintMargin(QWidget& margin, const QRect& area) {
  QPainter painter(&margin);
  const QPalette& colours = palette();
  painter.fillRect(area, colours.color(QPalette::Window));
  const QFontMetrics metrics(font());
  painter.setFont(font());
  const int markSide = metrics.height();
  const QTextBlock marked = markCursor_.isNull() ? QTextBlock() : markCursor_.block();
  QTextBlock block = firstVisibleBlock();
  int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
  while (block.isValid() && top <= area.bottom()) {
    const int height = qRound(blockBoundingRect(block).height());
    if (block.isVisible() && top + height >= area.top()) {
      if (lineNumbersShown_) {
        painter.setPen(colours.color(QPalette::PlaceholderText));
        painter.drawText(
            0, top, margin.width() - MARGIN_PADDING - (marked.isValid() ? markSide : 0),
            metrics.height(), Qt::AlignRight, QString::number(block.blockNumber() + 1));
      }
      if (marked.isValid() && block == marked) {
        // A round sign with "!": its shape says "error" without the colour.
        const QRectF sign(margin.width() - markSide + 1.5, top + 1.5, markSide - 3, markSide - 3);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(markColour());
        painter.drawEllipse(sign);
        painter.setPen(isDark(colours) ? Qt::black : Qt::white);
        QFont bold = font();
        bold.setBold(true);
        painter.setFont(bold);
        painter.drawText(sign, Qt::AlignCenter, QStringLiteral("!"));
        painter.setFont(font());
      }
    }
    block = block.next();
    top += height;
  }
}

QString SourceEdit::marginToolTip(const QPoint& position) const {
  if (markCursor_.isNull()) return QString();
  const QRectF line = blockBoundingGeometry(markCursor_.block()).translated(contentOffset());
  return position.y() >= line.top() && position.y() < line.bottom() ? markText_ : QString();
}

// The marked place: anchored where the failing command starts, the cursor on the character
// under the report's "?"; a null cursor when the line is gone.
QTextCursor SourceEdit::placeMark(int line, int fromColumn, int toColumn) const {
  const QTextBlock block = document()->findBlockByNumber(line);
  if (!block.isValid()) return QTextCursor();
  const int last = block.length() - 1;  // the line's length
  const int to = qBound(0, toColumn, last);
  const int from = qBound(0, fromColumn, to);
  QTextCursor mark(document());
  mark.setPosition(block.position() + from);
  mark.setPosition(block.position() + to, QTextCursor::KeepAnchor);
  return mark;
}

// The command from its first character to the one before the report's "?"; at least one
// character: the one under the "?", or the line's last one when it points past the end. A null
// cursor on an empty line.
QTextCursor SourceEdit::underlinedSpan(const QTextCursor& mark) const {
  const QTextBlock block = mark.block();
  const int last = block.length() - 1;
  int start = mark.anchor() - block.position();
  int end = mark.position() - block.position();
  if (end == start) ++end;
  if (end > last) {
    end = last;
    start = qMin(start, last - 1);
  }
  if (start < 0 || end <= start) return QTextCursor();
  QTextCursor span(document());
  span.setPosition(block.position() + start);
  span.setPosition(block.position() + end, QTextCursor::KeepAnchor);
  return span;
}

void SourceEdit::setErrorMark(int line, int fromColumn, int toColumn, const QString& text) {
  clearErrorMark();
  markCursor_ = placeMark(line, fromColumn, toColumn);
  if (markCursor_.isNull()) return;
  markText_ = text;
  const QTextCursor span = underlinedSpan(markCursor_);
  if (!span.isNull()) {
    QTextEdit::ExtraSelection underline;
    underline.cursor = span;
    underline.format.setUnderlineStyle(QTextCharFormat::WaveUnderline);
    underline.format.setUnderlineColor(markColour());
    underline.format.setBackground(markBackground());
    setSelections(SelectionLayer::ErrorMark, {underline});
  }
  updateMargin();
}

void SourceEdit::clearErrorMark() {
  if (markCursor_.isNull() && layers_.value(SelectionLayer::ErrorMark).isEmpty()) return;
  markCursor_ = QTextCursor();
  markText_.clear();
  setSelections(SelectionLayer::ErrorMark, {});
  updateMargin();
}

std::optional<ErrorMark> SourceEdit::errorMark() const {
  if (markCursor_.isNull()) return std::nullopt;
  const int start = markCursor_.anchor() - markCursor_.block().position();
  return ErrorMark{markCursor_.blockNumber(), markCursor_.positionInBlock(), start, markText_};
}

void SourceEdit::setCheckMark(int line, int fromColumn, int toColumn, const QString& text) {
  clearCheckMark();
  checkCursor_ = placeMark(line, fromColumn, toColumn);
  if (checkCursor_.isNull()) return;
  checkText_ = text;
  const QTextCursor span = underlinedSpan(checkCursor_);
  if (span.isNull()) return;
  QTextEdit::ExtraSelection underline;
  underline.cursor = span;
  underline.format.setUnderlineStyle(QTextCharFormat::DotLine);
  underline.format.setUnderlineColor(checkColour());
  underline.format.setBackground(checkBackground());
  setSelections(SelectionLayer::CheckMark, {underline});
}

void SourceEdit::clearCheckMark() {
  if (checkCursor_.isNull() && layers_.value(SelectionLayer::CheckMark).isEmpty()) return;
  checkCursor_ = QTextCursor();
  checkText_.clear();
  setSelections(SelectionLayer::CheckMark, {});
}

std::optional<ErrorMark> SourceEdit::checkMark() const {
  if (checkCursor_.isNull()) return std::nullopt;
  const int start = checkCursor_.anchor() - checkCursor_.block().position();
  return ErrorMark{checkCursor_.blockNumber(), checkCursor_.positionInBlock(), start, checkText_};
}

// An edit that touches a marked line takes its mark away; edits elsewhere move it along.
void SourceEdit::contentsChanged(int position, int removed, int added) {
  const auto touches = [&](const QTextCursor& mark) {
    if (mark.isNull()) return false;
    const QTextBlock block = mark.block();
    const int start = block.position();
    const int end = start + block.length() - 1;  // the line's end, before its separator
    return position <= end && position + qMax(added, removed) >= start;
  };
  if (touches(markCursor_)) clearErrorMark();
  if (touches(checkCursor_)) clearCheckMark();
}

// The marked command, and at least the character under the report's "?".
QRect SourceEdit::markedCharacterRect(const QTextCursor& mark) const {
  QTextCursor start = mark;
  start.setPosition(mark.anchor());
  const QRect left = cursorRect(start);
  const QRect right = cursorRect(mark);
  const int width =
      qMax(right.left() - left.left(), 0) + qMax(QFontMetrics(font()).averageCharWidth(), 4);
  return QRect(left.topLeft(), QSize(width, left.height()));
}

void SourceEdit::changeEvent(QEvent* event) {
  QPlainTextEdit::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) {
    highlighter_->usePalette(palette());
    margin_->update();
  }
}

// Hovering a marked command shows its text; the compilation's mark before the check's.
bool SourceEdit::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    for (const auto& [mark, text] :
         {std::pair(&markCursor_, &markText_), std::pair(&checkCursor_, &checkText_)}) {
      if (mark->isNull() || !markedCharacterRect(*mark).adjusted(-2, 0, 2, 0).contains(help->pos()))
        continue;
      QToolTip::showText(help->globalPos(), *text, viewport());
      return true;
    }
  }
  return QPlainTextEdit::viewportEvent(event);
}

bool SourceEdit::fitsChange(qsizetype removedBytes, qsizetype insertedBytes) const {
  if (inputLimit_ <= 0 || !currentBytes || !bytesOf) return true;
  return currentBytes() - removedBytes + insertedBytes <= inputLimit_;
}

bool SourceEdit::fits(const QString& inserted) const {
  if (inputLimit_ <= 0 || !currentBytes || !bytesOf) return true;
  const QTextCursor cursor = textCursor();
  const qsizetype replaced =
      bytesOf(cursor.selectedText().replace(QChar::ParagraphSeparator, '\n'));
  return fitsChange(replaced, bytesOf(inserted));
}

QString SourceEdit::inputRefusedText() const {
  return QString(INPUT_REFUSED_TEXT).arg(QLocale(QLocale::Japanese).toString(inputLimit_));
}

void SourceEdit::refuseInput() {
  Q_EMIT inputRefused(inputRefusedText());
}

void SourceEdit::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Insert && event->modifiers() == Qt::ShiftModifier) {
    event->accept();
    Q_EMIT shiftInsertPressed();
    return;
  }
  QString typed = event->text();
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) typed = "\n";
  if (!typed.isEmpty() && typed.at(0).isPrint() == false && typed != "\n" && typed != "\t") {
    typed.clear();  // control keys insert nothing
  }
  if (!typed.isEmpty() && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) &&
      !fits(typed)) {
    event->accept();
    refuseInput();
    return;
  }
  QPlainTextEdit::keyPressEvent(event);
}

void SourceEdit::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Insert && event->modifiers() == Qt::ShiftModifier) {
    event->accept();
    return;
  }
  QPlainTextEdit::keyReleaseEvent(event);
  Q_EMIT keyReleased();
}

void SourceEdit::mouseMoveEvent(QMouseEvent* event) {
  QPlainTextEdit::mouseMoveEvent(event);
  Q_EMIT mouseMoved();
}

void SourceEdit::insertFromMimeData(const QMimeData* source) {
  if (source == nullptr || !source->hasText()) return;
  const QString text = source->text();
  if (!fits(text)) {
    refuseInput();
    return;
  }
  textCursor().insertText(text);  // plain text only
  ensureCursorVisible();
}

// Text an input method commits counts like typed text: what does not fit is dropped and the
// composition ends.
void SourceEdit::inputMethodEvent(QInputMethodEvent* event) {
  if (!event->commitString().isEmpty() && !fits(event->commitString())) {
    QInputMethodEvent ended;
    QPlainTextEdit::inputMethodEvent(&ended);
    event->accept();
    refuseInput();
    return;
  }
  QPlainTextEdit::inputMethodEvent(event);
}

void SourceEdit::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) {
    event->ignore();  // the main window takes files
    return;
  }
  QPlainTextEdit::dragEnterEvent(event);
}

void SourceEdit::dragMoveEvent(QDragMoveEvent* event) {
  if (event->mimeData()->hasUrls()) {
    event->ignore();
    return;
  }
  QPlainTextEdit::dragMoveEvent(event);
}

void SourceEdit::dropEvent(QDropEvent* event) {
  if (event->mimeData()->hasUrls()) {
    event->ignore();
    return;
  }
  QPlainTextEdit::dropEvent(event);
}
