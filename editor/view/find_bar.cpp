#include "editor/view/find_bar.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QToolButton>
#include <QVBoxLayout>

#include "editor/view/source_edit.h"

namespace {

const char NOT_FOUND_TEXT[] = "見つかりません";
const char REPLACED_TEXT[] = "%1 件置換しました";
const char TOO_LARGE_TEXT[] = "置換後のサイズが %1 バイトを超えるため置換しません";

constexpr int MATCH_MARK_ALPHA = 90;   // of 255: the text stays readable under the mark
constexpr qreal NOT_FOUND_TINT = 0.3;  // share of red mixed into the field's background
constexpr int FIELD_MINIMUM_WIDTH = 160;

// The palette's highlight colour, made translucent so that it marks matches on a light or a
// dark background alike while the pane's real selection stays the strongest mark.
QColor matchMarkColour(const QPalette& palette) {
  QColor colour = palette.color(QPalette::Highlight);
  colour.setAlpha(MATCH_MARK_ALPHA);
  return colour;
}

// The background mixed with red: pink on a light palette, dark red on a dark one, so the
// palette's own text colour stays readable on it.
QColor notFoundTint(const QColor& base) {
  const qreal keep = 1.0 - NOT_FOUND_TINT;
  return QColor::fromRgbF(float(base.redF() * keep + NOT_FOUND_TINT), float(base.greenF() * keep),
                          float(base.blueF() * keep));
}

bool isReturnKey(const QKeyEvent* event) {
  return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

}  // namespace

FindBar::FindBar(SourceEdit& editor, QWidget* parent) : QWidget(parent), editor_(editor) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->setSpacing(2);
  layout->addWidget(createFindRow());
  replaceRow = createReplaceRow();
  layout->addWidget(replaceRow);

  connect(findField, &QLineEdit::textEdited, this, &FindBar::searchTyped);
  for (QCheckBox* option : {matchCase, wholeWord}) {
    connect(option, &QCheckBox::toggled, this, &FindBar::searchTyped);
  }
  connect(replaceButton, &QPushButton::clicked, this, &FindBar::replaceCurrent);
  connect(replaceAllButton, &QPushButton::clicked, this, &FindBar::replaceAll);
  connect(editor_.document(), &QTextDocument::contentsChanged, this, [this] {
    if (!isHidden()) highlightMatches();
  });
  findField->installEventFilter(this);
  replaceField->installEventFilter(this);
}

QWidget* FindBar::createFindRow() {
  auto* row = new QWidget(this);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(new QLabel("検索:", row));
  findField = new QLineEdit(row);
  findField->setMinimumWidth(FIELD_MINIMUM_WIDTH);
  layout->addWidget(findField, 1);
  matchCase = new QCheckBox("大文字と小文字を区別", row);
  wholeWord = new QCheckBox("単語単位", row);
  layout->addWidget(matchCase);
  layout->addWidget(wholeWord);
  message = new QLabel(row);
  layout->addWidget(message, 1);
  auto* close = new QToolButton(row);
  close->setText("×");
  close->setToolTip("閉じる");
  close->setAutoRaise(true);
  connect(close, &QToolButton::clicked, this, &FindBar::closeBar);
  layout->addWidget(close);
  return row;
}

QWidget* FindBar::createReplaceRow() {
  auto* row = new QWidget(this);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(new QLabel("置換:", row));
  replaceField = new QLineEdit(row);
  replaceField->setMinimumWidth(FIELD_MINIMUM_WIDTH);
  layout->addWidget(replaceField, 1);
  replaceButton = new QPushButton("置換", row);
  replaceAllButton = new QPushButton("すべて置換", row);
  layout->addWidget(replaceButton);
  layout->addWidget(replaceAllButton);
  layout->addStretch(1);
  return row;
}

void FindBar::openFind() {
  open(false);
}

void FindBar::openReplace() {
  open(true);
}

void FindBar::open(bool replacing) {
  const QTextCursor cursor = editor_.textCursor();
  if (cursor.hasSelection() && editor_.document()->findBlock(cursor.selectionStart()) ==
                                   editor_.document()->findBlock(cursor.selectionEnd())) {
    findField->setText(cursor.selectedText());
  }
  replaceRow->setVisible(replacing);
  show();
  findField->setFocus();
  findField->selectAll();
  showMessage(QString());
  highlightMatches();
}

void FindBar::closeBar() {
  hide();
  editor_.setSelections(SourceEdit::SelectionLayer::Search, {});
  editor_.setFocus();
}

QTextDocument::FindFlags FindBar::flags() const {
  QTextDocument::FindFlags options;
  if (matchCase->isChecked()) options |= QTextDocument::FindCaseSensitively;
  if (wholeWord->isChecked()) options |= QTextDocument::FindWholeWords;
  return options;
}

QTextCursor FindBar::findFrom(int position, bool backward) const {
  const QString text = findField->text();
  if (text.isEmpty()) return {};
  QTextDocument* document = editor_.document();
  QTextDocument::FindFlags options = flags();
  if (backward) options |= QTextDocument::FindBackward;
  QTextCursor found = document->find(text, position, options);
  if (found.isNull()) {
    QTextCursor wrapped(document);
    wrapped.movePosition(backward ? QTextCursor::End : QTextCursor::Start);
    found = document->find(text, wrapped, options);
  }
  return found;
}

QList<QTextCursor> FindBar::allMatches(int limit) const {
  QList<QTextCursor> matches;
  const QString text = findField->text();
  if (text.isEmpty()) return matches;
  QTextCursor at(editor_.document());
  while (limit < 0 || matches.size() < limit) {
    at = editor_.document()->find(text, at, flags());
    if (at.isNull()) break;
    matches.append(at);
  }
  return matches;
}

bool FindBar::isMatch(const QTextCursor& cursor) const {
  if (!cursor.hasSelection() || findField->text().isEmpty()) return false;
  const QTextCursor found =
      editor_.document()->find(findField->text(), cursor.selectionStart(), flags());
  return found.selectionStart() == cursor.selectionStart() &&
         found.selectionEnd() == cursor.selectionEnd();
}

bool FindBar::selectMatch(int position, bool backward) {
  const QTextCursor found = findFrom(position, backward);
  if (found.isNull()) {
    if (!findField->text().isEmpty()) showMessage(NOT_FOUND_TEXT, true);
    return false;
  }
  showMessage(QString());
  editor_.setTextCursor(found);
  return true;
}

// Each change of the search text or the options selects the first match at or after the start
// of the pane's selection, so typing on extends the match in place.
void FindBar::searchTyped() {
  highlightMatches();
  if (findField->text().isEmpty()) {
    showMessage(QString());
    return;
  }
  selectMatch(editor_.textCursor().selectionStart(), false);
}

// A closed bar shows again for the marks and what it says; the focus stays where it is.
void FindBar::reveal() {
  if (!isHidden()) return;
  show();
  highlightMatches();
}

bool FindBar::findNext() {
  if (findField->text().isEmpty()) {
    openFind();
    return false;
  }
  reveal();
  return selectMatch(editor_.textCursor().selectionEnd(), false);
}

bool FindBar::findPrevious() {
  if (findField->text().isEmpty()) {
    openFind();
    return false;
  }
  reveal();
  return selectMatch(editor_.textCursor().selectionStart(), true);
}

void FindBar::replaceCurrent() {
  QTextCursor cursor = editor_.textCursor();
  if (isMatch(cursor)) {
    if (!editor_.fits(replaceField->text())) {
      showMessage(QString(TOO_LARGE_TEXT).arg(editor_.inputLimit()));
      return;
    }
    cursor.insertText(replaceField->text());
    editor_.setTextCursor(cursor);
  }
  findNext();
}

int FindBar::replaceAll() {
  // Plain ranges, not cursors: the document moves every live cursor at each edit.
  QList<std::pair<int, int>> matches;
  const QString replacement = replaceField->text();
  qsizetype removedBytes = 0;
  for (const QTextCursor& match : allMatches(-1)) {
    matches.append({match.selectionStart(), match.selectionEnd()});
    removedBytes += editor_.byteSize(match.selectedText());
  }
  if (matches.isEmpty()) {
    showMessage(NOT_FOUND_TEXT, true);
    return 0;
  }
  if (!editor_.fitsChange(removedBytes, matches.size() * editor_.byteSize(replacement))) {
    showMessage(QString(TOO_LARGE_TEXT).arg(editor_.inputLimit()));
    return -1;
  }
  // From the last match to the first, so that each replacement leaves the earlier ranges as
  // they were; the caret ends after the last replacement, as a forward pass would leave it. The
  // marks of the matches are cursors the document would move at every replacement: they go
  // first.
  editor_.setSelections(SourceEdit::SelectionLayer::Search, {});
  QTextCursor edit(editor_.document());
  edit.beginEditBlock();
  for (auto match = matches.crbegin(); match != matches.crend(); ++match) {
    edit.setPosition(match->first);
    edit.setPosition(match->second, QTextCursor::KeepAnchor);
    edit.insertText(replacement);
  }
  edit.endEditBlock();
  qsizetype shift = 0;  // how far the last match moved as the earlier ones were replaced
  for (qsizetype i = 0; i + 1 < matches.size(); ++i)
    shift += replacement.size() - (matches[i].second - matches[i].first);
  edit.setPosition(int(matches.last().first + shift + replacement.size()));
  editor_.setTextCursor(edit);
  showMessage(QString(REPLACED_TEXT).arg(matches.size()));
  return int(matches.size());
}

void FindBar::highlightMatches() {
  QList<QTextEdit::ExtraSelection> marks;
  if (!isHidden()) {
    QTextCharFormat format;
    format.setBackground(matchMarkColour(editor_.palette()));
    for (const QTextCursor& match : allMatches(FIND_HIGHLIGHT_LIMIT)) marks.append({match, format});
  }
  editor_.setSelections(SourceEdit::SelectionLayer::Search, marks);
}

// The tint sets the field's background only and goes again with an empty palette, so the field
// follows the desktop's colours otherwise.
void FindBar::showMessage(const QString& text, bool notFound) {
  message->setText(text);
  QPalette tinted;
  if (notFound) tinted.setColor(QPalette::Base, notFoundTint(palette().color(QPalette::Base)));
  findField->setPalette(tinted);
}

// In the two fields Enter finds the next match, Shift+Enter the previous one, and Esc closes
// the bar. Ctrl+F and Ctrl+H are left to the window's commands (a line edit would take them as
// cursor keys), so they switch between find and replace from the bar as well.
bool FindBar::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() == Qt::ControlModifier &&
        (key->key() == Qt::Key_F || key->key() == Qt::Key_H)) {
      return true;  // not accepted: the shortcut fires
    }
  } else if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Escape) {
      closeBar();
      return true;
    }
    if (isReturnKey(key)) {
      if (key->modifiers() & Qt::ShiftModifier) {
        findPrevious();
      } else {
        findNext();
      }
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void FindBar::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    closeBar();
    return;
  }
  QWidget::keyPressEvent(event);
}
