#include "editor/view/score_view.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QVBoxLayout>

#include "core/score_source_map.h"
#include "editor/document/score_document.h"
#include "editor/document/text_codec.h"
#include "editor/editor_services.h"
#include "editor/view/find_bar.h"
#include "editor/view/goto_line_dialog.h"
#include "editor/view/score_follower.h"
#include "editor/view/score_highlighter.h"
#include "editor/view/source_edit.h"

namespace {

// The three font sizes, in the order of the menu items, the buttons and the settings' index.
constexpr int FONT_POINTS[] = {10, 14, 20};

// The view's commands: caption, shortcut, the hint of a tool button that shows the same action,
// the handler of a push item (the line numbers and fonts are checkable and wired apart).
struct ViewActionEntry {
  QAction* ScoreView::*item;
  const char* text;
  QKeyCombination shortcut;
  const char* hint;
  void (ScoreView::*handler)();
  bool checkable;
};

const ViewActionEntry VIEW_ACTIONS[] = {
    {&ScoreView::Undo2, "元に戻す(&U)", Qt::CTRL | Qt::Key_Z, nullptr, &ScoreView::Undo1Click,
     false},
    {&ScoreView::redoAction, "やり直し(&Y)", Qt::CTRL | Qt::Key_Y, nullptr, &ScoreView::redo,
     false},
    {&ScoreView::Cut2, "切り取り(&T)", Qt::CTRL | Qt::Key_X, nullptr, &ScoreView::Cut1Click, false},
    {&ScoreView::Copy2, "コピー(&C)", Qt::CTRL | Qt::Key_C, nullptr, &ScoreView::Copy1Click, false},
    {&ScoreView::Paste2, "貼り付け(&P)", Qt::CTRL | Qt::Key_V, nullptr, &ScoreView::Paste1Click,
     false},
    {&ScoreView::Delete2, "削除(&D)", {}, nullptr, &ScoreView::Delete1Click, false},
    {&ScoreView::SelectAll2, "すべて選択(&L)", {}, nullptr, &ScoreView::SelectAll1Click, false},
    {&ScoreView::findAction, "検索(&F)...", Qt::CTRL | Qt::Key_F, nullptr, &ScoreView::startFind,
     false},
    {&ScoreView::replaceAction, "置換(&R)...", Qt::CTRL | Qt::Key_H, nullptr,
     &ScoreView::startReplace, false},
    {&ScoreView::findNextAction, "次を検索(&N)", Qt::Key_F3, nullptr, &ScoreView::findNext, false},
    {&ScoreView::findPreviousAction, "前を検索(&V)", Qt::SHIFT | Qt::Key_F3, nullptr,
     &ScoreView::findPrevious, false},
    {&ScoreView::GotoStart, "先頭(&S)", {}, nullptr, &ScoreView::GotoStartClick, false},
    {&ScoreView::N6, "行番号指定(&G)", {}, nullptr, &ScoreView::N6Click, false},
    {&ScoreView::GotoLast, "最後(&E)", {}, nullptr, &ScoreView::GotoLastClick, false},
    {&ScoreView::N17, "行番号(&N)", {}, "行番号", nullptr, true},
    {&ScoreView::N8p1, "小 10 p (&S)", {}, "小(10p)", nullptr, true},
    {&ScoreView::N10p1, "中 14 p (&M)", {}, "中(14p)", nullptr, true},
    {&ScoreView::N12p1, "大 20 p (&L)", {}, "大(20p)", nullptr, true},
};

}  // namespace

QFont editorFont() {
  QFont font("IPAGothic");
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPixelSize(12);
  return font;
}

ScoreView::ScoreView(EditorServices& services, ScoreDocument& document, QWidget* parent)
    : QWidget(parent), services_(services), document_(&document) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  Memo1 = new SourceEdit(document.text(), this);
  Memo1->setFont(editorFont());
  findBar_ = new FindBar(*Memo1, this);
  findBar_->hide();
  layout->addWidget(Memo1, 1);
  layout->addWidget(findBar_);
  setMouseTracking(true);
  createActions();
  connect(Memo1, &SourceEdit::shiftInsertPressed, this, &ScoreView::Paste1Click);
  connect(Memo1, &QPlainTextEdit::cursorPositionChanged, this, &ScoreView::caretMoved);
  connect(Memo1, &SourceEdit::keyReleased, this, &ScoreView::caretMoved);
  connect(Memo1, &SourceEdit::mouseMoved, this, &ScoreView::caretMoved);
  connect(Memo1, &SourceEdit::inputRefused, this, &ScoreView::inputRefused);
  GotoLine = new TGotoLine(window(), Memo1, services_);
  follower_ = new ScoreFollower(*Memo1, document, this);
  Memo1->currentBytes = [this] { return document_->size(); };
  Memo1->bytesOf = [this](const QString& text) { return encodedSize(text, document_->encoding()); };
}

ScoreView::~ScoreView() = default;

QAction* makeCommandAction(QObject* owner, const char* name, const char* text,
                           QKeyCombination shortcut, const char* hint, bool checkable) {
  auto* item = new QAction(QString::fromUtf8(text), owner);
  item->setObjectName(name);
  if (shortcut != QKeyCombination()) item->setShortcut(QKeySequence(shortcut));
  item->setCheckable(checkable);
  if (hint != nullptr) item->setToolTip(QString::fromUtf8(hint));
  item->setIconVisibleInMenu(false);
  return item;
}

void ScoreView::createActions() {
  for (const ViewActionEntry& entry : VIEW_ACTIONS) {
    QAction* item =
        makeCommandAction(this, "", entry.text, entry.shortcut, entry.hint, entry.checkable);
    if (entry.handler != nullptr) connect(item, &QAction::triggered, this, entry.handler);
    this->*entry.item = item;
  }
  auto* fonts = new QActionGroup(this);
  int index = 0;
  for (QAction* font : {N8p1, N10p1, N12p1}) {
    fonts->addAction(font);
    font->setData(index++);
    connect(font, &QAction::triggered, this, [this, font] { N10p1Click(font); });
  }
  N8p1->setChecked(true);
  connect(N17, &QAction::toggled, this, [this](bool on) {
    Memo1->setLineNumbersShown(on);
    Q_EMIT lineNumbersToggled(on);
  });
  // The editor pane handles its own Ctrl+Z/X/C/V and the desktop's redo keys; the menu shows
  // the keys and serves the other panes. A key the pane claims never reaches the shortcut, so
  // Ctrl+Y, a redo key on some desktops only, redoes once either way; the redo item follows
  // the pane's redo state at once, as a disabled item would drop the key.
  redoAction->setShortcuts(
      {QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});
  for (QAction* edit : {Undo2, redoAction, Cut2, Copy2, Paste2}) {
    edit->setShortcutContext(Qt::WindowShortcut);
  }
  connect(Memo1, &QPlainTextEdit::redoAvailable, redoAction, &QAction::setEnabled);
  redoAction->setEnabled(false);
}

void ScoreView::Undo1Click() {
  Memo1->undo();
}
void ScoreView::redo() {
  Memo1->redo();
}
void ScoreView::Cut1Click() {
  Memo1->cut();
}
void ScoreView::Copy1Click() {
  Memo1->copy();
}
void ScoreView::Delete1Click() {
  Memo1->textCursor().removeSelectedText();
}
void ScoreView::SelectAll1Click() {
  Memo1->selectAll();
}

// The clipboard's text is put back as plain text only, then pasted.
void ScoreView::Paste1Click() {
  QClipboard* clipboard = QGuiApplication::clipboard();
  const QMimeData* data = clipboard->mimeData();
  if (data != nullptr && data->hasText()) {
    clipboard->setText(clipboard->text());
    QCoreApplication::processEvents();
  }
  Memo1->paste();
}

void ScoreView::updateEditItems() {
  Undo2->setEnabled(Memo1->document()->isUndoAvailable());
  redoAction->setEnabled(Memo1->document()->isRedoAvailable());
  const bool selection = Memo1->textCursor().hasSelection();
  Cut2->setEnabled(selection);
  Copy2->setEnabled(selection);
  Delete2->setEnabled(selection);
  Paste2->setEnabled(true);
  SelectAll2->setEnabled(true);
}

void ScoreView::startFind() {
  findBar_->openFind();
}
void ScoreView::startReplace() {
  findBar_->openReplace();
}
void ScoreView::findNext() {
  findBar_->findNext();
}
void ScoreView::findPrevious() {
  findBar_->findPrevious();
}

void ScoreView::scrollCaretLineToTop() {
  QScrollBar* bar = Memo1->verticalScrollBar();
  bar->setValue(Memo1->textCursor().blockNumber());  // one step per line; clamped to the range
}

void ScoreView::moveCaretTo(int moveOperation) {
  QTextCursor cursor = Memo1->textCursor();
  cursor.movePosition(static_cast<QTextCursor::MoveOperation>(moveOperation));
  Memo1->setTextCursor(cursor);
  scrollCaretLineToTop();
  Q_EMIT caretMoved();
}

void ScoreView::GotoStartClick() {
  moveCaretTo(QTextCursor::Start);
}

void ScoreView::GotoLastClick() {
  moveCaretTo(QTextCursor::End);
}

void ScoreView::N6Click() {
  GotoLine->Edit1->selectAll();
  const int result = services_.execDialog(*GotoLine);
  Memo1->setFocus();
  if (result == QDialog::Accepted) {
    if (GotoLine->tag >= 0) {
      QTextCursor cursor = Memo1->textCursor();
      cursor.setPosition(GotoLine->tag);
      Memo1->setTextCursor(cursor);
    } else {
      services_.messageBox(
          window(),
          QString("指定した行番号はない(最大 %1行)").arg(editorLineCount(*Memo1->document()) + 1),
          std::nullopt, BoxButtons::Ok, BoxIcon::Stop);
    }
  }
  scrollCaretLineToTop();
}

void ScoreView::goToLine(int line) {
  const QTextBlock target = Memo1->document()->findBlockByNumber(line);
  QTextCursor cursor = Memo1->textCursor();
  if (target.isValid()) {
    cursor.setPosition(target.position());
  } else {
    cursor.clearSelection();
  }
  Memo1->setTextCursor(cursor);
  Memo1->ensureCursorVisible();
}

SourcePlace ScoreView::caret() const {
  const QTextCursor cursor = Memo1->textCursor();
  const int line = cursor.blockNumber();
  return {line, document_->byteColumn(line, cursor.positionInBlock())};
}

CaretReadout ScoreView::caretReadout() const {
  const QTextCursor cursor = Memo1->textCursor();
  const QTextDocument* text = Memo1->document();
  const QTextBlock startBlock = text->findBlock(cursor.selectionStart());
  CaretReadout readout;
  readout.line = startBlock.blockNumber() + 1;
  if (startBlock == cursor.block()) {
    const int inLine = cursor.selectionStart() - startBlock.position();
    readout.column =
        static_cast<int>(displayColumns(QStringView(startBlock.text()).left(inLine))) + 1;
  }
  readout.bytes = document_ ? document_->size() : 0;
  return readout;
}

int64_t ScoreView::caretTimeMs(const ScoreSourceMap* map) const {
  if (map == nullptr) return 0;
  const SourcePlace place = caret();
  const std::optional<ScoreSourceMap::SourceTime> time = map->timeAt(place.line, place.byte);
  return time ? time->ms : 0;
}

void ScoreView::markFailure(const FailurePlace& failure) {
  Memo1->setErrorMark(failure.line, document_->characterColumn(failure.line, failure.commandByte),
                      document_->characterColumn(failure.line, failure.pointerByte), failure.text);
}

void ScoreView::clearFailureMark() {
  Memo1->clearErrorMark();
}

void ScoreView::markCheckFailure(const FailurePlace& failure) {
  Memo1->setCheckMark(failure.line, document_->characterColumn(failure.line, failure.commandByte),
                      document_->characterColumn(failure.line, failure.pointerByte), failure.text);
}

void ScoreView::clearCheckFailure() {
  Memo1->clearCheckMark();
}

std::optional<ErrorMark> ScoreView::failureMark() const {
  return Memo1->errorMark();
}

QTextDocument& ScoreView::text() const {
  return *Memo1->document();
}

void ScoreView::focusText() {
  Memo1->setFocus();
}

void ScoreView::setInputLimit(qsizetype bytes) {
  Memo1->setInputLimit(bytes);
}

void ScoreView::showEncoding(TextEncoding encoding) {
  Memo1->highlighter().setEncoding(encoding);
}

void ScoreView::moveCaretToStart() {
  Memo1->moveCursor(QTextCursor::Start);
}

QTextCursor ScoreView::textCursor() const {
  return Memo1->textCursor();
}

void ScoreView::selectSource(int line, int fromByte, int toByte) {
  const QTextBlock block = Memo1->document()->findBlockByNumber(line);
  if (!block.isValid()) return;
  QTextCursor cursor(block);
  cursor.setPosition(block.position() + document_->characterColumn(line, fromByte));
  cursor.setPosition(block.position() + document_->characterColumn(line, toByte),
                     QTextCursor::KeepAnchor);
  Memo1->setTextCursor(cursor);
  Memo1->ensureCursorVisible();
}

void ScoreView::followCompiled(const ScoreSourceMap* map) {
  follower_->compiled(map);
}

void ScoreView::showSounding(int64_t ms) {
  follower_->follow(ms);
}

void ScoreView::clearSounding() {
  follower_->clear();
}

int ScoreView::fontSizeIndex() const {
  for (QAction* font : {N8p1, N10p1, N12p1}) {
    if (font->isChecked()) return font->data().toInt();
  }
  return 0;
}

int ScoreView::fontPoints(int index) {
  return FONT_POINTS[index >= 0 && index < 3 ? index : 0];
}

void ScoreView::N10p1Click(QAction* item) {
  item->setChecked(true);
  QFont font = Memo1->font();
  font.setPointSize(fontPoints(item->data().toInt()));
  Memo1->setFont(font);
  Q_EMIT fontSizeChosen(item->data().toInt());
  Q_EMIT caretMoved();
}
