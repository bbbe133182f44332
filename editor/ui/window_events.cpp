// What the main window shows of the view and does on its own keys: the status bar's caret and
// size read-out, the fonts of both panes, the keys the window sees before its controls, and the
// message pane's error jump.
#include <QApplication>
#include <QTextBlock>

#include "editor/document/score_document.h"
#include "editor/ui/error_line.h"
#include "editor/ui/main_window.h"
#include "editor/ui/player_window.h"
#include "editor/view/score_view.h"
#include "editor/view/source_edit.h"

namespace {

const char MODIFIED_MARK[] = "変更あり";

}  // namespace

void TForm1::Memo1Change() {
  setStatusText(PANEL_MODIFIED, MODIFIED_MARK);
}

// Line, column and size as the view reads them. A forward selection across lines has no column:
// the column panel then keeps its text.
void TForm1::updateStatusBar() {
  if (!document_) return;
  const CaretReadout readout = view_->caretReadout();
  setStatusText(PANEL_LINE, QString("%1 行").arg(readout.line));
  if (readout.column) setStatusText(PANEL_COLUMN, QString("%1 桁").arg(*readout.column));
  setStatusText(PANEL_SIZE, QString("%1 Byte").arg(readout.bytes));
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

// The view took the chosen size; the message pane follows it.
void TForm1::fontSizeChosen(int index) {
  if (isActiveWindow()) {
    Memo2->setFocus();
    view_->focusText();
  }
  QFont font = Memo2->font();
  font.setPointSize(ScoreView::fontPoints(index));
  Memo2->setFont(font);
  updateStatusBar();
}

// A double-click on an error line "ERR -> line [nnnnn]:..." puts the caret on that score line.
void TForm1::Memo2DblClick() {
  if (Memo2->document()->blockCount() < 2) return;
  const std::optional<int> line = errorJumpLine(Memo2->textCursor().block().text());
  if (!line) return;
  view_->focusText();
  view_->goToLine(*line);
}
