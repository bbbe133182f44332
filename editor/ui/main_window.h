// The main window TForm1: the editor pane, the message pane, the menus, the tool bar and the
// status bar, and every command behind them. The commands live in one file per concern:
// main_window.cpp (construction, start-up, exit), file_commands.cpp (open, save, close, drop,
// automatic backup), compile_commands.cpp (compile, play, make MIDI file, compiled data, error
// jump, manual) and editing_commands.cpp (edit menu, go-to-line, status bar, keys, fonts).
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <QToolButton>
#include <memory>

#include "editor/document/backup_lock.h"
#include "editor/document/byte_counter.h"
#include "editor/ui/editor_panes.h"
#include "editor/editor_services.h"
#include "editor/ui/editor_state.h"
#include "editor/settings/settings_file.h"

class QAction;
class QButtonGroup;
class QMenu;
class QSplitter;
class QStatusBar;
class QToolBar;
class TForm2;
class TGotoLine;
class TLogoForm;
class TTarvikOption;
struct CompileSession;
class EditorCompileHost;

inline constexpr qsizetype EDITOR_INPUT_LIMIT = 1000000;  // bytes of typed input

class TForm1 : public QMainWindow {
  Q_OBJECT
 public:
  // `arguments` are the command-line arguments after the program name.
  TForm1(EditorServices& services, EditorPaths paths, QStringList arguments,
         QWidget* parent = nullptr);
  ~TForm1() override;

  EditorServices& services;
  const EditorPaths paths;
  EditorState state;
  BackupLock backupLock;
  StartupSettings startupSettings;
  std::unique_ptr<CompileSession> session;  // the one compile session of the run
  int readyTag = 0;                         // 1 once the window was first idle

  // Windows created with the main window.
  TForm2* Form2 = nullptr;
  TGotoLine* GotoLine = nullptr;
  TTarvikOption* TarvikOption = nullptr;
  QPointer<TLogoForm> LogoForm;

  // Controls.
  QToolBar* ToolBar1 = nullptr;
  QToolButton* SpeedButton1 = nullptr;   // open
  QToolButton* SpeedButton3 = nullptr;   // save
  QToolButton* SpeedButton6 = nullptr;   // AutoSave
  QToolButton* SpeedButton4 = nullptr;   // make MIDI file
  QToolButton* SpeedButton2 = nullptr;   // compile and play
  QToolButton* SpeedButton5 = nullptr;   // PlayLoop
  QToolButton* SpeedButton7 = nullptr;   // line numbers (disabled)
  QToolButton* SpeedButton8 = nullptr;   // 10 points
  QToolButton* SpeedButton9 = nullptr;   // 14 points
  QToolButton* SpeedButton10 = nullptr;  // 20 points
  QToolButton* SpeedButton12 = nullptr;  // autoPan
  SourceEdit* Memo1 = nullptr;
  QSplitter* Splitter3 = nullptr;
  MessagePane* Memo2 = nullptr;
  QStatusBar* StatusBar1 = nullptr;
  QLabel* statusPanels[5] = {};
  QTimer* Timer1 = nullptr;  // automatic backup, one tick a second

  // Menus and their items.
  QMenu* File1 = nullptr;
  QMenu* Edit1 = nullptr;
  QMenu* GoTo1 = nullptr;
  QMenu* Show1 = nullptr;
  QMenu* N3 = nullptr;
  QMenu* N12 = nullptr;
  QMenu* N5 = nullptr;
  QAction* Open1 = nullptr;
  QAction* Close1 = nullptr;
  QAction* midi1 = nullptr;
  QAction* korvel1 = nullptr;
  QAction* Save1 = nullptr;
  QAction* N16 = nullptr;
  QAction* N1 = nullptr;
  QAction* Exit1 = nullptr;
  QAction* Undo2 = nullptr;
  QAction* Cut2 = nullptr;
  QAction* Copy2 = nullptr;
  QAction* Paste2 = nullptr;
  QAction* Delete2 = nullptr;
  QAction* SelectAll2 = nullptr;
  QAction* GotoStart = nullptr;
  QAction* N6 = nullptr;
  QAction* GotoLast = nullptr;
  QAction* N17 = nullptr;
  QAction* N19 = nullptr;
  QAction* N4 = nullptr;
  QAction* N13 = nullptr;
  QAction* S1 = nullptr;
  QAction* N8p1 = nullptr;
  QAction* N10p1 = nullptr;
  QAction* N12p1 = nullptr;
  QAction* vantor1 = nullptr;
  QAction* about1 = nullptr;

  // Live toggles, read from the controls that hold them.
  bool autoSaveOn() const;
  bool playLoopOn() const;
  bool autoPanOn() const;

  // The status panel 2 text ("変更あり" or empty) and friends, for the commands and tests.
  QString statusText(int panel) const;
  void setStatusText(int panel, const QString& text);

  // The editor text as code page 932 bytes with CR LF line ends; std::nullopt after the stop
  // box naming a character that code page 932 cannot hold.
  std::optional<QByteArray> editorBytes(const QString& purpose);
  qsizetype editorSize() const;  // bytes, each line end counting 2

  // Shared operations.
  bool loadSourceFile(const QString& fileName);
  void sourceOpened(const QString& fileName, qsizetype size);
  void sourceOpenFailed();
  void nameSource(const QString& name);
  void stopPlayback();
  void deleteTempMidi();
  void updateStatusBar();
  void scrollCaretLineToTop();
  void appendMessage(const QString& line);
  void applyFontSize(int points);

 public Q_SLOTS:
  // File menu and the tool bar.
  void SpeedButton1Click();
  void Open1Click();
  void Close1Click();
  void Save1Click();
  void N1Click();
  void N16Click();
  void Exit1Click();
  void midi1Click();
  void korvel1Click();
  // Edit menu.
  void Undo1Click();
  void Cut1Click();
  void Copy1Click();
  void Paste1Click();
  void Delete1Click();
  void SelectAll1Click();
  void PopupMenu1Popup();
  // Go-to menu.
  void GotoStartClick();
  void N6Click();
  void GotoLastClick();
  // View menu.
  void N17Click();
  void N19Click();
  // Run menu.
  void N4Click();
  void N13Click();
  void S1Click();
  // Font menu and buttons.
  void N10p1Click(QAction* item);
  void SpeedButton8Click(QToolButton* button);
  // Help menu.
  void vantor1Click();
  void about1Click();
  // Tool bar toggles.
  void SpeedButton5Click();
  void SpeedButton6Click();
  void SpeedButton7Click();
  void SpeedButton12Click();
  // Window and pane events.
  void Memo1Change();
  void Memo2DblClick();
  void Timer1Timer();
  void MediaPlayer1Notify();
  void FormKeyUp(int key);
  void FormMouseMove();
  void Memo1KeyUp();
  void Memo1MouseMove();
  // Files dropped onto the window, first name first.
  void filesDropped(const QStringList& names);
  // A terminating signal arrived: keep the edited text in the backup file and end.
  void endOnSignal();
  // The desktop session is ending, or the program is about to: the edited text goes to the
  // backup file so that the next start offers it. True when it is there.
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
  void createPanes();
  void createStatusBar();
  void applyStartupSettings(int loadResult);
  void takeBackupLock();
  void recoverBackup();
  void firstIdleFocus();

  bool FormCloseQuery();
  void FormClose();

  // The save prompt shared by open, close and drop; the answer.
  BoxAnswer askSaveChanges();
  bool settleUnsavedText();
  bool saveTo(const QString& path);
  bool runBackup();
  int32_t compileEditorText(bool compiledData);
  void startPlayback();

  bool compiling_ = false;
  bool endRequested_ = false;  // a signal arrived during a compilation
  bool endedBySignal_ = false;
  bool silentNoticeShown_ = false;
  ByteCounter* byteCounter = nullptr;
  QString lastOpenName;  // the open dialog's file name
};

// "path/name.ext" -> "path/name" + extension; a name without extension gets it appended.
QString withExtension(const QString& path, const QString& extension);
