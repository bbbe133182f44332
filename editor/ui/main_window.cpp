// The main window's construction (actions, menus, tool bar, panes, status bar, the rooms it
// wires), start-up (settings, single instance, backup recovery), the toggles, the options and
// about commands, and the end of the run.
#include "editor/ui/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>
#include <vector>

#include "core/compile_session.h"
#include "editor/compile/compile_controller.h"
#include "editor/document/score_document.h"
#include "editor/document/text_codec.h"
#include "editor/playback/audio_export.h"
#include "editor/playback/fluid_media_player.h"
#include "editor/playback/playback_controller.h"
#include "editor/settings/additional_settings.h"
#include "editor/settings/options_dialog.h"
#include "editor/ui/audio_export_watch.h"
#include "editor/ui/check_as_you_type.h"
#include "editor/ui/export_commands.h"
#include "editor/ui/file_commands.h"
#include "editor/ui/logo_form.h"
#include "editor/ui/playback_commands.h"
#include "editor/ui/player_window.h"
#include "editor/ui/roll_link.h"
#include "editor/view/score_highlighter.h"
#include "editor/view/score_view.h"
#include "editor/view/source_edit.h"

namespace {

constexpr int STATUS_PANEL_WIDTHS[PANEL_COUNT] = {70, 70, 60, 80, 50, 50};
constexpr Qt::Alignment STATUS_PANEL_ALIGNMENT[PANEL_COUNT] = {
    Qt::AlignRight | Qt::AlignVCenter, Qt::AlignRight | Qt::AlignVCenter, Qt::AlignCenter,
    Qt::AlignRight | Qt::AlignVCenter, Qt::AlignLeft | Qt::AlignVCenter,  Qt::AlignCenter};

const char ABOUT_TEXT[] =
    "tarvik32 v1.01\n"
    "楽譜マクロ言語のエディタとコンパイラ\n"
    "Copyright (C) 2026 tarvik project";

// Arguments starting with "-" are switches and ignored, as are two-character "/x" switches; any
// other argument names a file to open ("/home/me/song.fms" is a path, not a switch).
bool isSwitchArgument(const QString& argument) {
  return argument.startsWith('-') || (argument.startsWith('/') && argument.size() == 2);
}

}  // namespace

TForm1::TForm1(EditorServices& services, EditorPaths paths, QStringList arguments, QWidget* parent)
    : QMainWindow(parent), services_(services), paths_(std::move(paths)) {
  setWindowTitle("tarvik32(GUI)");
  document_ = std::make_unique<ScoreDocument>(paths_.backupFile);
  view_ = std::make_unique<ScoreView>(services_, *document_, this);
  createActions();
  createCommands();
  createMenus();
  createToolBar();
  createPanes();
  createStatusBar();
  createRooms();
  connectRooms();
  connectView();
  resize(640, 575 + menuBar()->sizeHint().height());
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  createPlayerWindow();
  rollLink_ = new RollLink(*this, services_, action("showPianoRoll"));
  connectRollToCheck();
  connectCommands();
  TarvikOption = new TTarvikOption(services_, fluidSoundChoices(), this);
  FormCreate(arguments);
  document_->schedule().restart();
  QTimer::singleShot(0, this, &TForm1::firstIdleFocus);
  loadStartupSettings();
  takeBackupLock();
}

TForm1::~TForm1() {
  services_.mediaPlayer().onNotify = nullptr;
  services_.mediaPlayer().onOutputFallback = nullptr;
  qApp->removeEventFilter(this);
}

void TForm1::createPlayerWindow() {
  Form2 = new TForm2(this, playback());
  connect(Form2, &TForm2::closed, this, [this] { playing_->playerWindowClosed(); });
  connect(Form2->Timer1, &QTimer::timeout, this, &TForm1::followScore);
  connect(&playback(), &PlaybackController::endReached, Form2, &QWidget::close);
  connect(Form2, &TForm2::editorWanted, this, [this] {
    activateWindow();
    raise();
    view_->focusText();
  });
}

void TForm1::FormCreate(const QStringList& arguments) {
  setStatusText(PANEL_MODIFIED, QString());
  view_->setInputLimit(EDITOR_INPUT_LIMIT);
  logoForm_ = new TLogoForm(this, [this] { return readyTag_ == 1; });
  logoForm_->show();
  QCoreApplication::processEvents();
  for (const QString& argument : arguments) {
    if (!isSwitchArgument(argument)) loadSourceFile(argument);
  }
  setAcceptDrops(true);
  files_->backupTimer()->start();
}

void TForm1::firstIdleFocus() {
  readyTag_ = 1;
  view_->focusText();
}

void TForm1::createPanes() {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  Splitter3 = new QSplitter(Qt::Vertical, central);
  Splitter3->setHandleWidth(4);
  Splitter3->setChildrenCollapsible(false);
  Memo2 = new MessagePane(Splitter3);
  Memo2->setFont(editorFont());
  Memo2->setMinimumHeight(24);
  Splitter3->addWidget(view_.get());
  Splitter3->addWidget(Memo2);
  Splitter3->setStretchFactor(0, 1);
  Splitter3->setStretchFactor(1, 0);
  Splitter3->setSizes({575 - 27 - 19 - 60 - 4, 60});
  layout->addWidget(Splitter3);
  setCentralWidget(central);
  connect(Memo2, &MessagePane::doubleClicked, this, &TForm1::Memo2DblClick);
  setMouseTracking(true);
  central->setMouseTracking(true);
  qApp->installEventFilter(this);
}

void TForm1::createStatusBar() {
  StatusBar1 = statusBar();
  StatusBar1->setSizeGripEnabled(true);
  for (int i = 0; i < PANEL_COUNT; ++i) {
    auto* panel = new QLabel(StatusBar1);
    panel->setAlignment(STATUS_PANEL_ALIGNMENT[i]);
    panel->setMinimumWidth(STATUS_PANEL_WIDTHS[i]);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setContentsMargins(4, 0, 4, 0);
    StatusBar1->addWidget(panel, i == PANEL_AT ? 1 : 0);
    statusPanels_[i] = panel;
  }
  statusPanels_[PANEL_AT]->setText("@");
}

// The encoding panel names it, and only the conversion to the other encoding is offered.
void TForm1::encodingChanged(TextEncoding encoding) {
  view_->showEncoding(encoding);
  setStatusText(PANEL_ENCODING, encoding == TextEncoding::Utf8 ? "UTF-8" : "CP932");
  files_->showEncoding(encoding);
}

PlaybackController& TForm1::playback() const {
  return playing_->controller();
}

// The compilations and the settings beside the document; the file commands over them.
void TForm1::createRooms() {
  compiler_ = std::make_unique<CompileController>(playing_->temporaryMidi(), compileSinks());
  additionalSettings_ = std::make_unique<AdditionalSettings>(paths_.additionalSettingsFile);
  files_->attach({*document_, *additionalSettings_, *compiler_, services_, *this, *playing_});
  files_->refreshRecentMenu();
  files_->reportSettingsNotice();
}

// The play and export commands over the rooms, the player window and the roll.
void TForm1::connectCommands() {
  playing_->attach({*document_, *view_, *compiler_, *additionalSettings_, *checkAsYouType_,
                    *rollLink_, *Form2, *this, *files_});
  exports_->attach(
      {*document_, *additionalSettings_, *compiler_, services_, *this, *playing_, *Form2});
}

// What the rooms report, and the window's toggles that drive them.
void TForm1::connectRooms() {
  encodingChanged(document_->encoding());
  connect(document_.get(), &ScoreDocument::encodingChanged, this, &TForm1::encodingChanged);
  connect(document_.get(), &ScoreDocument::savedChanged, this, [this](bool saved) {
    if (saved) {
      setStatusText(PANEL_MODIFIED, QString());
    } else {
      Memo1Change();
    }
  });
  connect(document_.get(), &ScoreDocument::textReplaced, this,
          [this] { view_->moveCaretToStart(); });
  services_.mediaPlayer().onNotify = [this] { MediaPlayer1Notify(); };
  services_.mediaPlayer().onOutputFallback = [this](const OutputFallback& fallback) {
    playing_->outputFellBack(fallback);
  };
  connect(S1, &QAction::toggled, this, [this](bool on) { compiler_->session().autoPan = on; });
  checkAsYouType_ = std::make_unique<CheckAsYouType>(*action("checkAsYouType"), *view_, *document_,
                                                     *compiler_, *additionalSettings_);
}

// The roll draws each clean check and greys its picture while the text does not compile; the
// check follows the roll's panel until the user switches it.
void TForm1::connectRollToCheck() {
  connect(checkAsYouType_.get(), &CheckAsYouType::checked, rollLink_,
          [this](const CheckResult& result) {
            if (result.clean()) {
              rollLink_->compiled(result.map);
            } else {
              rollLink_->setStale(true);
            }
          });
  QAction* roll = action("showPianoRoll");
  connect(roll, &QAction::toggled, checkAsYouType_.get(), &CheckAsYouType::setRollShown);
  checkAsYouType_->setRollShown(roll->isChecked());
}

void TForm1::connectView() {
  connect(view_.get(), &ScoreView::caretMoved, this, &TForm1::updateStatusBar);
  connect(view_.get(), &ScoreView::lineNumbersToggled, this, &TForm1::showLineNumbers);
  connect(view_.get(), &ScoreView::fontSizeChosen, this, &TForm1::fontSizeChosen);
  connect(view_.get(), &ScoreView::inputRefused, StatusBar1,
          [this](const QString& notice) { StatusBar1->showMessage(notice, STATUS_NOTICE_MS); });
}

// What a compilation reports goes to the message pane, the boxes and the auto-pan pair.
CompileSinks TForm1::compileSinks() {
  CompileSinks sinks;
  sinks.message = [this](const QString& line) { appendMessage(line); };
  sinks.alert = [this](const QString& text, BoxIcon icon) {
    services_.messageBox(this, text, std::nullopt, BoxButtons::Ok, icon);
  };
  sinks.autoPanChanged = [this](bool on) { S1->setChecked(on); };
  return sinks;
}

QString TForm1::statusText(StatusPanel panel) const {
  return statusPanels_[panel]->text();
}

void TForm1::setStatusText(StatusPanel panel, const QString& text) {
  statusPanels_[panel]->setText(text);
}

void TForm1::showStop(const QString& text, const BoxCaption& caption) {
  services_.messageBox(this, text, caption, BoxButtons::Ok, BoxIcon::Stop);
}

void TForm1::loadStartupSettings() {
  bool& q7Default = compiler_->session().q7Default;
  const SettingsLoad loaded = loadSettings(paths_.settingsFile, startupSettings_, q7Default);
  if (loaded == SettingsLoad::WrongVersion) {
    services_.messageBox(this, SETTINGS_WRONG_VERSION_TEXT, std::nullopt, BoxButtons::Ok,
                         BoxIcon::Error);
  }
  applyStartupSettings(loaded);
}

// Applies the loaded start-up settings through the same commands a user would click. A file
// that was not accepted means the defaults; the gate choice keeps its value.
void TForm1::applyStartupSettings(SettingsLoad loaded) {
  if (loaded != SettingsLoad::Loaded) startupSettings_ = StartupSettings{};
  if (startupSettings_.AutoSaveAtStart) N16Click();
  if (startupSettings_.PlayLoopAtStart) N13Click();
  if (startupSettings_.LineNumbersAtStart) N17Click();
  if (startupSettings_.MaximizedAtStart) setWindowState(windowState() | Qt::WindowMaximized);
  if (startupSettings_.AutoPanAtStart) S1Click();
  QAction* const fonts[] = {view_->N8p1, view_->N10p1, view_->N12p1};
  const int32_t index = startupSettings_.FontSizeIndex;
  view_->N10p1Click(fonts[index >= 0 && index < 3 ? index : 0]);
}

// The single-instance lock and the recovery of a left-over automatic backup.
void TForm1::takeBackupLock() {
  const BackupStartOutcome taken = document_->takeBackupLock();
  switch (taken.start) {
    case BackupStart::LeftOver:
      if (services_.messageBox(this, "自動backupfileがあります\n読み込みますか？", QString("確認"),
                               BoxButtons::YesNo, BoxIcon::Question) == BoxAnswer::Yes) {
        document_->recoverBackup();
        files_->lastOpenName.clear();
        clearMessages();  // the lines of the files opened before describe a text no longer shown
        appendMessage(QString(" -> 復元したソースのサイズ : %1 バイト").arg(document_->size()));
      }
      break;
    case BackupStart::HeldElsewhere:
      showStop("すでにtarvik32が起動中\n今から起動するtarvik32で\n自動backupは作動しません.");
      break;
    case BackupStart::Unavailable:
      appendMessage(taken.notice);
      break;
    case BackupStart::Fresh:
      break;
  }
}

// The line-number margin. The choice is kept in the settings file's start-up flag, so the next
// start shows what the user chose; start-up itself, applying that flag, writes nothing.
void TForm1::showLineNumbers(bool on) {
  if (startupSettings_.LineNumbersAtStart == on) return;
  startupSettings_.LineNumbersAtStart = on;
  saveSettings(paths_.settingsFile, startupSettings_, compiler_->session().q7Default);
}

bool TForm1::autoSaveOn() const {
  return files_->autoSaveOn();
}
bool TForm1::playLoopOn() const {
  return playing_->loopOn();
}
bool TForm1::autoPanOn() const {
  return S1->isChecked();
}

// The toggles: a menu command flips the one action its menu item and its tool button show.
void TForm1::N16Click() {
  files_->autoSave()->trigger();
}
void TForm1::N13Click() {
  playing_->actions().loop->trigger();
}
void TForm1::S1Click() {
  S1->trigger();
}
void TForm1::N17Click() {
  view_->N17->trigger();
}

void TForm1::N19Click() {
  runOptionsCommand(*TarvikOption, paths_.settingsFile, startupSettings_,
                    compiler_->session().q7Default, *additionalSettings_, services_, this);
}

void TForm1::about1Click() {
  services_.messageBox(this, ABOUT_TEXT, QString("バージョン情報"), BoxButtons::Ok, BoxIcon::None);
}

void TForm1::Exit1Click() {
  if (services_.messageBox(this, "終了しますか？", QString("vantor終了確認"), BoxButtons::YesNo,
                           BoxIcon::Question) == BoxAnswer::Yes) {
    close();
  }
}

bool TForm1::FormCloseQuery() {
  stopPlayback();
  return files_->maybeSave();
}

void TForm1::FormClose() {
  files_->backupTimer()->stop();
  if (!document_->releaseBackup(false)) showStop("!!tarvik32.tmp削除失敗");
  if (logoForm_) logoForm_->close();
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (endedBySignal_) {
    event->accept();
    return;
  }
  if (compiler_->busy() || exports_->exporting() || !FormCloseQuery()) {
    event->ignore();
    return;
  }
  FormClose();
  Form2->hide();
  event->accept();
}

bool TForm1::preserveUnsavedText() {
  return document_->preserveUnsavedText();
}

// SIGTERM, SIGHUP or SIGINT: no question can be asked any more. The edited text stays in the
// backup file, the temporary MIDI file goes, and the program ends as after a normal close.
void TForm1::endOnSignal() {
  if (compiler_->busy()) {
    compiler_->whenIdle([this] { endOnSignal(); });
    return;
  }
  if (exports_->exporting()) {
    exports_->cancelThen([this] { endOnSignal(); });
    return;
  }
  files_->backupTimer()->stop();
  const bool kept = document_->preserveUnsavedText();
  Form2->Timer1->stop();
  playback().stop();
  document_->releaseBackup(kept);
  endedBySignal_ = true;
  QCoreApplication::exit(0);
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  QStringList names;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) names << url.toLocalFile();
  }
  event->acceptProposedAction();
  if (!names.isEmpty()) filesDropped(names);
}

void TForm1::mouseMoveEvent(QMouseEvent* event) {
  FormMouseMove();
  QMainWindow::mouseMoveEvent(event);
}

void TForm1::paintEvent(QPaintEvent* event) {
  QMainWindow::paintEvent(event);
  updateStatusBar();
}

void TForm1::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  updateStatusBar();
}

// The window sees every key release before its controls, and mouse movement over its own
// surface (the tool bar's free space and the frame around the panes).
bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  auto* widget = qobject_cast<QWidget*>(watched);
  if (widget == nullptr || widget->window() != this)
    return QMainWindow::eventFilter(watched, event);
  if (event->type() == QEvent::KeyRelease && widget == QApplication::focusWidget()) {
    FormKeyUp(static_cast<QKeyEvent*>(event)->key());
  } else if (event->type() == QEvent::MouseMove && widget != this &&
             (widget == ToolBar1 || widget->parentWidget() == ToolBar1 ||
              widget == centralWidget() || widget == StatusBar1)) {
    FormMouseMove();
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::FormMouseMove() {
  document_->schedule().activity();
}

void TForm1::appendMessage(const QString& line) {
  Memo2->appendPlainText(line);
}

void TForm1::clearMessages() {
  Memo2->clear();
}
