// The main window's construction, start-up (settings, single instance, backup recovery), the
// toggles, the options and about commands, and the exit sequence.
#include "editor/ui/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QFile>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

#include "core/compile_session.h"
#include "editor/ui/goto_line_dialog.h"
#include "editor/ui/logo_form.h"
#include "editor/settings/options_dialog.h"
#include "editor/ui/player_window.h"
#include "editor/document/text_codec.h"
#include "editor/ui/toolbar_icons.h"

namespace {

constexpr int STATUS_PANEL_WIDTHS[5] = {70, 70, 60, 80, 50};
constexpr Qt::Alignment STATUS_PANEL_ALIGNMENT[5] = {
    Qt::AlignRight | Qt::AlignVCenter, Qt::AlignRight | Qt::AlignVCenter, Qt::AlignCenter,
    Qt::AlignRight | Qt::AlignVCenter, Qt::AlignLeft | Qt::AlignVCenter};

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

// The editor font: a fixed-pitch Japanese face, 12 pixels until a font command sets points.
QFont editorFont() {
  QFont font("IPAGothic");
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPixelSize(12);
  return font;
}

TForm1::TForm1(EditorServices& services_, EditorPaths paths_, QStringList arguments,
               QWidget* parent)
    : QMainWindow(parent),
      services(services_),
      paths(std::move(paths_)),
      backupLock(paths.backupFile),
      session(std::make_unique<CompileSession>()) {
  setWindowTitle("tarvik32(GUI)");
  createActions();
  createMenus();
  createToolBar();
  createPanes();
  createStatusBar();
  resize(640, 575 + menuBar()->sizeHint().height());
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }

  Form2 = new TForm2(*this);
  GotoLine = new TGotoLine(this, Memo1, services);
  TarvikOption = new TTarvikOption(this);
  services.mediaPlayer().onNotify = [this] { MediaPlayer1Notify(); };

  FormCreate(arguments);

  // The rest of the construction.
  state.idleCountdown = BACKUP_IDLE_TICKS;
  state.backupCountdown = BACKUP_INTERVAL_TICKS;
  QTimer::singleShot(0, this, &TForm1::firstIdleFocus);
  const int loaded =
      loadSettings(paths.settingsFile, startupSettings, session->q7Default, services, this);
  applyStartupSettings(loaded);
  takeBackupLock();
  state.compiledDataStream.clear();
}

TForm1::~TForm1() {
  services.mediaPlayer().onNotify = nullptr;
  qApp->removeEventFilter(this);
}

void TForm1::FormCreate(const QStringList& arguments) {
  setStatusText(2, QString());
  Memo1->setInputLimit(EDITOR_INPUT_LIMIT);
  LogoForm = new TLogoForm(this);
  LogoForm->show();
  QCoreApplication::processEvents();
  for (const QString& argument : arguments) {
    if (!isSwitchArgument(argument)) loadSourceFile(argument);
  }
  setAcceptDrops(true);
  Timer1->start();
}

void TForm1::firstIdleFocus() {
  readyTag = 1;
  Memo1->setFocus();
}

void TForm1::createActions() {
  auto action = [this](const QString& text, const QKeySequence& shortcut = {}) {
    auto* item = new QAction(text, this);
    if (!shortcut.isEmpty()) item->setShortcut(shortcut);
    return item;
  };
  Open1 = action("開く(&O)...");
  Close1 = action("閉じる(&C)");
  midi1 = action("midi ファイル作成(&M)", QKeySequence(Qt::CTRL | Qt::Key_F9));
  korvel1 = action("korvelデータ出力");
  Save1 = action("上書き保存(&S)", QKeySequence(Qt::CTRL | Qt::Key_S));
  N16 = action("自動上書き保存(&V)");
  N1 = action("名前をつけて保存(&A)");
  Exit1 = action("終了(&X)");
  Undo2 = action("元に戻す(&U)", QKeySequence(Qt::CTRL | Qt::Key_Z));
  Cut2 = action("切り取り(&T)", QKeySequence(Qt::CTRL | Qt::Key_X));
  Copy2 = action("コピー(&C)", QKeySequence(Qt::CTRL | Qt::Key_C));
  Paste2 = action("貼り付け(&P)", QKeySequence(Qt::CTRL | Qt::Key_V));
  Delete2 = action("削除(&D)");
  SelectAll2 = action("すべて選択(&L)");
  GotoStart = action("先頭(&S)");
  N6 = action("行番号指定(&G)");
  GotoLast = action("最後(&E)");
  N17 = action("行番号(&N)");
  N19 = action("環境設定(&O)");
  N4 = action("ｺﾝﾊﾟｲﾙ後再生(&R)", QKeySequence(Qt::Key_F9));
  N13 = action("演奏ループ(&L)", QKeySequence(Qt::Key_F11));
  S1 = action("自動左右配分(&S)");
  N8p1 = action("小 10 p (&S)");
  N10p1 = action("中 14 p (&M)");
  N12p1 = action("大 20 p (&L)");
  vantor1 = action("tarvik32説明書(&C)");
  about1 = action("バージョン情報(&A)");

  for (QAction* toggle : {N16, N13, S1, N17, N8p1, N10p1, N12p1}) toggle->setCheckable(true);
  N8p1->setChecked(true);
  N17->setVisible(false);
  N17->setEnabled(false);
  N8p1->setData(10);
  N10p1->setData(14);
  N12p1->setData(20);
  // The editor pane handles its own Ctrl+Z/X/C/V; the menu shows the keys and serves the
  // other panes.
  for (QAction* edit : {Undo2, Cut2, Copy2, Paste2}) edit->setShortcutContext(Qt::WindowShortcut);

  connect(Open1, &QAction::triggered, this, &TForm1::Open1Click);
  connect(Close1, &QAction::triggered, this, &TForm1::Close1Click);
  connect(midi1, &QAction::triggered, this, &TForm1::midi1Click);
  connect(korvel1, &QAction::triggered, this, &TForm1::korvel1Click);
  connect(Save1, &QAction::triggered, this, &TForm1::Save1Click);
  connect(N16, &QAction::triggered, this, &TForm1::N16Click);
  connect(N1, &QAction::triggered, this, &TForm1::N1Click);
  connect(Exit1, &QAction::triggered, this, &TForm1::Exit1Click);
  connect(Undo2, &QAction::triggered, this, &TForm1::Undo1Click);
  connect(Cut2, &QAction::triggered, this, &TForm1::Cut1Click);
  connect(Copy2, &QAction::triggered, this, &TForm1::Copy1Click);
  connect(Paste2, &QAction::triggered, this, &TForm1::Paste1Click);
  connect(Delete2, &QAction::triggered, this, &TForm1::Delete1Click);
  connect(SelectAll2, &QAction::triggered, this, &TForm1::SelectAll1Click);
  connect(GotoStart, &QAction::triggered, this, &TForm1::GotoStartClick);
  connect(N6, &QAction::triggered, this, &TForm1::N6Click);
  connect(GotoLast, &QAction::triggered, this, &TForm1::GotoLastClick);
  connect(N17, &QAction::triggered, this, &TForm1::N17Click);
  connect(N19, &QAction::triggered, this, &TForm1::N19Click);
  connect(N4, &QAction::triggered, this, &TForm1::N4Click);
  connect(N13, &QAction::triggered, this, &TForm1::N13Click);
  connect(S1, &QAction::triggered, this, &TForm1::S1Click);
  for (QAction* font : {N8p1, N10p1, N12p1}) {
    connect(font, &QAction::triggered, this, [this, font] { N10p1Click(font); });
  }
  connect(vantor1, &QAction::triggered, this, &TForm1::vantor1Click);
  connect(about1, &QAction::triggered, this, &TForm1::about1Click);
}

void TForm1::createMenus() {
  File1 = menuBar()->addMenu("ファイル(&F)");
  File1->addActions({Open1, Close1});
  File1->addSeparator();
  File1->addActions({midi1, korvel1});
  File1->addSeparator();
  File1->addActions({Save1, N16, N1});
  File1->addSeparator();
  File1->addAction(Exit1);

  Edit1 = menuBar()->addMenu("編集(&E)");
  Edit1->addAction(Undo2);
  Edit1->addSeparator();
  Edit1->addActions({Cut2, Copy2, Paste2, Delete2});
  Edit1->addSeparator();
  Edit1->addAction(SelectAll2);
  connect(Edit1, &QMenu::aboutToShow, this, &TForm1::PopupMenu1Popup);

  GoTo1 = menuBar()->addMenu("移動(&J)");
  GoTo1->addActions({GotoStart, N6, GotoLast});

  Show1 = menuBar()->addMenu("表示(&V)");
  Show1->addAction(N17);
  Show1->addAction(N19);

  N3 = menuBar()->addMenu("処理(&R)");
  N3->addAction(N4);
  N3->addSeparator();
  N3->addActions({N13, S1});

  N12 = menuBar()->addMenu("文字(&S)");
  N12->addActions({N8p1, N10p1, N12p1});

  N5 = menuBar()->addMenu("ヘルプ(&H)");
  N5->addAction(vantor1);
  N5->addSeparator();
  N5->addAction(about1);
}

void TForm1::createToolBar() {
  ToolBar1 = addToolBar("ToolBar1");
  ToolBar1->setMovable(false);
  ToolBar1->setFloatable(false);
  ToolBar1->setIconSize(QSize(20, 20));
  ToolBar1->setMouseTracking(true);
  ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
  auto gap = [this](int width) {
    auto* space = new QWidget(ToolBar1);
    space->setFixedWidth(width);
    space->setMouseTracking(true);
    ToolBar1->addWidget(space);
  };
  auto button = [this](ToolIcon icon, const QString& hint, bool toggle) {
    auto* b = new QToolButton(ToolBar1);
    b->setIcon(toolIcon(icon));
    b->setToolTip(hint);
    b->setAccessibleName(hint);
    b->setCheckable(toggle);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    ToolBar1->addWidget(b);
    return b;
  };
  gap(15);
  SpeedButton1 = button(ToolIcon::Open, "開く", false);
  gap(17);
  SpeedButton3 = button(ToolIcon::Save, "上書き保存", false);
  SpeedButton6 = button(ToolIcon::AutoSave, "自動上書き保存", true);
  gap(14);
  SpeedButton4 = button(ToolIcon::MakeMidi, "SMF作成", false);
  gap(15);
  SpeedButton2 = button(ToolIcon::Run, "実行", false);
  SpeedButton5 = button(ToolIcon::Loop, "演奏ループ", true);
  gap(8);
  SpeedButton7 = button(ToolIcon::LineNumbers, "行番号", true);
  SpeedButton7->setEnabled(false);
  SpeedButton8 = button(ToolIcon::FontSmall, "小(10p)", true);
  SpeedButton9 = button(ToolIcon::FontMedium, "中(14p)", true);
  SpeedButton10 = button(ToolIcon::FontLarge, "大(20p)", true);
  gap(11);
  SpeedButton12 = button(ToolIcon::AutoPan, "自動左右", true);

  auto* fonts = new QButtonGroup(this);
  fonts->setExclusive(true);
  SpeedButton8->setProperty("points", 10);
  SpeedButton9->setProperty("points", 14);
  SpeedButton10->setProperty("points", 20);
  for (QToolButton* b : {SpeedButton8, SpeedButton9, SpeedButton10}) {
    fonts->addButton(b);
    connect(b, &QToolButton::clicked, this, [this, b] { SpeedButton8Click(b); });
  }
  SpeedButton8->setChecked(true);

  connect(SpeedButton1, &QToolButton::clicked, this, &TForm1::SpeedButton1Click);
  connect(SpeedButton3, &QToolButton::clicked, this, &TForm1::Save1Click);
  connect(SpeedButton6, &QToolButton::clicked, this, &TForm1::SpeedButton6Click);
  connect(SpeedButton4, &QToolButton::clicked, this, &TForm1::midi1Click);
  connect(SpeedButton2, &QToolButton::clicked, this, &TForm1::N4Click);
  connect(SpeedButton5, &QToolButton::clicked, this, &TForm1::SpeedButton5Click);
  connect(SpeedButton7, &QToolButton::clicked, this, &TForm1::SpeedButton7Click);
  connect(SpeedButton12, &QToolButton::clicked, this, &TForm1::SpeedButton12Click);
}

void TForm1::createPanes() {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  Splitter3 = new QSplitter(Qt::Vertical, central);
  Splitter3->setHandleWidth(4);
  Splitter3->setChildrenCollapsible(false);
  Memo1 = new SourceEdit(Splitter3);
  Memo1->setFont(editorFont());
  byteCounter = new ByteCounter(Memo1->document());
  Memo1->currentBytes = [this] { return editorSize(); };
  Memo1->bytesOf = [](const QString& text) { return cp932Size(text); };
  Memo2 = new MessagePane(Splitter3);
  Memo2->setFont(editorFont());
  Memo2->setMinimumHeight(24);
  Splitter3->addWidget(Memo1);
  Splitter3->addWidget(Memo2);
  Splitter3->setStretchFactor(0, 1);
  Splitter3->setStretchFactor(1, 0);
  Splitter3->setSizes({575 - 27 - 19 - 60 - 4, 60});
  layout->addWidget(Splitter3);
  setCentralWidget(central);

  connect(Memo1->document(), &QTextDocument::contentsChanged, this, &TForm1::Memo1Change);
  connect(Memo1, &SourceEdit::shiftInsertPressed, this, &TForm1::Paste1Click);
  connect(Memo1, &SourceEdit::keyReleased, this, &TForm1::Memo1KeyUp);
  connect(Memo1, &SourceEdit::mouseMoved, this, &TForm1::Memo1MouseMove);
  connect(Memo1, &QPlainTextEdit::cursorPositionChanged, this, &TForm1::updateStatusBar);
  connect(Memo2, &MessagePane::doubleClicked, this, &TForm1::Memo2DblClick);

  Timer1 = new QTimer(this);
  Timer1->setInterval(1000);
  connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
  setMouseTracking(true);
  central->setMouseTracking(true);
  qApp->installEventFilter(this);
}

void TForm1::createStatusBar() {
  StatusBar1 = statusBar();
  StatusBar1->setSizeGripEnabled(true);
  for (int i = 0; i < 5; ++i) {
    auto* panel = new QLabel(StatusBar1);
    panel->setAlignment(STATUS_PANEL_ALIGNMENT[i]);
    panel->setMinimumWidth(STATUS_PANEL_WIDTHS[i]);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setContentsMargins(4, 0, 4, 0);
    StatusBar1->addWidget(panel, i == 4 ? 1 : 0);
    statusPanels[i] = panel;
  }
  statusPanels[4]->setText("@");
}

QString TForm1::statusText(int panel) const {
  return statusPanels[panel]->text();
}

void TForm1::setStatusText(int panel, const QString& text) {
  statusPanels[panel]->setText(text);
}

// Applies the loaded start-up settings through the same commands a user would click.
void TForm1::applyStartupSettings(int loadResult) {
  if (loadResult != 0) {
    const bool q7 = session->q7Default;
    startupSettings = StartupSettings{};
    session->q7Default = q7;
  }
  if (startupSettings.AutoSaveAtStart) N16Click();
  if (startupSettings.PlayLoopAtStart) N13Click();
  if (startupSettings.LineNumbersAtStart) N17Click();
  if (startupSettings.MaximizedAtStart) setWindowState(windowState() | Qt::WindowMaximized);
  if (startupSettings.AutoPanAtStart) S1Click();
  switch (startupSettings.FontSizeIndex) {
    case 1:
      N10p1Click(N10p1);
      break;
    case 2:
      N10p1Click(N12p1);
      break;
    default:
      N10p1Click(N8p1);
      break;
  }
}

// The single-instance lock and the recovery of a left-over automatic backup. An empty left-over
// (a run that ended before its first backup) holds nothing to recover and goes silently.
void TForm1::takeBackupLock() {
  if (!backupLock.prepareFolder()) {
    state.backupActive = false;
    return;
  }
  if (backupLock.isEmpty() && backupLock.openable()) backupLock.remove();
  const bool exists = backupLock.exists();
  const bool openable = exists && backupLock.openable();
  if (exists && openable) {
    const BoxAnswer answer =
        services.messageBox(this, "自動backupfileがあります\n読み込みますか？", QString("確認"),
                            BoxButtons::YesNo, BoxIcon::Question);
    if (answer == BoxAnswer::Yes) recoverBackup();
  } else if (!exists) {
    state.backupActive = backupLock.createEmpty();
  } else {
    state.backupActive = false;
    services.messageBox(
        this, "すでにtarvik32が起動中\n今から起動するtarvik32で\n自動backupは作動しません.",
        std::nullopt, BoxButtons::Ok, BoxIcon::Stop);
  }
  state.backupActive = backupLock.acquire();
}

// The recovered text is edited and untitled: it belongs to no file, so a save asks for a name
// instead of overwriting a file opened from the command line.
void TForm1::recoverBackup() {
  QFile file(backupLock.path());
  if (!file.open(QIODevice::ReadOnly)) return;
  Memo1->setPlainText(loadedText(file.readAll()));
  lastOpenName.clear();
  state.sourcePath.clear();
  state.midiOutputPath.clear();
  if (!state.tempMidiExists) state.playPath.clear();
  state.hasFileName = false;
}

bool TForm1::autoSaveOn() const {
  return SpeedButton6->isChecked();
}
bool TForm1::playLoopOn() const {
  return SpeedButton5->isChecked();
}
bool TForm1::autoPanOn() const {
  return S1->isChecked();
}

// The toggle pattern: the menu command follows the button (up: both on, down: both off); the
// button command, run after the button flipped itself, makes the menu item match it.
static bool flipFromMenu(QToolButton* button, QAction* item) {
  const bool on = !button->isChecked();
  button->setChecked(on);
  item->setChecked(on);
  return on;
}

void TForm1::N16Click() {
  flipFromMenu(SpeedButton6, N16);
}
void TForm1::SpeedButton6Click() {
  N16->setChecked(SpeedButton6->isChecked());
}
void TForm1::N13Click() {
  flipFromMenu(SpeedButton5, N13);
}
void TForm1::SpeedButton5Click() {
  N13->setChecked(SpeedButton5->isChecked());
}
void TForm1::S1Click() {
  session->autoPan = flipFromMenu(SpeedButton12, S1);
}
void TForm1::SpeedButton12Click() {
  S1->setChecked(SpeedButton12->isChecked());
  session->autoPan = S1->isChecked();
}
void TForm1::N17Click() {
  flipFromMenu(SpeedButton7, N17);
  Memo1->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  Memo1->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
}
void TForm1::SpeedButton7Click() {
  N17->setChecked(SpeedButton7->isChecked());
}

void TForm1::N19Click() {
  runOptionsCommand(*TarvikOption, paths.settingsFile, startupSettings, session->q7Default,
                    services, this);
}

void TForm1::about1Click() {
  services.messageBox(this, ABOUT_TEXT, QString("バージョン情報"), BoxButtons::Ok, BoxIcon::None);
}

void TForm1::Exit1Click() {
  if (services.messageBox(this, "終了しますか？", QString("vantor終了確認"), BoxButtons::YesNo,
                          BoxIcon::Question) == BoxAnswer::Yes) {
    close();
  }
}

bool TForm1::FormCloseQuery() {
  stopPlayback();
  if (state.isSaved || Memo1->document()->isEmpty()) return true;
  switch (askSaveChanges()) {
    case BoxAnswer::Yes:
      Save1Click();
      return state.isSaved;
    case BoxAnswer::No:
      return true;
    default:
      return false;
  }
}

void TForm1::FormClose() {
  Timer1->stop();
  if (state.backupActive && backupLock.held()) {
    backupLock.release();
    if (!backupLock.remove()) {
      services.messageBox(this, "!!tarvik32.tmp削除失敗", std::nullopt, BoxButtons::Ok,
                          BoxIcon::Stop);
    }
  }
  if (LogoForm) LogoForm->close();
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (endedBySignal_) {
    event->accept();
    return;
  }
  if (compiling_ || !FormCloseQuery()) {
    event->ignore();
    return;
  }
  FormClose();
  Form2->hide();
  event->accept();
}

// Keeps an edited text in the backup file, for the next start to offer. True when it is there.
bool TForm1::preserveUnsavedText() {
  if (state.isSaved || editorSize() == 0 || !state.backupActive || !backupLock.held()) {
    return false;
  }
  const std::optional<QByteArray> bytes = editorBytes(QString());
  if (!bytes) return false;
  backupLock.release();
  const bool written = backupLock.write(*bytes);
  backupLock.acquire();
  return written;
}

// SIGTERM, SIGHUP or SIGINT: no question can be asked any more. The edited text stays in the
// backup file, the temporary MIDI file goes, and the program ends as after a normal close.
void TForm1::endOnSignal() {
  if (compiling_) {
    endRequested_ = true;  // handled when the compilation returns
    return;
  }
  Timer1->stop();
  const bool kept = preserveUnsavedText();
  Form2->Timer1->stop();
  services.mediaPlayer().close();
  if (state.tempMidiExists && !state.midiFileMode && QFile::remove(state.playPath)) {
    state.tempMidiExists = false;
  }
  if (state.backupActive && backupLock.held()) {
    backupLock.release();
    if (!kept) backupLock.remove();
  }
  state.backupActive = false;
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
  if (event->type() == QEvent::KeyRelease) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget != nullptr && widget->window() == this && widget == QApplication::focusWidget()) {
      FormKeyUp(static_cast<QKeyEvent*>(event)->key());
    }
  } else if (event->type() == QEvent::MouseMove) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget != nullptr && widget != this && widget->window() == this &&
        (widget == ToolBar1 || widget->parentWidget() == ToolBar1 || widget == centralWidget() ||
         widget == StatusBar1)) {
      FormMouseMove();
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::FormMouseMove() {
  state.idleCountdown = BACKUP_IDLE_TICKS;
}

void TForm1::appendMessage(const QString& line) {
  Memo2->appendPlainText(line);
}

QString withExtension(const QString& path, const QString& extension) {
  const qsizetype slash = path.lastIndexOf('/');
  const qsizetype dot = path.lastIndexOf('.');
  if (dot > slash) return path.left(dot) + extension;
  return path + extension;
}
