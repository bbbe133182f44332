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
#include "editor/playback/playback_controller.h"
#include "editor/settings/additional_settings.h"
#include "editor/settings/options_dialog.h"
#include "editor/view/find_bar.h"
#include "editor/ui/goto_line_dialog.h"
#include "editor/ui/logo_form.h"
#include "editor/ui/player_window.h"
#include "editor/view/score_follower.h"
#include "editor/view/score_highlighter.h"
#include "editor/ui/toolbar_icons.h"

namespace {

constexpr int STATUS_PANEL_WIDTHS[PANEL_COUNT] = {70, 70, 60, 80, 50, 50};
constexpr int STATUS_NOTICE_MS = 5000;  // how long a notice covers the panels
constexpr Qt::Alignment STATUS_PANEL_ALIGNMENT[PANEL_COUNT] = {
    Qt::AlignRight | Qt::AlignVCenter, Qt::AlignRight | Qt::AlignVCenter, Qt::AlignCenter,
    Qt::AlignRight | Qt::AlignVCenter, Qt::AlignLeft | Qt::AlignVCenter,  Qt::AlignCenter};

const char ABOUT_TEXT[] =
    "tarvik32 v1.01\n"
    "楽譜マクロ言語のエディタとコンパイラ\n"
    "Copyright (C) 2026 tarvik project";

// The menu items: caption, shortcut, the hint of the tool button that shows the same action,
// and the handler of a push item (the toggles and fonts are wired in createRooms).
struct ActionEntry {
  QAction* TForm1::*item;
  const char* text;
  QKeyCombination shortcut;
  const char* hint;
  void (TForm1::*handler)();
  bool checkable;
};

const ActionEntry ACTIONS[] = {
    {&TForm1::Open1, "開く(&O)...", {}, "開く", &TForm1::Open1Click, false},
    {&TForm1::Close1, "閉じる(&C)", {}, nullptr, &TForm1::Close1Click, false},
    {&TForm1::midi1, "midi ファイル作成(&M)", Qt::CTRL | Qt::Key_F9, "SMF作成", &TForm1::midi1Click,
     false},
    {&TForm1::audio1, "WAV/FLAC ファイル書き出し(&W)", {}, nullptr, &TForm1::audio1Click, false},
    {&TForm1::korvel1, "korvelデータ出力", {}, nullptr, &TForm1::korvel1Click, false},
    {&TForm1::Save1, "上書き保存(&S)", Qt::CTRL | Qt::Key_S, "上書き保存", &TForm1::Save1Click,
     false},
    {&TForm1::N16, "自動上書き保存(&V)", {}, "自動上書き保存", nullptr, true},
    {&TForm1::N1, "名前をつけて保存(&A)", {}, nullptr, &TForm1::N1Click, false},
    {&TForm1::Utf8Convert1, "UTF-8 に変換(&U)", {}, nullptr, &TForm1::Utf8Convert1Click, false},
    {&TForm1::Cp932Convert1,
     "シフトJIS に変換(&J)",
     {},
     nullptr,
     &TForm1::Cp932Convert1Click,
     false},
    {&TForm1::Exit1, "終了(&X)", {}, nullptr, &TForm1::Exit1Click, false},
    {&TForm1::Undo2, "元に戻す(&U)", Qt::CTRL | Qt::Key_Z, nullptr, &TForm1::Undo1Click, false},
    {&TForm1::Redo2, "やり直し(&Y)", Qt::CTRL | Qt::Key_Y, nullptr, &TForm1::Redo1Click, false},
    {&TForm1::Cut2, "切り取り(&T)", Qt::CTRL | Qt::Key_X, nullptr, &TForm1::Cut1Click, false},
    {&TForm1::Copy2, "コピー(&C)", Qt::CTRL | Qt::Key_C, nullptr, &TForm1::Copy1Click, false},
    {&TForm1::Paste2, "貼り付け(&P)", Qt::CTRL | Qt::Key_V, nullptr, &TForm1::Paste1Click, false},
    {&TForm1::Delete2, "削除(&D)", {}, nullptr, &TForm1::Delete1Click, false},
    {&TForm1::SelectAll2, "すべて選択(&L)", {}, nullptr, &TForm1::SelectAll1Click, false},
    {&TForm1::Find1, "検索(&F)...", Qt::CTRL | Qt::Key_F, nullptr, &TForm1::Find1Click, false},
    {&TForm1::Replace1, "置換(&R)...", Qt::CTRL | Qt::Key_H, nullptr, &TForm1::Replace1Click,
     false},
    {&TForm1::FindNext1, "次を検索(&N)", Qt::Key_F3, nullptr, &TForm1::FindNext1Click, false},
    {&TForm1::FindPrevious1, "前を検索(&V)", Qt::SHIFT | Qt::Key_F3, nullptr,
     &TForm1::FindPrevious1Click, false},
    {&TForm1::GotoStart, "先頭(&S)", {}, nullptr, &TForm1::GotoStartClick, false},
    {&TForm1::N6, "行番号指定(&G)", {}, nullptr, &TForm1::N6Click, false},
    {&TForm1::GotoLast, "最後(&E)", {}, nullptr, &TForm1::GotoLastClick, false},
    {&TForm1::N17, "行番号(&N)", {}, "行番号", nullptr, true},
    {&TForm1::N19, "環境設定(&O)", {}, nullptr, &TForm1::N19Click, false},
    {&TForm1::N4, "ｺﾝﾊﾟｲﾙ後再生(&R)", Qt::Key_F9, "実行", &TForm1::N4Click, false},
    {&TForm1::PlayFromCursor1, "カーソル位置から再生(&C)", Qt::SHIFT | Qt::Key_F9,
     "カーソル位置から再生", &TForm1::PlayFromCursor1Click, false},
    {&TForm1::N13, "演奏ループ(&L)", Qt::Key_F11, "演奏ループ", nullptr, true},
    {&TForm1::FollowScore1, "演奏箇所を表示(&F)", {}, nullptr, nullptr, true},
    {&TForm1::KeepPlace1, "再コンパイル時に再生位置を保つ(&K)", {}, nullptr, nullptr, true},
    {&TForm1::S1, "自動左右配分(&S)", {}, "自動左右", nullptr, true},
    {&TForm1::N8p1, "小 10 p (&S)", {}, "小(10p)", nullptr, true},
    {&TForm1::N10p1, "中 14 p (&M)", {}, "中(14p)", nullptr, true},
    {&TForm1::N12p1, "大 20 p (&L)", {}, "大(20p)", nullptr, true},
    {&TForm1::vantor1, "tarvik32説明書(&C)", {}, nullptr, &TForm1::vantor1Click, false},
    {&TForm1::about1, "バージョン情報(&A)", {}, nullptr, &TForm1::about1Click, false},
};

// The tool bar, left to right: the blank gap before each button, and the action it shows.
struct ToolEntry {
  int gapBefore;
  QToolButton* TForm1::*button;
  QAction* TForm1::*item;
  ToolIcon icon;
};

const ToolEntry TOOLS[] = {
    {15, &TForm1::SpeedButton1, &TForm1::Open1, ToolIcon::Open},
    {17, &TForm1::SpeedButton3, &TForm1::Save1, ToolIcon::Save},
    {0, &TForm1::SpeedButton6, &TForm1::N16, ToolIcon::AutoSave},
    {14, &TForm1::SpeedButton4, &TForm1::midi1, ToolIcon::MakeMidi},
    {15, &TForm1::SpeedButton2, &TForm1::N4, ToolIcon::Run},
    {0, &TForm1::SpeedButton13, &TForm1::PlayFromCursor1, ToolIcon::RunFromCursor},
    {0, &TForm1::SpeedButton5, &TForm1::N13, ToolIcon::Loop},
    {8, &TForm1::SpeedButton7, &TForm1::N17, ToolIcon::LineNumbers},
    {0, &TForm1::SpeedButton8, &TForm1::N8p1, ToolIcon::FontSmall},
    {0, &TForm1::SpeedButton9, &TForm1::N10p1, ToolIcon::FontMedium},
    {0, &TForm1::SpeedButton10, &TForm1::N12p1, ToolIcon::FontLarge},
    {11, &TForm1::SpeedButton12, &TForm1::S1, ToolIcon::AutoPan},
};

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

TForm1::TForm1(EditorServices& services, EditorPaths paths, QStringList arguments, QWidget* parent)
    : QMainWindow(parent), services_(services), paths_(std::move(paths)) {
  setWindowTitle("tarvik32(GUI)");
  createActions();
  createRecentMenu();
  createMenus();
  createToolBar();
  createPanes();
  createStatusBar();
  createRooms();
  resize(640, 575 + menuBar()->sizeHint().height());
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  Form2 = new TForm2(this, *playback_);
  GotoLine = new TGotoLine(this, Memo1, services_);
  TarvikOption = new TTarvikOption(services_, this);
  connect(Form2, &TForm2::closed, this, &TForm1::playerWindowClosed);
  connect(Form2->Timer1, &QTimer::timeout, this, &TForm1::followScore);
  connect(playback_.get(), &PlaybackController::endReached, Form2, &QWidget::close);
  connect(Form2, &TForm2::editorWanted, this, [this] {
    activateWindow();
    raise();
    Memo1->setFocus();
  });

  FormCreate(arguments);

  // The rest of the construction.
  document_->schedule().restart();
  QTimer::singleShot(0, this, &TForm1::firstIdleFocus);
  bool& q7Default = compiler_->session().q7Default;
  const SettingsLoad loaded = loadSettings(paths_.settingsFile, startupSettings_, q7Default);
  if (loaded == SettingsLoad::WrongVersion) {
    services_.messageBox(this, SETTINGS_WRONG_VERSION_TEXT, std::nullopt, BoxButtons::Ok,
                         BoxIcon::Error);
  }
  applyStartupSettings(loaded);
  takeBackupLock();
}

TForm1::~TForm1() {
  services_.mediaPlayer().onNotify = nullptr;
  services_.mediaPlayer().onOutputFallback = nullptr;
  qApp->removeEventFilter(this);
}

void TForm1::FormCreate(const QStringList& arguments) {
  setStatusText(PANEL_MODIFIED, QString());
  Memo1->setInputLimit(EDITOR_INPUT_LIMIT);
  logoForm_ = new TLogoForm(this, [this] { return readyTag_ == 1; });
  logoForm_->show();
  QCoreApplication::processEvents();
  for (const QString& argument : arguments) {
    if (!isSwitchArgument(argument)) loadSourceFile(argument);
  }
  setAcceptDrops(true);
  Timer1->start();
}

void TForm1::firstIdleFocus() {
  readyTag_ = 1;
  Memo1->setFocus();
}

void TForm1::createActions() {
  for (const ActionEntry& entry : ACTIONS) {
    auto* item = new QAction(QString::fromUtf8(entry.text), this);
    if (entry.shortcut != QKeyCombination()) item->setShortcut(QKeySequence(entry.shortcut));
    item->setCheckable(entry.checkable);
    if (entry.hint != nullptr) item->setToolTip(QString::fromUtf8(entry.hint));
    item->setIconVisibleInMenu(false);
    if (entry.handler != nullptr) connect(item, &QAction::triggered, this, entry.handler);
    this->*entry.item = item;
  }
  auto* fonts = new QActionGroup(this);
  int index = 0;
  for (QAction* font : {N8p1, N10p1, N12p1}) {
    fonts->addAction(font);
    font->setData(index++);
    connect(font, &QAction::triggered, this, [this, font] { N10p1Click(font); });
  }
  N8p1->setChecked(true);
  // The editor pane handles its own Ctrl+Z/X/C/V and the desktop's redo keys; the menu shows
  // the keys and serves the other panes. A key the pane claims never reaches the shortcut, so
  // Ctrl+Y, a redo key on some desktops only, redoes once either way; the redo item follows
  // the pane's redo state at once (createEditorArea), as a disabled item would drop the key.
  Redo2->setShortcuts(
      {QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});
  for (QAction* edit : {Undo2, Redo2, Cut2, Copy2, Paste2}) {
    edit->setShortcutContext(Qt::WindowShortcut);
  }
}

// The recent-files submenu; its items follow the list (refreshRecentMenu).
void TForm1::createRecentMenu() {
  RecentFiles1 = new QMenu("最近使ったファイル(&R)", this);
  Recent1 = RecentFiles1->menuAction();
  connect(RecentFiles1, &QMenu::triggered, this,
          [this](QAction* item) { openRecentFile(item->data().toString()); });
}

void TForm1::createMenus() {
  using T = TForm1;
  using Items = std::vector<QAction * TForm1::*>;  // nullptr: a separator
  const struct {
    QMenu* TForm1::*menu;
    const char* title;
    Items items;
  } menus[] = {
      {&T::File1,
       "ファイル(&F)",
       {&T::Open1, &T::Close1, &T::Recent1, nullptr, &T::midi1, &T::audio1, &T::korvel1, nullptr,
        &T::Save1, &T::N16, &T::N1, nullptr, &T::Utf8Convert1, &T::Cp932Convert1, nullptr,
        &T::Exit1}},
      {&T::Edit1,
       "編集(&E)",
       {&T::Undo2, &T::Redo2, nullptr, &T::Cut2, &T::Copy2, &T::Paste2, &T::Delete2, nullptr,
        &T::SelectAll2, nullptr, &T::Find1, &T::Replace1, &T::FindNext1, &T::FindPrevious1}},
      {&T::GoTo1, "移動(&J)", {&T::GotoStart, &T::N6, &T::GotoLast}},
      {&T::Show1, "表示(&V)", {&T::N17, &T::N19}},
      {&T::N3,
       "処理(&R)",
       {&T::N4, &T::PlayFromCursor1, nullptr, &T::N13, &T::S1, nullptr, &T::FollowScore1,
        &T::KeepPlace1}},
      {&T::N12, "文字(&S)", {&T::N8p1, &T::N10p1, &T::N12p1}},
      {&T::N5, "ヘルプ(&H)", {&T::vantor1, nullptr, &T::about1}},
  };
  for (const auto& entry : menus) {
    QMenu* menu = menuBar()->addMenu(QString::fromUtf8(entry.title));
    for (QAction* TForm1::*item : entry.items) {
      if (item != nullptr) {
        menu->addAction(this->*item);
      } else {
        menu->addSeparator();
      }
    }
    this->*entry.menu = menu;
  }
  connect(Edit1, &QMenu::aboutToShow, this, &TForm1::PopupMenu1Popup);
}

void TForm1::createToolBar() {
  ToolBar1 = addToolBar("ToolBar1");
  ToolBar1->setMovable(false);
  ToolBar1->setFloatable(false);
  ToolBar1->setIconSize(QSize(20, 20));
  ToolBar1->setMouseTracking(true);
  ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
  for (const ToolEntry& entry : TOOLS) {
    if (entry.gapBefore > 0) {
      auto* space = new QWidget(ToolBar1);
      space->setFixedWidth(entry.gapBefore);
      space->setMouseTracking(true);
      ToolBar1->addWidget(space);
    }
    QAction* item = this->*entry.item;
    item->setIcon(toolIcon(entry.icon));
    auto* button = new QToolButton(ToolBar1);
    button->setDefaultAction(item);
    button->setAccessibleName(item->toolTip());
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    ToolBar1->addWidget(button);
    this->*entry.button = button;
  }
}

void TForm1::createPanes() {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  Splitter3 = new QSplitter(Qt::Vertical, central);
  Splitter3->setHandleWidth(4);
  Splitter3->setChildrenCollapsible(false);
  QWidget* editorArea = createEditorArea(Splitter3);
  Memo2 = new MessagePane(Splitter3);
  Memo2->setFont(editorFont());
  Memo2->setMinimumHeight(24);
  Splitter3->addWidget(editorArea);
  Splitter3->addWidget(Memo2);
  Splitter3->setStretchFactor(0, 1);
  Splitter3->setStretchFactor(1, 0);
  Splitter3->setSizes({575 - 27 - 19 - 60 - 4, 60});
  layout->addWidget(Splitter3);
  setCentralWidget(central);

  connect(Memo1, &SourceEdit::shiftInsertPressed, this, &TForm1::Paste1Click);
  connect(Memo1, &SourceEdit::keyReleased, this, &TForm1::Memo1KeyUp);
  connect(Memo1, &SourceEdit::mouseMoved, this, &TForm1::Memo1MouseMove);
  connect(Memo1, &QPlainTextEdit::cursorPositionChanged, this, &TForm1::updateStatusBar);
  connect(Memo2, &MessagePane::doubleClicked, this, &TForm1::Memo2DblClick);
  setMouseTracking(true);
  central->setMouseTracking(true);
  qApp->installEventFilter(this);
}

// The editor pane with the find bar under it, as the splitter's upper part.
QWidget* TForm1::createEditorArea(QWidget* parent) {
  auto* area = new QWidget(parent);
  auto* layout = new QVBoxLayout(area);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  Memo1 = new SourceEdit(area);
  Memo1->setFont(editorFont());
  FindBar1 = new FindBar(*Memo1, area);
  FindBar1->hide();
  connect(Memo1, &QPlainTextEdit::redoAvailable, Redo2, &QAction::setEnabled);
  Redo2->setEnabled(false);
  layout->addWidget(Memo1, 1);
  layout->addWidget(FindBar1);
  area->setMouseTracking(true);
  return area;
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
  connect(Memo1, &SourceEdit::inputRefused, StatusBar1,
          [this](const QString& notice) { StatusBar1->showMessage(notice, STATUS_NOTICE_MS); });
}

// The encoding panel names it, and only the conversion to the other encoding is offered.
void TForm1::encodingChanged(TextEncoding encoding) {
  const bool utf8 = encoding == TextEncoding::Utf8;
  Memo1->highlighter().setEncoding(encoding);
  setStatusText(PANEL_ENCODING, utf8 ? "UTF-8" : "CP932");
  Utf8Convert1->setEnabled(!utf8);
  Cp932Convert1->setEnabled(utf8);
}

// The document, the playback and the compilations, and what the window shows of them.
void TForm1::createRooms() {
  playback_ = std::make_unique<PlaybackController>(services_.mediaPlayer(), paths_.tempDir);
  document_ = std::make_unique<ScoreDocument>(*Memo1->document(), paths_.backupFile);
  compiler_ = std::make_unique<CompileController>(*playback_, compileSinks());
  additionalSettings_ = std::make_unique<AdditionalSettings>(paths_.additionalSettingsFile);
  refreshRecentMenu();
  follower_ = new ScoreFollower(*Memo1, *document_, this);
  FollowScore1->setChecked(additionalSettings_->playback().followScore);
  KeepPlace1->setChecked(additionalSettings_->playback().keepPlace);
  connect(FollowScore1, &QAction::toggled, this, [this](bool on) {
    if (!on) follower_->clear();
    storePlaybackOptions();
  });
  connect(KeepPlace1, &QAction::toggled, this, &TForm1::storePlaybackOptions);
  Timer1 = new QTimer(this);
  Timer1->setInterval(1000);
  connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);

  Memo1->currentBytes = [this] { return document_->size(); };
  Memo1->bytesOf = [this](const QString& text) { return encodedSize(text, document_->encoding()); };
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
          [this] { Memo1->moveCursor(QTextCursor::Start); });
  services_.mediaPlayer().onNotify = [this] { MediaPlayer1Notify(); };
  services_.mediaPlayer().onOutputFallback = [this](const OutputFallback& fallback) {
    outputFellBack(fallback);
  };
  connect(N13, &QAction::toggled, playback_.get(), &PlaybackController::setLoop);
  connect(S1, &QAction::toggled, this, [this](bool on) { compiler_->session().autoPan = on; });
  connect(N17, &QAction::toggled, this, &TForm1::showLineNumbers);
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

// Applies the loaded start-up settings through the same commands a user would click. A file
// that was not accepted means the defaults; the gate choice keeps its value.
void TForm1::applyStartupSettings(SettingsLoad loaded) {
  if (loaded != SettingsLoad::Loaded) startupSettings_ = StartupSettings{};
  if (startupSettings_.AutoSaveAtStart) N16Click();
  if (startupSettings_.PlayLoopAtStart) N13Click();
  if (startupSettings_.LineNumbersAtStart) N17Click();
  if (startupSettings_.MaximizedAtStart) setWindowState(windowState() | Qt::WindowMaximized);
  if (startupSettings_.AutoPanAtStart) S1Click();
  QAction* const fonts[] = {N8p1, N10p1, N12p1};
  const int32_t index = startupSettings_.FontSizeIndex;
  N10p1Click(fonts[index >= 0 && index < 3 ? index : 0]);
}

// The single-instance lock and the recovery of a left-over automatic backup.
void TForm1::takeBackupLock() {
  switch (document_->takeBackupLock()) {
    case BackupStart::LeftOver:
      if (services_.messageBox(this, "自動backupfileがあります\n読み込みますか？", QString("確認"),
                               BoxButtons::YesNo, BoxIcon::Question) == BoxAnswer::Yes) {
        document_->recoverBackup();
        lastOpenName_.clear();
      }
      break;
    case BackupStart::HeldElsewhere:
      showStop("すでにtarvik32が起動中\n今から起動するtarvik32で\n自動backupは作動しません.");
      break;
    case BackupStart::Fresh:
    case BackupStart::Unavailable:
      break;
  }
}

// The line-number margin. The choice is kept in the settings file's start-up flag, so the next
// start shows what the user chose; start-up itself, applying that flag, writes nothing.
void TForm1::showLineNumbers(bool on) {
  Memo1->setLineNumbersShown(on);
  if (startupSettings_.LineNumbersAtStart == on) return;
  startupSettings_.LineNumbersAtStart = on;
  saveSettings(paths_.settingsFile, startupSettings_, compiler_->session().q7Default);
}

bool TForm1::autoSaveOn() const {
  return N16->isChecked();
}
bool TForm1::playLoopOn() const {
  return N13->isChecked();
}
bool TForm1::autoPanOn() const {
  return S1->isChecked();
}

// The toggles: a menu command or a click on the button flips the one action both show.
void TForm1::N16Click() {
  N16->trigger();
}
void TForm1::SpeedButton6Click() {
  N16->trigger();
}
void TForm1::N13Click() {
  N13->trigger();
}
void TForm1::SpeedButton5Click() {
  N13->trigger();
}
void TForm1::S1Click() {
  S1->trigger();
}
void TForm1::SpeedButton12Click() {
  S1->trigger();
}
void TForm1::N17Click() {
  N17->trigger();
}
void TForm1::SpeedButton7Click() {
  N17->trigger();
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
  return maybeSave();
}

void TForm1::FormClose() {
  Timer1->stop();
  if (!document_->releaseBackup(false)) showStop("!!tarvik32.tmp削除失敗");
  if (logoForm_) logoForm_->close();
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (endedBySignal_) {
    event->accept();
    return;
  }
  if (compiler_->busy() || audioExport_ || !FormCloseQuery()) {
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
    endRequested_ = true;  // handled when the compilation returns
    return;
  }
  if (audioExport_) {
    endRequested_ = true;  // handled once the cancelled export has cleaned up
    audioExport_->cancel();
    return;
  }
  Timer1->stop();
  const bool kept = document_->preserveUnsavedText();
  Form2->Timer1->stop();
  playback_->stop();
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
