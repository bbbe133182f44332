// What the file, play and export commands need of the window that hosts them: a parent for
// their boxes and dialogs, the stop box, the message pane and the status bar's read-out.
#pragma once

#include <QString>

#include "editor/editor_services.h"

class QWidget;

class CommandWindow {
 public:
  virtual ~CommandWindow() = default;

  // The window the boxes and dialogs belong to; its caption says when a backup is written.
  virtual QWidget& widget() = 0;
  // A box with the stop icon and one OK button.
  virtual void showStop(const QString& text, const BoxCaption& caption = std::nullopt) = 0;
  virtual void appendMessage(const QString& line) = 0;
  virtual void clearMessages() = 0;
  // The line, column and size panels read the view again.
  virtual void updateStatusBar() = 0;
  // True once a terminating signal ended the run: nothing more is to be started.
  virtual bool endedBySignal() const = 0;
};
