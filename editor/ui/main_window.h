// The main window TForm1: the score view above the message pane, the menus and the tool bar
// built from tables, the status bar, the save gate and the wiring. It wires the score document,
// the score view, the compile controller and the playback controller together and shows what
// they report; each handler asks one of them and shows the result. The handlers live in one
// file per menu: main_window.cpp (construction, start-up, options, about, exit),
// main_window_menus.cpp (the tables of actions, menus and tool buttons), file_commands.cpp,
// compile_commands.cpp, export_commands.cpp and window_events.cpp.
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
#include "editor/ui/editor_paths.h"
#include "editor/ui/message_pane.h"

// How long a notice in the status bar covers the panels.
inline constexpr int STATUS_NOTICE_MS = 5000;
class AdditionalSettings;
struct AudioExportResult;
class CheckAsYouType;
class CompileController;
class ExportCommands;
class FileCommands;
struct CompileResult;
class PlaybackCommands;
class PlaybackController;
struct PlaybackStart;
class QAction;
class QMenu;
class QSplitter;
class QStatusBar;
class QToolBar;
class RollLink;
class ScoreDocument;
struct DocumentOutcome;
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

class TForm1 : public QMainWindow {
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
  QTimer* backupTimer() const { return Timer1; }

  // The live toggles, held by their actions.
  bool autoSaveOn() const;
  bool playLoopOn() const;
  bool autoPanOn() const;
  int readyTag() const { return readyTag_; }  // 1 once the window was first idle
  QString statusText(StatusPanel panel) const;

  // Operations the Parts of the program share.
  bool loadSourceFile(const QString& fileName);
  void stopPlayback();
  void deleteTempMidi();
  void updateStatusBar();
  void appendMessage(const QString& line);

 public Q_SLOTS:
  // File menu and the tool bar.
  void SpeedButton1Click();
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
  // WAV/FLAC export: compiles as the make-MIDI command does, into memory, and starts the
  // rendering into the audio file the user names, watched by a progress dialog that can cancel.
  void exportAudio();
  void korvel1Click();
  // A recently used score: opened as the open command opens a chosen file; a file that is gone
  // leaves the list with a line in the message pane.
  void openRecentFile(const QString& path);
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
  bool endedBySignal() const { return endedBySignal_; }

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
  void connectView();
  void connectRollToCheck();
  CompileSinks compileSinks();
  void loadStartupSettings();
  void applyStartupSettings(SettingsLoad loaded);
  void takeBackupLock();
  void firstIdleFocus();
  bool FormCloseQuery();
  void FormClose();
  void playerWindowClosed();
  void showLineNumbers(bool on);
  void fontSizeChosen(int index);

  void setStatusText(StatusPanel panel, const QString& text);
  void showStop(const QString& text, const BoxCaption& caption = std::nullopt);
  // The one gate before anything that replaces or discards an edited text: asks whether to
  // save it. True when the command may go on: No, or Yes and the text was saved.
  bool maybeSave();
  bool closeSource();  // the close command; false when the user kept the text
  // Shows why a save did not happen. A character code page 932 cannot hold comes with the offer
  // to save in UTF-8 instead: Yes converts the text and runs `again`.
  void reportSave(const DocumentOutcome& outcome, const std::function<DocumentOutcome()>& again);
  void convertTo(TextEncoding encoding);
  void encodingChanged(TextEncoding encoding);
  void openChosenFile(const QString& fileName);  // after the open dialog or the recent menu
  void rememberRecentFile(const QString& fileName);
  // The additional settings file's notice (a file that is neither read nor written), once a run.
  void reportSettingsNotice();
  void refreshRecentMenu();
  CompileResult compile(CompileTarget target);
  // Where compile and play starts: at the song's start (or, with the place kept, where the
  // playback it replaces was), or at the caret's time.
  enum class PlayFrom { Start, Caret, Time };
  CompileResult compileAndPlay(CompileTarget target, PlayFrom from = PlayFrom::Start,
                               int64_t fromMs = 0);
  void startPlayback(int64_t startMs);
  void playbackStarted(const PlaybackStart& started);
  void storePlaybackOptions();
  void outputFellBack(const OutputFallback& fallback);
  void audioExportFinished(const AudioExportResult& result, const QString& name);

  // The window's menus, items and tool buttons are made from the tables in
  // main_window_menus.cpp and found by their names (action(), menu(), toolButton()); the command
  // objects below hold those their commands update.
  QToolBar* ToolBar1 = nullptr;
  QAction* S1 = nullptr;  // auto pan, wired to the compile session
  QSplitter* Splitter3 = nullptr;
  MessagePane* Memo2 = nullptr;
  QStatusBar* StatusBar1 = nullptr;
  QTimer* Timer1 = nullptr;  // automatic backup, one tick a second

  EditorServices& services_;
  const EditorPaths paths_;
  StartupSettings startupSettings_;
  ScoreView* view_ = nullptr;
  std::unique_ptr<FileCommands> files_;
  std::unique_ptr<PlaybackCommands> playing_;  // outlives compiler_, which writes its file
  std::unique_ptr<ExportCommands> exports_;
  std::unique_ptr<ScoreDocument> document_;
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
