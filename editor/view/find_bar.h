// The find bar under the editor pane: incremental plain-text search with every match shown and
// counted, next and previous with wrap-around, match case and whole word, and replace, one match
// or all of them as one undo step within the pane's capacity. What it finds, replaces or refuses
// is said in the bar itself, never in a box.
#pragma once

#include <QList>
#include <QTextCursor>
#include <QTextDocument>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class SourceEdit;

// Matches beyond this many are found and replaced but not painted, so that a one-letter search
// in a large score keeps the pane responsive.
inline constexpr int FIND_HIGHLIGHT_LIMIT = 10000;

class FindBar : public QWidget {
  Q_OBJECT
 public:
  explicit FindBar(SourceEdit& editor, QWidget* parent = nullptr);

  // Shows the bar with the search field focused and its text selected. A selection in the
  // pane that lies on one line becomes the search text; without a selection the match at or
  // after the caret is selected. openReplace shows the replace row too.
  void openFind();
  void openReplace();
  // Selects the next match after the pane's selection, or the previous one before it, wrapping
  // around at the end or the start (the bar says so); a match out of view comes to the middle of
  // the pane. Without a search text the bar opens instead. False when nothing matches.
  bool findNext();
  bool findPrevious();
  // Replaces the pane's selection when it is a match, then selects the next match.
  void replaceCurrent();
  // Replaces every match as one undo step and says how many; -1 when the result would not fit
  // the pane's capacity (nothing is replaced then).
  int replaceAll();
  // Hides the bar, clears the marks and returns the focus to the pane.
  void closeBar();

  QLineEdit* findField = nullptr;
  QLineEdit* replaceField = nullptr;
  QCheckBox* matchCase = nullptr;
  QCheckBox* wholeWord = nullptr;
  QPushButton* replaceButton = nullptr;
  QPushButton* replaceAllButton = nullptr;
  QLabel* matchCount = nullptr;  // "n / m 件": the current match of all; "m 件" without one
  // Not found, wrapped around, how many were replaced, a refused replace.
  QLabel* message = nullptr;
  QWidget* replaceRow = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QWidget* createFindRow();
  QWidget* createReplaceRow();
  void open(bool replacing);
  void reveal();
  QTextDocument::FindFlags flags() const;
  // The match at or after position (before it, backward), wrapping around (then *wrapped is
  // true); null when none.
  QTextCursor findFrom(int position, bool backward, bool* wrapped) const;
  QList<QTextCursor> allMatches() const;
  bool isMatch(const QTextCursor& cursor) const;
  bool selectMatch(int position, bool backward);
  void searchTyped();
  QList<int> matchStarts() const;
  void highlightMatches();
  void showMatchCount();
  void showMessage(const QString& text, bool notFound = false);

  SourceEdit& editor_;
  QList<int> matchStarts_;  // of every match, in order; kept while the bar shows
};
