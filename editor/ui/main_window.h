// The main window TForm1: the score view above the message pane, the menus and the tool bar
// built from tables, the status bar and the wiring. It wires the score document, the score
// view, the compile controller and the command objects (file, play, export) together and shows
// what they report. main_window.cpp holds construction, start-up, options, about and exit;
// main_window_menus.cpp the tables of actions, menus and tool buttons; window_commands.cpp the
// handlers the tables name, each handing its command to the object that owns it;
// window_events.cpp the status bar's read-out and the window's own keys.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <memory>

#include "editor/compile/compile_sinks.h"
#include "editor/editor_services.h"
#include "editor/settings/settings_file.h"
#include "editor/ui/command_window.h"
#include "editor/ui/editor_paths.h"
#include "editor/ui/message_pane.h"

// How long a notice in the status bar covers the panels.
inline constexpr int STATUS_NOTICE_MS = 5000;
class AdditionalSettings;
class CheckAsYouType;
class CompileController;
class ExportCommands;
class FileCommands;
class PlaybackCommands;
class PlaybackController;
class QAction;
class QMenu;
class QSplitter;
class QStatusBar;
class QToolBar;
class RollLink;
class ScoreDocument;
enum class TextEncoding;
class TForm2;
class ScoreView;
class TLogoForm;
class TTarvikOption;

inline constexpr qsizetype EDITOR_INPUT_LIMIT = 1000000;  // bytes of typed input

// The status bar's panels, left to right.
enum StatusPanel {
  PANEL_LINE,
  PANEL_COLUMN,
  PANEL_MODIFIED,
  PANEL_SIZE,
  PANEL_AT,
  PANEL_ENCODING,
  PANEL_COUNT
};

class TForm1 : public QMainWindow, public CommandWindow {
  Q_OBJECT
 public:
  // `arguments` are the command-line arguments after the program name.
  TForm1(EditorServices& services, EditorPaths paths, QStringList arguments,
         QWidget* parent = nullptr);
  ~TForm1() override;

  // The rooms the window wires together.
  ScoreDocument& document() const { return *document_; }
  ScoreView& view() const { return *view_; }
  CompileController& compiler() const { return *compiler_; }
  PlaybackController& playback() const;
  AdditionalSettings& additionalSettings() const { return *additionalSettings_; }
  CheckAsYouType& checkAsYouType() const { return *checkAsYouType_; }

  // Windows created with the main window.
  TForm2* Form2 = nullptr;
  TTarvikOption* TarvikOption = nullptr;

  // The window's own controls, by their names: a menu item of the window's table ("N4", "S1"),
  // a tool button ("SpeedButton12"), a menu ("recentFilesMenu"); nullptr for another name. The
  // view's items are the view's (view().Undo2).
  QAction* action(const char* name) const;
  QToolButton* toolButton(const char* name) const;
  QMenu* menu(const char* name) const;
  MessagePane* messagePane() const { return Memo2; }
  RollLink& rollLink() const { return *rollLink_; }
  QTimer* backupTimer() const;

  // The live toggles, held by their actions.
  bool autoSaveOn() const;
  bool playLoopOn() const;
  bool autoPanOn() const;
  int readyTag() const { return readyTag_; }  // 1 once the window was first idle
  QString statusText(StatusPanel panel) const;

  // Operations the Parts of the program share.
  bool loadSourceFile(const QString& fileName);
  void stopPlayback();
  void updateStatusBar() override;
  void appendMessage(const QString& line) override;
  void clearMessages() override;
  QWidget& widget() override { return *this; }

 public Q_SLOTS:
  // File menu and the tool bar.
  void Open1Click();
  void importMidiFile();  // editor/ui/midi_import_command.cpp
  void Close1Click();
  void Save1Click();
  void N1Click();
  void N16Click();
  void convertToUtf8();
  void convertToCp932();
  void Exit1Click();
  void midi1Click();
  void exportAudio();  // WAV/FLAC
  void korvel1Click();
  // View menu.
  void N17Click();
  void N19Click();
  // Run menu.
  void N4Click();
  void playFromCaret();           // Shift+F9: compile, then play from the caret's time
  void playFromTime(int64_t ms);  // compile, then play from `ms` (the piano roll's ruler)
  void followScore();             // at each refresh of the player window
  void N13Click();
  void S1Click();
  // Help menu.
  void vantor1Click();
  void about1Click();
  // Window and pane events.
  void Memo1Change();
  void Memo2DblClick();
  void Timer1Timer();
  void MediaPlayer1Notify();
  void FormKeyUp(int key);
  void FormMouseMove();
  // Files dropped onto the window, first name first.
  void filesDropped(const QStringList& names);
  // A terminating signal arrived: keep the edited text in the backup file and end.
  void endOnSignal();
  // The desktop session is ending: the edited text goes to the backup file so that the next
  // start offers it. True when it is there.
  bool preserveUnsavedText();

 public:
  bool endedBySignal() const override { return endedBySignal_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormCreate(const QStringList& arguments);
  void createActions();
  void createMenus();
  void createToolBar();
  void createCommands();
  void createPanes();
  void createStatusBar();
  void createPlayerWindow();
  void createRooms();
  void connectRooms();
  void connectCommands();
  void connectView();
  void connectRollToCheck();
  CompileSinks compileSinks();
  void loadStartupSettings();
  void applyStartupSettings(SettingsLoad loaded);
  void takeBackupLock();
  void firstIdleFocus();
  bool FormCloseQuery();
  void FormClose();
  void showLineNumbers(bool on);
  void fontSizeChosen(int index);

  void setStatusText(StatusPanel panel, const QString& text);
  void showStop(const QString& text, const BoxCaption& caption = std::nullopt) override;
  void encodingChanged(TextEncoding encoding);

  // The window's menus, items and tool buttons are made from the tables in
  // main_window_menus.cpp and found by their names (action(), menu(), toolButton()); the command
  // objects below hold those their commands update.
  QToolBar* ToolBar1 = nullptr;
  QAction* S1 = nullptr;  // auto pan, wired to the compile session
  QSplitter* Splitter3 = nullptr;
  MessagePane* Memo2 = nullptr;
  QStatusBar* StatusBar1 = nullptr;

  EditorServices& services_;
  const EditorPaths paths_;
  StartupSettings startupSettings_;
  std::unique_ptr<FileCommands> files_;
  std::unique_ptr<PlaybackCommands> playing_;  // outlives compiler_, which writes its file
  std::unique_ptr<ExportCommands> exports_;
  std::unique_ptr<ScoreDocument> document_;
  std::unique_ptr<ScoreView> view_;  // goes before the document, whose text it shows
  std::unique_ptr<CompileController> compiler_;
  std::unique_ptr<AdditionalSettings> additionalSettings_;
  std::unique_ptr<CheckAsYouType> checkAsYouType_;  // destroyed first: it uses the rooms above
  QLabel* statusPanels_[PANEL_COUNT] = {};
  QPointer<TLogoForm> logoForm_;
  RollLink* rollLink_ = nullptr;
  int readyTag_ = 0;
  bool endedBySignal_ = false;

  friend struct WindowTables;
};
