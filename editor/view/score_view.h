// The score view: the editor pane (Memo1) over one score document, with the find bar under it,
// the go-to-line dialog, the colours, the line numbers and fonts, the marks of a failed
// compilation or check and the marks of what sounds while the score plays. It answers what the
// rest of the editor asks of a text view in the compiler's terms (the caret as a line and a byte
// of the document's encoding, the play time at the caret, the readout for the status bar), and its
// commands (edit, find, go to, line numbers, fonts) come from its own table of actions, which
// the main window places in its menus and tool bar.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <optional>

#include "editor/view/source_edit.h"

class EditorServices;
class FindBar;
class QAction;
class QTextDocument;
class ScoreDocument;
class ScoreFollower;
class ScoreSourceMap;
class TGotoLine;
enum class TextEncoding;

// Where the caret stands as the compiler reads the text: the 0-based line and the byte in it.
struct SourcePlace {
  int line = 0;
  int byte = 0;
};

// A failing command to mark: its 0-based line, the bytes in that line where the command starts
// and where the report's "?" stands, and the report's text, shown on hover.
struct FailurePlace {
  int line = 0;
  int commandByte = 0;
  int pointerByte = 0;
  QString text;
};

// What the status bar shows of the caret: the 1-based line of the selection's start, its 1-based
// column counted as code page 932 counts the line (a full-width character 2, a half-width one
// 1; none when a forward selection starts on an earlier line) and the text's size in bytes.
struct CaretReadout {
  int line = 1;
  std::optional<int> column;
  qsizetype bytes = 0;
};

class ScoreView : public QWidget {
  Q_OBJECT
 public:
  // The view of `document`, whose text the pane shows; the document outlives the view.
  ScoreView(EditorServices& services, ScoreDocument& document, QWidget* parent = nullptr);
  ~ScoreView() override;

  // The text the pane shows, with its undo history: the document's.
  QTextDocument& text() const;
  void focusText();
  // Typed, pasted or composed input beyond `bytes` of the document's encoding is refused
  // (inputRefused says so).
  void setInputLimit(qsizetype bytes);
  // The highlighting counts bytes in the document's encoding.
  void showEncoding(TextEncoding encoding);
  void moveCaretToStart();
  // The pane's cursor: the caret and the selection.
  QTextCursor textCursor() const;
  // Selects the bytes [fromByte, toByte) of 0-based `line`, as the compiler reads them, and
  // scrolls them into sight; nothing when the text has no such line.
  void selectSource(int line, int fromByte, int toByte);

  // The view's commands.
  QAction* Undo2 = nullptr;
  QAction* redoAction = nullptr;
  QAction* Cut2 = nullptr;
  QAction* Copy2 = nullptr;
  QAction* Paste2 = nullptr;
  QAction* Delete2 = nullptr;
  QAction* SelectAll2 = nullptr;
  QAction* findAction = nullptr;
  QAction* replaceAction = nullptr;
  QAction* findNextAction = nullptr;
  QAction* findPreviousAction = nullptr;
  QAction* GotoStart = nullptr;
  QAction* N6 = nullptr;
  QAction* GotoLast = nullptr;
  QAction* N17 = nullptr;  // line numbers
  QAction* N8p1 = nullptr;
  QAction* N10p1 = nullptr;
  QAction* N12p1 = nullptr;

  // The caret and the selection in the compiler's terms.
  SourcePlace caret() const;
  CaretReadout caretReadout() const;
  // The play time of the first event at or after the caret in the caret's channel block (see
  // ScoreSourceMap::timeAt); 0 without a map or outside every channel block.
  int64_t caretTimeMs(const ScoreSourceMap* map) const;
  // Puts the caret at the start of 0-based `line` (the last line when there are fewer) and
  // shows it.
  void goToLine(int line);

  // The mark of a failed compilation over its command, and its removal.
  void markFailure(const FailurePlace& failure);
  void clearFailureMark();
  // The mark of a failed check as you type: the same place, drawn apart from the compilation's.
  void markCheckFailure(const FailurePlace& failure);
  void clearCheckFailure();
  // The mark of the last failed compilation, while it stands.
  std::optional<ErrorMark> failureMark() const;

  // Follow the score: `map` is what is played now (the text is as it was compiled); show marks
  // what sounds at `ms`; clear takes the marks away.
  void followCompiled(const ScoreSourceMap* map);
  void showSounding(int64_t ms);
  void clearSounding();
  ScoreFollower& follower() const { return *follower_; }

  // The chosen font size, 0 to 2 (10, 14 and 20 points).
  int fontSizeIndex() const;
  static int fontPoints(int index);

 public Q_SLOTS:
  void Undo1Click();
  void redo();
  void Cut1Click();
  void Copy1Click();
  void Paste1Click();
  void Delete1Click();
  void SelectAll1Click();
  void updateEditItems();  // the edit items' enabled states, before the menu shows
  void startFind();
  void startReplace();
  void findNext();
  void findPrevious();
  void GotoStartClick();
  void N6Click();
  void GotoLastClick();
  // A font item or button: the pane takes its size and the item is checked (the three form one
  // exclusive group).
  void N10p1Click(QAction* item);

 Q_SIGNALS:
  // The caret, the selection or the size changed as the status bar shows them.
  void caretMoved();
  // A font size was chosen (0 to 2), after the pane took it.
  void fontSizeChosen(int index);
  void lineNumbersToggled(bool shown);
  // Input was refused: the notice for the status bar.
  void inputRefused(const QString& notice);

 private:
  void createActions();
  void scrollCaretLineToTop();
  void moveCaretTo(int moveOperation);

  SourceEdit* Memo1 = nullptr;
  FindBar* findBar_ = nullptr;  // under the pane, hidden until a find command
  TGotoLine* GotoLine = nullptr;
  EditorServices& services_;
  ScoreDocument* document_ = nullptr;
  ScoreFollower* follower_ = nullptr;
};

// The editor font: a fixed-pitch Japanese face, 12 pixels until a font command sets points.
QFont editorFont();

// A command's action as the window's and the view's tables make it: named, with its caption,
// shortcut, tool-button hint (or nullptr) and checkability; no icon in menus.
QAction* makeCommandAction(QObject* owner, const char* name, const char* text,
                           QKeyCombination shortcut, const char* hint, bool checkable);
