#include "editor/ui/editor_panes.h"

#include <QDragEnterEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>

SourceEdit::SourceEdit(QWidget* parent) : QPlainTextEdit(parent) {
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setTabChangesFocus(false);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setMouseTracking(true);
  viewport()->setMouseTracking(true);
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
  if (!fits(text)) return;
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

MessagePane::MessagePane(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setTabChangesFocus(true);
  setFocusPolicy(Qt::ClickFocus);  // Tab does not move the focus here
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // No wrap: a long error line scrolls sideways instead of breaking the pointer line's column.
}

void MessagePane::mouseDoubleClickEvent(QMouseEvent* event) {
  QPlainTextEdit::mouseDoubleClickEvent(event);
  Q_EMIT doubleClicked();
}

void MessagePane::dragEnterEvent(QDragEnterEvent* event) {
  event->ignore();  // nothing is dropped into the messages; files go to the main window
}
