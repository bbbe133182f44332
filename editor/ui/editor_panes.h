// The two text panes of the main window: the score editor (Memo1) and the read-only message
// pane (Memo2). Both are plain-text widgets; the subclasses add what the main window needs from
// their events.
#pragma once

#include <QPlainTextEdit>
#include <functional>

// The editor pane: a plain-text editor that refuses typed, pasted or composed (input method)
// input beyond its capacity
// and hands Shift+Insert to the main window's paste command. Files dragged onto either pane
// are left to the main window, which opens them; text is dragged and dropped as usual.
class SourceEdit : public QPlainTextEdit {
  Q_OBJECT
 public:
  explicit SourceEdit(QWidget* parent = nullptr);

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
  qsizetype byteSize(const QString& text) const { return bytesOf ? bytesOf(text) : 0; }

 Q_SIGNALS:
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

 private:
  qsizetype inputLimit_ = 0;  // 0: no limit
};

// The message pane: read-only, reports double-clicks.
class MessagePane : public QPlainTextEdit {
  Q_OBJECT
 public:
  explicit MessagePane(QWidget* parent = nullptr);

 Q_SIGNALS:
  void doubleClicked();

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
};
