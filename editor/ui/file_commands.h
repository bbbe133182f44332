// The File menu's commands beside the main window: open, save with a ".bak" copy, save as, the
// conversion between code page 932 and UTF-8, close, files dropped onto the window, the
// recently used files with their submenu, the save gate and the automatic backup's timer. The
// score document does the work; these commands ask it, then show what it reports.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class AdditionalSettings;
class CommandWindow;
class CompileController;
class EditorServices;
class PlaybackCommands;
class QAction;
class QMenu;
class QTimer;
class QWidget;
class ScoreDocument;
struct DocumentOutcome;
enum class TextEncoding;

class FileCommands {
 public:
  // The File menu's items this holds; the window's table makes them.
  struct Actions {
    QAction* autoSave = nullptr;
    QAction* toUtf8 = nullptr;
    QAction* toCp932 = nullptr;
  };
  // The recent-files submenu and the backup timer are made here, owned by `window`.
  FileCommands(QWidget& window, Actions actions);

  // What the commands use; the window hands it over once its rooms exist, before any command.
  struct Rooms {
    ScoreDocument& document;
    AdditionalSettings& settings;
    CompileController& compiler;  // no command runs while it compiles
    EditorServices& services;
    CommandWindow& window;
    PlaybackCommands& playing;  // stopped before another text is loaded
  };
  void attach(const Rooms& rooms);

  // Loads `fileName` and remembers it among the recent files; a failure is shown. True when
  // the text was loaded.
  bool load(const QString& fileName);
  // The open command: the dialog, then the save gate and the load.
  void open();
  // A recently used score: opened as the open command opens a chosen file; a file that is gone
  // leaves the list with a line in the message pane.
  void openRecent(const QString& path);
  void save();
  void saveAs();
  void convertTo(TextEncoding encoding);
  // The close command; false when the user kept the text.
  bool close();
  // Files dropped onto the window: the first replaces the text after the close command.
  void dropped(const QStringList& names);
  // The one gate before anything that replaces or discards an edited text: asks whether to
  // save it. True when the command may go on: No, or Yes and the text was saved.
  bool maybeSave();
  // One tick of the backup timer.
  void backupTick();
  // The additional settings file's notice (a file that is neither read nor written), once a run.
  void reportSettingsNotice();
  // The recent-files submenu shows the settings' list.
  void refreshRecentMenu();

  QMenu* recentMenu() const { return recentMenu_; }
  QTimer* backupTimer() const { return backupTimer_; }
  // Only the conversion to the other encoding is offered.
  void showEncoding(TextEncoding encoding);
  bool autoSaveOn() const;
  QAction* autoSave() const { return actions_.autoSave; }

  // The file name the open dialog proposes: the last score opened, none after a failed open.
  QString lastOpenName;

 private:
  void openChosen(const QString& fileName);  // after the open dialog or the recent menu
  void remember(const QString& fileName);
  // One item a recent file: its number as the mnemonic and its path; the File menu's item of
  // the submenu is enabled while there is one.
  void showRecentFiles(const QStringList& paths);
  // Shows why a save did not happen. A character code page 932 cannot hold comes with the offer
  // to save in UTF-8 instead: Yes converts the text and runs `again`.
  void reportSave(const DocumentOutcome& outcome, const std::function<DocumentOutcome()>& again);
  bool busy() const;

  const Actions actions_;
  QMenu* recentMenu_ = nullptr;
  QTimer* backupTimer_ = nullptr;  // one tick a second
  std::optional<Rooms> rooms_;
};
