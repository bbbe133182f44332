// What the user does inside the editor pane: the edit menu and its enabled states, go to
// start, end or a numbered line, the caret and size read-out, the window's keys and the fonts.
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>

#include "editor/ui/goto_line_dialog.h"
#include "editor/ui/main_window.h"
#include "editor/ui/player_window.h"
#include "editor/document/text_codec.h"

void TForm1::Undo1Click() {
  Memo1->undo();
}
void TForm1::Cut1Click() {
  Memo1->cut();
}
void TForm1::Copy1Click() {
  Memo1->copy();
}
void TForm1::Delete1Click() {
  Memo1->textCursor().removeSelectedText();
}
void TForm1::SelectAll1Click() {
  Memo1->selectAll();
}

// The clipboard's text is put back as plain text only, then pasted.
void TForm1::Paste1Click() {
  QClipboard* clipboard = QGuiApplication::clipboard();
  const QMimeData* data = clipboard->mimeData();
  if (data != nullptr && data->hasText()) {
    clipboard->setText(clipboard->text());
    QCoreApplication::processEvents();
  }
  Memo1->paste();
}

void TForm1::PopupMenu1Popup() {
  Undo2->setEnabled(Memo1->document()->isUndoAvailable());
  const bool selection = Memo1->textCursor().hasSelection();
  Cut2->setEnabled(selection);
  Copy2->setEnabled(selection);
  Delete2->setEnabled(selection);
  Paste2->setEnabled(true);
  SelectAll2->setEnabled(true);
}

void TForm1::scrollCaretLineToTop() {
  QScrollBar* bar = Memo1->verticalScrollBar();
  bar->setValue(Memo1->textCursor().blockNumber());  // one step per line; clamped to the range
}

void TForm1::GotoStartClick() {
  QTextCursor cursor = Memo1->textCursor();
  cursor.movePosition(QTextCursor::Start);
  Memo1->setTextCursor(cursor);
  scrollCaretLineToTop();
  updateStatusBar();
}

void TForm1::GotoLastClick() {
  QTextCursor cursor = Memo1->textCursor();
  cursor.movePosition(QTextCursor::End);
  Memo1->setTextCursor(cursor);
  scrollCaretLineToTop();
  updateStatusBar();
}

void TForm1::N6Click() {
  GotoLine->Edit1->selectAll();
  const int result = services.execDialog(*GotoLine);
  Memo1->setFocus();
  if (result == QDialog::Accepted) {
    if (GotoLine->tag >= 0) {
      QTextCursor cursor = Memo1->textCursor();
      cursor.setPosition(GotoLine->tag);
      Memo1->setTextCursor(cursor);
    } else {
      services.messageBox(
          this, QString("指定した行番号はない(最大 %1行)").arg(editorLineCount(*Memo1) + 1),
          std::nullopt, BoxButtons::Ok, BoxIcon::Stop);
    }
  }
  scrollCaretLineToTop();
}

// Line, column and size in code page 932 bytes. The column counts from the start of the line
// that holds the caret (the moving end of a selection) to the selection start; a forward
// selection across lines makes that negative, and the column panel then keeps its text.
void TForm1::updateStatusBar() {
  if (byteCounter == nullptr) return;
  const QTextCursor cursor = Memo1->textCursor();
  const QTextDocument* document = Memo1->document();
  const QTextBlock startBlock = document->findBlock(cursor.selectionStart());
  const QTextBlock caretBlock = document->findBlock(cursor.position());
  auto byteOffset = [this](const QTextBlock& block, int position) {
    const qsizetype inLine = cp932Size(QStringView(block.text()).left(position - block.position()));
    return byteCounter->lineOffset(block.blockNumber()) + inLine;
  };
  const qsizetype start = byteOffset(startBlock, cursor.selectionStart());
  const qsizetype lineStart = byteCounter->lineOffset(caretBlock.blockNumber());
  setStatusText(0, QString("%1 行").arg(startBlock.blockNumber() + 1));
  if (start - lineStart >= 0) setStatusText(1, QString("%1 桁").arg(start - lineStart + 1));
  setStatusText(3, QString("%1 Byte").arg(editorSize()));
}

void TForm1::Memo1KeyUp() {
  updateStatusBar();
}

void TForm1::Memo1MouseMove() {
  updateStatusBar();
}

void TForm1::FormKeyUp(int key) {
  state.idleCountdown = BACKUP_IDLE_TICKS;
  if (key == Qt::Key_Pause) {
    Form2->close();
  } else if (key == Qt::Key_F8 && Form2->isVisible()) {
    Form2->activateWindow();
    Form2->raise();
  }
}

void TForm1::applyFontSize(int points) {
  for (QPlainTextEdit* pane : {static_cast<QPlainTextEdit*>(Memo1),
                               static_cast<QPlainTextEdit*>(Memo2)}) {
    QFont font = pane->font();
    font.setPointSize(points);
    pane->setFont(font);
  }
}

static QAction* fontItemFor(TForm1& form, int points) {
  if (points == 14) return form.N10p1;
  if (points == 20) return form.N12p1;
  return form.N8p1;
}

void TForm1::SpeedButton8Click(QToolButton* button) {
  if (isActiveWindow()) {
    Memo2->setFocus();
    Memo1->setFocus();
  }
  applyFontSize(button->property("points").toInt());
  for (QAction* item : {N8p1, N10p1, N12p1}) item->setChecked(false);
  fontItemFor(*this, button->property("points").toInt())->setChecked(true);
  updateStatusBar();
}

void TForm1::N10p1Click(QAction* item) {
  const int points = item->data().toInt();
  QFont font = Memo1->font();
  font.setPointSize(points);
  Memo1->setFont(font);
  for (QAction* other : {N8p1, N10p1, N12p1}) other->setChecked(false);
  item->setChecked(true);
  QToolButton* button = points == 14 ? SpeedButton9 : points == 20 ? SpeedButton10 : SpeedButton8;
  button->setChecked(true);
  SpeedButton8Click(button);
}
