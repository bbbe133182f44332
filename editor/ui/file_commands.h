// The File menu's state beside the main window: the recently used files' submenu, the items
// whose state follows the document (auto save, the conversion to the other encoding) and the
// name the open dialog proposes. The window's file commands ask it and update it.
#pragma once

#include <QString>
#include <QStringList>

class QAction;
class QMenu;
class QWidget;
enum class TextEncoding;

class FileCommands {
 public:
  // The File menu's items this holds; the window's table makes them.
  struct Actions {
    QAction* autoSave = nullptr;
    QAction* toUtf8 = nullptr;
    QAction* toCp932 = nullptr;
  };
  // The recent-files submenu is made here, owned by `window`.
  FileCommands(QWidget& window, Actions actions);

  QMenu* recentMenu() const { return recentMenu_; }
  // One item a recent file: its number as the mnemonic and its path; the File menu's item of
  // the submenu is enabled while there is one.
  void showRecentFiles(const QStringList& paths);
  // Only the conversion to the other encoding is offered.
  void showEncoding(TextEncoding encoding);
  bool autoSaveOn() const;
  QAction* autoSave() const { return actions_.autoSave; }

  // The file name the open dialog proposes: the last score opened, none after a failed open.
  QString lastOpenName;

 private:
  const Actions actions_;
  QMenu* recentMenu_ = nullptr;
};
