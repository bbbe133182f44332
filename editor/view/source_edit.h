// The score editor pane (Memo1): a plain-text widget with the capacity check, the margin and
// the layers of marks the score view puts on it.
#pragma once

#include <QMap>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <functional>
#include <optional>

class ScoreHighlighter;

// A compiler report placed in the editor pane: the line (0-based block number), the characters
// in it (positions within the block) under the report's "?" and where the failing command
// starts, and the report's text.
struct ErrorMark {
  int line = -1;
  int column = 0;
  int commandColumn = 0;
  QString text;
};

// The editor pane: a plain-text editor that refuses typed, pasted or composed (input method)
// input beyond its capacity, and says so, and hands Shift+Insert to the main window's paste
// command. Files dragged onto either pane are left to the main window, which opens them; text is
// dragged and dropped as usual. A margin on its left shows the line numbers when they are on, and
// the mark of a failed compilation.
class SourceEdit : public QPlainTextEdit {
  Q_OBJECT
 public:
  // Shows `text`, which outlives the pane, and gives it the plain-text layout the pane needs.
  explicit SourceEdit(QTextDocument& text, QWidget* parent = nullptr);

  // Bytes of code page 932 text the pane accepts from typing and pasting.
  void setInputLimit(qsizetype bytes) { inputLimit_ = bytes; }
  qsizetype inputLimit() const { return inputLimit_; }
  // Counts the bytes the text would have; set by the main window (it keeps the counts).
  std::function<qsizetype()> currentBytes;
  std::function<qsizetype(const QString&)> bytesOf;

  // True when the text stays within the capacity with `removedBytes` taken out and
  // `insertedBytes` put in; always true without a capacity or the counters.
  bool fitsChange(qsizetype removedBytes, qsizetype insertedBytes) const;
  // True when `inserted` fits in place of the selection.
  bool fits(const QString& inserted) const;
  // What inputRefused() says: the capacity and that the input was not taken.
  QString inputRefusedText() const;
  qsizetype byteSize(const QString& text) const { return bytesOf ? bytesOf(text) : 0; }

  // Extra selections by their owner, shown together.
  // Later layers are drawn over earlier ones: a compilation's mark over the check's.
  enum class SelectionLayer { CheckMark, ErrorMark, Search, Playing };
  void setSelections(SelectionLayer layer, const QList<QTextEdit::ExtraSelection>& selections);

  void setLineNumbersShown(bool shown);
  bool lineNumbersShown() const { return lineNumbersShown_; }
  // The mark of a failed compilation: a sign in the margin beside the line and a tinted, wavy
  // underlined span over the failing command, from fromColumn up to the character under the
  // report's "?" at toColumn; hovering either shows the text. It goes with clearErrorMark() or
  // when its line is edited, and follows its line when lines are added or removed above it.
  void setErrorMark(int line, int fromColumn, int toColumn, const QString& text);
  void clearErrorMark();
  std::optional<ErrorMark> errorMark() const;
  // The mark of a check as you type: the same span and tool tip, drawn apart from the
  // compilation's mark (a dotted amber underline, no sign in the margin, so that the text does
  // not move as checks come and go). It goes with clearCheckMark() or when its line is edited.
  void setCheckMark(int line, int fromColumn, int toColumn, const QString& text);
  void clearCheckMark();
  std::optional<ErrorMark> checkMark() const;

  // The colours of the text, by the compiler's reading of each line.
  ScoreHighlighter& highlighter() const { return *highlighter_; }

  // The margin: its width (0 when it has nothing to show), painting and tool tip.
  int marginWidth() const;
  void paintMargin(QWidget& margin, const QRect& area);
  QString marginToolTip(const QPoint& position) const;

 Q_SIGNALS:
  // Typed, pasted, dropped or composed input was dropped whole for want of room; once for each
  // key, paste, drop or composition. `notice` is inputRefusedText().
  void inputRefused(const QString& notice);
  void shiftInsertPressed();
  void keyReleased();
  void mouseMoved();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void insertFromMimeData(const QMimeData* source) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  bool viewportEvent(QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void updateMargin();
  std::pair<int, int> linesInView() const;
  void contentsChanged(int position, int removed, int added);
  void applySelections();
  QTextCursor placeMark(int line, int fromColumn, int toColumn) const;
  QTextCursor underlinedSpan(const QTextCursor& mark) const;
  QColor markColour() const;
  QColor markBackground() const;
  QColor checkColour() const;
  QColor checkBackground() const;
  QRect markedCharacterRect(const QTextCursor& mark) const;
  void refuseInput();

  qsizetype inputLimit_ = 0;  // 0: no limit
  QWidget* margin_ = nullptr;
  ScoreHighlighter* highlighter_ = nullptr;
  bool lineNumbersShown_ = false;
  QTextCursor markCursor_;  // at the marked character, moved along by edits; null: no mark
  QString markText_;
  QTextCursor checkCursor_;  // the check's mark, kept as the compilation's is
  QString checkText_;
  QMap<SelectionLayer, QList<QTextEdit::ExtraSelection>> layers_;
};
