// The message pane of the main window (Memo2): read-only, reports double-clicks.
#pragma once

#include <QPlainTextEdit>

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
