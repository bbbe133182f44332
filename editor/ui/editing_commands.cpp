// What the user does inside the editor pane: the edit menu and its enabled states, the find
// bar's commands, go to start, end or a numbered line, the caret and size read-out, the
// window's keys and the fonts.
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>

#include "editor/document/score_document.h"
#include "editor/document/text_codec.h"
#include "editor/view/find_bar.h"
#include "editor/ui/goto_line_dialog.h"
#include "editor/ui/main_window.h"
#include "editor/ui/player_window.h"

namespace {

// The three font sizes, in the order of the menu items, the buttons and the settings' index.
constexpr int FONT_POINTS[] = {10, 14, 20};

}  // namespace

void TForm1::Undo1Click() {
  Memo1->undo();
}
void TForm1::Redo1Click() {
  Memo1->redo();
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
  Redo2->setEnabled(Memo1->document()->isRedoAvailable());
  const bool selection = Memo1->textCursor().hasSelection();
  Cut2->setEnabled(selection);
  Copy2->setEnabled(selection);
  Delete2->setEnabled(selection);
  Paste2->setEnabled(true);
  SelectAll2->setEnabled(true);
}

void TForm1::Find1Click() {
  FindBar1->openFind();
}
void TForm1::Replace1Click() {
  FindBar1->openReplace();
}
void TForm1::FindNext1Click() {
  FindBar1->findNext();
}
void TForm1::FindPrevious1Click() {
  FindBar1->findPrevious();
}

void TForm1::scrollCaretLineToTop() {
  QScrollBar* bar = Memo1->verticalScrollBar();
  bar->setValue(Memo1->textCursor().blockNumber());  // one step per line; clamped to the range
}

void TForm1::moveCaretTo(QTextCursor::MoveOperation where) {
  QTextCursor cursor = Memo1->textCursor();
  cursor.movePosition(where);
  Memo1->setTextCursor(cursor);
  scrollCaretLineToTop();
  updateStatusBar();
}

void TForm1::GotoStartClick() {
  moveCaretTo(QTextCursor::Start);
}

void TForm1::GotoLastClick() {
  moveCaretTo(QTextCursor::End);
}

void TForm1::N6Click() {
  GotoLine->Edit1->selectAll();
  const int result = services_.execDialog(*GotoLine);
  Memo1->setFocus();
  if (result == QDialog::Accepted) {
    if (GotoLine->tag >= 0) {
      QTextCursor cursor = Memo1->textCursor();
      cursor.setPosition(GotoLine->tag);
      Memo1->setTextCursor(cursor);
    } else {
      showStop(
          QString("指定した行番号はない(最大 %1行)").arg(editorLineCount(*Memo1->document()) + 1));
    }
  }
  scrollCaretLineToTop();
}

// Line, column and size in bytes of the document's encoding. The column counts from the start of
// the line that holds the caret (the moving end of a selection) to the selection start; a forward
// selection across lines makes that negative, and the column panel then keeps its text.
void TForm1::updateStatusBar() {
  if (!document_) return;
  const ByteCounter& bytes = document_->bytes();
  const QTextCursor cursor = Memo1->textCursor();
  const QTextDocument* text = Memo1->document();
  const QTextBlock startBlock = text->findBlock(cursor.selectionStart());
  const QTextBlock caretBlock = text->findBlock(cursor.position());
  const qsizetype inLine = encodedSize(
      QStringView(startBlock.text()).left(cursor.selectionStart() - startBlock.position()),
      document_->encoding());
  const qsizetype start = bytes.lineOffset(startBlock.blockNumber()) + inLine;
  const qsizetype lineStart = bytes.lineOffset(caretBlock.blockNumber());
  setStatusText(PANEL_LINE, QString("%1 行").arg(startBlock.blockNumber() + 1));
  if (start - lineStart >= 0) {
    setStatusText(PANEL_COLUMN, QString("%1 桁").arg(start - lineStart + 1));
  }
  setStatusText(PANEL_SIZE, QString("%1 Byte").arg(document_->size()));
}

void TForm1::Memo1KeyUp() {
  updateStatusBar();
}

void TForm1::Memo1MouseMove() {
  updateStatusBar();
}

void TForm1::FormKeyUp(int key) {
  document_->schedule().activity();
  if (key == Qt::Key_Pause) {
    Form2->close();
  } else if (key == Qt::Key_F8 && Form2->isVisible()) {
    Form2->activateWindow();
    Form2->raise();
  }
}

void TForm1::applyFontSize(int index) {
  for (QPlainTextEdit* pane :
       {static_cast<QPlainTextEdit*>(Memo1), static_cast<QPlainTextEdit*>(Memo2)}) {
    QFont font = pane->font();
    font.setPointSize(FONT_POINTS[index]);
    pane->setFont(font);
  }
}

// A font item or button: both panes take its size, and the item and its button are checked
// (the three actions form one exclusive group).
void TForm1::N10p1Click(QAction* item) {
  if (isActiveWindow()) {
    Memo2->setFocus();
    Memo1->setFocus();
  }
  item->setChecked(true);
  applyFontSize(item->data().toInt());
  updateStatusBar();
}

void TForm1::SpeedButton8Click(QToolButton* button) {
  N10p1Click(button->defaultAction());
}
