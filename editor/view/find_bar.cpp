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
#include <algorithm>

#include "editor/view/source_edit.h"

namespace {

const char NOT_FOUND_TEXT[] = "見つかりません";
const char REPLACED_TEXT[] = "%1 件置換しました";
const char TOO_LARGE_TEXT[] = "置換後のサイズが %1 バイトを超えるため置換しません";
const char WRAPPED_TO_START_TEXT[] = "先頭から検索しました";
const char WRAPPED_TO_END_TEXT[] = "末尾から検索しました";
const char CURRENT_MATCH_TEXT[] = "%1 / %2 件";
const char MATCH_COUNT_TEXT[] = "%1 件";

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

  // The marks and the count follow every change of the search; only the user's selects.
  connect(findField, &QLineEdit::textChanged, this, &FindBar::highlightMatches);
  connect(findField, &QLineEdit::textEdited, this, &FindBar::searchTyped);
  for (QCheckBox* option : {matchCase, wholeWord}) {
    connect(option, &QCheckBox::toggled, this, [this] {
      highlightMatches();
      searchTyped();
    });
  }
  connect(replaceButton, &QPushButton::clicked, this, &FindBar::replaceCurrent);
  connect(replaceAllButton, &QPushButton::clicked, this, &FindBar::replaceAll);
  connect(editor_.document(), &QTextDocument::contentsChanged, this, [this] {
    if (!isHidden()) highlightMatches();
  });
  connect(&editor_, &QPlainTextEdit::selectionChanged, this, &FindBar::showMatchCount);
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
  matchCount = new QLabel(row);
  layout->addWidget(matchCount);
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

// Without a selection in the pane, the match at or after the caret becomes the current one, so
// that the count shows where it is and the first replace replaces it.
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
  if (!cursor.hasSelection() && !findField->text().isEmpty()) {
    selectMatch(cursor.position(), false);
  }
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

QTextCursor FindBar::findFrom(int position, bool backward, bool* wrapped) const {
  *wrapped = false;
  const QString text = findField->text();
  if (text.isEmpty()) return {};
  QTextDocument* document = editor_.document();
  QTextDocument::FindFlags options = flags();
  if (backward) options |= QTextDocument::FindBackward;
  QTextCursor found = document->find(text, position, options);
  if (found.isNull()) {
    QTextCursor end(document);
    end.movePosition(backward ? QTextCursor::End : QTextCursor::Start);
    found = document->find(text, end, options);
    *wrapped = !found.isNull();
  }
  return found;
}

QList<QTextCursor> FindBar::allMatches() const {
  QList<QTextCursor> matches;
  const QString text = findField->text();
  if (text.isEmpty()) return matches;
  QTextCursor at(editor_.document());
  while (true) {
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

// A match out of view is brought to the middle of the pane, with the lines around it; one in
// view stays where it is.
bool FindBar::selectMatch(int position, bool backward) {
  bool wrapped = false;
  const QTextCursor found = findFrom(position, backward, &wrapped);
  if (found.isNull()) {
    if (!findField->text().isEmpty()) showMessage(NOT_FOUND_TEXT, true);
    return false;
  }
  showMessage(!wrapped ? QString() : backward ? WRAPPED_TO_END_TEXT : WRAPPED_TO_START_TEXT);
  QTextCursor start = found;
  start.setPosition(found.selectionStart());
  const bool inView = editor_.viewport()->rect().contains(editor_.cursorRect(start));
  editor_.setTextCursor(found);
  if (!inView) editor_.centerCursor();
  return true;
}

// Each change of the search text or the options selects the first match at or after the start
// of the pane's selection, so typing on extends the match in place.
void FindBar::searchTyped() {
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
  for (const QTextCursor& match : allMatches()) {
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

// The matches QTextDocument::find() gives one after the other from the start, read line by line
// without a cursor for each: a hit that is no whole word is passed over with the character after
// it, and no-break spaces match spaces, as find() has it.
QList<int> FindBar::matchStarts() const {
  QList<int> starts;
  const QString text = findField->text();
  if (text.isEmpty()) return starts;
  const Qt::CaseSensitivity sensitivity =
      matchCase->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive;
  const bool wholeWords = wholeWord->isChecked();
  for (QTextBlock block = editor_.document()->begin(); block.isValid(); block = block.next()) {
    QString line = block.text();
    line.replace(QChar::Nbsp, u' ');
    qsizetype at = 0;
    while ((at = line.indexOf(text, at, sensitivity)) >= 0) {
      const qsizetype end = at + text.size();
      if (wholeWords && ((at > 0 && line.at(at - 1).isLetterOrNumber()) ||
                         (end < line.size() && line.at(end).isLetterOrNumber()))) {
        at = end + 1;
        continue;
      }
      starts.append(block.position() + int(at));
      at = end;
    }
  }
  return starts;
}

// Every match is counted; the first FIND_HIGHLIGHT_LIMIT are marked.
void FindBar::highlightMatches() {
  QList<QTextEdit::ExtraSelection> marks;
  matchStarts_ = isHidden() ? QList<int>() : matchStarts();
  QTextCharFormat format;
  format.setBackground(matchMarkColour(editor_.palette()));
  const int length = int(findField->text().size());
  for (qsizetype i = 0; i < qMin(matchStarts_.size(), qsizetype(FIND_HIGHLIGHT_LIMIT)); ++i) {
    QTextCursor match(editor_.document());
    match.setPosition(matchStarts_[i]);
    match.setPosition(matchStarts_[i] + length, QTextCursor::KeepAnchor);
    marks.append({match, format});
  }
  editor_.setSelections(SourceEdit::SelectionLayer::Search, marks);
  showMatchCount();
}

// Matches are as long as the search text, so the pane's selection is the current match when it
// starts where one does and has that length.
void FindBar::showMatchCount() {
  if (isHidden() || findField->text().isEmpty() || matchStarts_.isEmpty()) {
    matchCount->clear();
    return;
  }
  const QTextCursor cursor = editor_.textCursor();
  const auto at =
      std::lower_bound(matchStarts_.cbegin(), matchStarts_.cend(), cursor.selectionStart());
  const bool current = at != matchStarts_.cend() && *at == cursor.selectionStart() &&
                       cursor.selectionEnd() - cursor.selectionStart() == findField->text().size();
  matchCount->setText(
      current
          ? QString(CURRENT_MATCH_TEXT).arg(at - matchStarts_.cbegin() + 1).arg(matchStarts_.size())
          : QString(MATCH_COUNT_TEXT).arg(matchStarts_.size()));
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
