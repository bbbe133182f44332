#include "editor/ui/message_pane.h"

#include <QDragEnterEvent>
#include <QMimeData>
#include <QMouseEvent>

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
