// The main window's menus, items and tool buttons, made from tables: the window's own commands
// here, the view's (edit, find, go to, line numbers, fonts) from the view's table. Each control
// is named after its form name and found by it; the command objects keep those they update.
#include <QAction>
#include <QMenuBar>
#include <QToolBar>
#include <vector>

#include "editor/ui/export_commands.h"
#include "editor/ui/file_commands.h"
#include "editor/ui/main_window.h"
#include "editor/ui/playback_commands.h"
#include "editor/ui/toolbar_icons.h"
#include "editor/view/score_view.h"

// The tables name the window's handlers and make its controls, so they live in a friend of it.
struct WindowTables {
  // The window's menu items: form name, caption, shortcut, the hint of the tool button that
  // shows the same action, and the handler of a push item (the toggles are wired in
  // connectRooms).
  struct ActionEntry {
    const char* name;
    const char* text;
    QKeyCombination shortcut;
    const char* hint;
    void (TForm1::*handler)();
    bool checkable;
  };
  static const ActionEntry ACTIONS[];

  // A menu item: the window's (by its name) or the view's; neither is a separator.
  struct MenuItem {
    const char* window = nullptr;
    QAction* ScoreView::*view = nullptr;
  };
  struct MenuEntry {
    const char* name;
    const char* title;
    std::vector<MenuItem> items;
  };
  static std::vector<MenuEntry> menus();

  // The tool bar, left to right: the blank gap before each button, and the action it shows.
  struct ToolEntry {
    int gapBefore;
    const char* name;
    MenuItem item;
    ToolIcon icon;
  };
  static std::vector<ToolEntry> tools();
};

const WindowTables::ActionEntry WindowTables::ACTIONS[] = {
    {"Open1", "開く(&O)...", {}, "開く", &TForm1::Open1Click, false},
    {"Close1", "閉じる(&C)", {}, nullptr, &TForm1::Close1Click, false},
    {"importMidi", "MIDI ファイル読み込み(&I)...", {}, nullptr, &TForm1::importMidiFile, false},
    {"midi1", "midi ファイル作成(&M)", Qt::CTRL | Qt::Key_F9, "SMF作成", &TForm1::midi1Click,
     false},
    {"exportAudio", "WAV/FLAC ファイル書き出し(&W)", {}, nullptr, &TForm1::exportAudio, false},
    {"korvel1", "korvelデータ出力", {}, nullptr, &TForm1::korvel1Click, false},
    {"Save1", "上書き保存(&S)", Qt::CTRL | Qt::Key_S, "上書き保存", &TForm1::Save1Click, false},
    {"N16", "自動上書き保存(&V)", {}, "自動上書き保存", nullptr, true},
    {"N1", "名前をつけて保存(&A)", {}, nullptr, &TForm1::N1Click, false},
    {"convertToUtf8", "UTF-8 に変換(&U)", {}, nullptr, &TForm1::convertToUtf8, false},
    {"convertToCp932", "シフトJIS に変換(&J)", {}, nullptr, &TForm1::convertToCp932, false},
    {"Exit1", "終了(&X)", {}, nullptr, &TForm1::Exit1Click, false},
    {"N19", "環境設定(&O)", {}, nullptr, &TForm1::N19Click, false},
    {"N4", "ｺﾝﾊﾟｲﾙ後再生(&R)", Qt::Key_F9, "実行", &TForm1::N4Click, false},
    {"playFromCaret", "カーソル位置から再生(&C)", Qt::SHIFT | Qt::Key_F9, "カーソル位置から再生",
     &TForm1::playFromCaret, false},
    {"N13", "演奏ループ(&L)", Qt::Key_F11, "演奏ループ", nullptr, true},
    {"followScore", "演奏箇所を表示(&F)", {}, nullptr, nullptr, true},
    {"keepPlace", "再コンパイル時に再生位置を保つ(&K)", {}, nullptr, nullptr, true},
    {"S1", "自動左右配分(&S)", {}, "自動左右", nullptr, true},
    {"checkAsYouType", "入力中にチェック(&I)", {}, nullptr, nullptr, true},
    {"showPianoRoll", "ピアノロール(&P)", {}, "ピアノロール", nullptr, true},
    {"vantor1", "tarvik32説明書(&C)", {}, nullptr, &TForm1::vantor1Click, false},
    {"about1", "バージョン情報(&A)", {}, nullptr, &TForm1::about1Click, false},
};

std::vector<WindowTables::MenuEntry> WindowTables::menus() {
  using V = ScoreView;
  const MenuItem separator;
  return {
      {"File1",
       "ファイル(&F)",
       {{"Open1"},
        {"Close1"},
        {"recentFiles"},
        {"importMidi"},
        separator,
        {"midi1"},
        {"exportAudio"},
        {"korvel1"},
        separator,
        {"Save1"},
        {"N16"},
        {"N1"},
        separator,
        {"convertToUtf8"},
        {"convertToCp932"},
        separator,
        {"Exit1"}}},
      {"Edit1",
       "編集(&E)",
       {{nullptr, &V::Undo2},
        {nullptr, &V::redoAction},
        separator,
        {nullptr, &V::Cut2},
        {nullptr, &V::Copy2},
        {nullptr, &V::Paste2},
        {nullptr, &V::Delete2},
        separator,
        {nullptr, &V::SelectAll2},
        separator,
        {nullptr, &V::findAction},
        {nullptr, &V::replaceAction},
        {nullptr, &V::findNextAction},
        {nullptr, &V::findPreviousAction}}},
      {"GoTo1", "移動(&J)", {{nullptr, &V::GotoStart}, {nullptr, &V::N6}, {nullptr, &V::GotoLast}}},
      {"Show1", "表示(&V)", {{nullptr, &V::N17}, {"showPianoRoll"}, {"N19"}}},
      {"N3",
       "処理(&R)",
       {{"N4"},
        {"playFromCaret"},
        separator,
        {"N13"},
        {"S1"},
        separator,
        {"followScore"},
        {"keepPlace"},
        separator,
        {"checkAsYouType"}}},
      {"N12", "文字(&S)", {{nullptr, &V::N8p1}, {nullptr, &V::N10p1}, {nullptr, &V::N12p1}}},
      {"N5", "ヘルプ(&H)", {{"vantor1"}, separator, {"about1"}}},
  };
}

std::vector<WindowTables::ToolEntry> WindowTables::tools() {
  using V = ScoreView;
  return {
      {15, "SpeedButton1", {"Open1"}, ToolIcon::Open},
      {17, "SpeedButton3", {"Save1"}, ToolIcon::Save},
      {0, "SpeedButton6", {"N16"}, ToolIcon::AutoSave},
      {14, "SpeedButton4", {"midi1"}, ToolIcon::MakeMidi},
      {15, "SpeedButton2", {"N4"}, ToolIcon::Run},
      {0, "playFromCaretButton", {"playFromCaret"}, ToolIcon::RunFromCursor},
      {0, "SpeedButton5", {"N13"}, ToolIcon::Loop},
      {8, "SpeedButton7", {nullptr, &V::N17}, ToolIcon::LineNumbers},
      {0, "SpeedButton8", {nullptr, &V::N8p1}, ToolIcon::FontSmall},
      {0, "SpeedButton9", {nullptr, &V::N10p1}, ToolIcon::FontMedium},
      {0, "SpeedButton10", {nullptr, &V::N12p1}, ToolIcon::FontLarge},
      {11, "SpeedButton12", {"S1"}, ToolIcon::AutoPan},
      {11, "pianoRollButton", {"showPianoRoll"}, ToolIcon::PianoRoll},
  };
}

namespace {

QAction* itemOf(const TForm1& window, const ScoreView& view, const WindowTables::MenuItem& item) {
  if (item.window != nullptr) return window.action(item.window);
  if (item.view != nullptr) return view.*item.view;
  return nullptr;
}

}  // namespace

void TForm1::createActions() {
  for (const WindowTables::ActionEntry& entry : WindowTables::ACTIONS) {
    QAction* item = makeCommandAction(this, entry.name, entry.text, entry.shortcut, entry.hint,
                                      entry.checkable);
    if (entry.handler != nullptr) connect(item, &QAction::triggered, this, entry.handler);
  }
}

// The command objects over the items their commands update; the recent-files submenu's items
// follow the list (FileCommands::refreshRecentMenu).
void TForm1::createCommands() {
  files_ = std::make_unique<FileCommands>(
      *this,
      FileCommands::Actions{action("N16"), action("convertToUtf8"), action("convertToCp932")});
  playing_ = std::make_unique<PlaybackCommands>(
      services_.mediaPlayer(), paths_.tempDir,
      PlaybackCommands::Actions{action("N4"), action("N13"), action("followScore"),
                                action("keepPlace")});
  exports_ = std::make_unique<ExportCommands>(*this);
  S1 = action("S1");
}

void TForm1::createMenus() {
  for (const WindowTables::MenuEntry& entry : WindowTables::menus()) {
    QMenu* menu = menuBar()->addMenu(QString::fromUtf8(entry.title));
    menu->setObjectName(entry.name);
    for (const WindowTables::MenuItem& item : entry.items) {
      if (QAction* action = itemOf(*this, *view_, item)) {
        menu->addAction(action);
      } else {
        menu->addSeparator();
      }
    }
  }
  connect(this->menu("Edit1"), &QMenu::aboutToShow, view_.get(), &ScoreView::updateEditItems);
}

void TForm1::createToolBar() {
  ToolBar1 = addToolBar("ToolBar1");
  ToolBar1->setObjectName("ToolBar1");
  ToolBar1->setMovable(false);
  ToolBar1->setFloatable(false);
  ToolBar1->setIconSize(QSize(20, 20));
  ToolBar1->setMouseTracking(true);
  ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
  for (const WindowTables::ToolEntry& entry : WindowTables::tools()) {
    if (entry.gapBefore > 0) {
      auto* space = new QWidget(ToolBar1);
      space->setFixedWidth(entry.gapBefore);
      space->setMouseTracking(true);
      ToolBar1->addWidget(space);
    }
    QAction* item = itemOf(*this, *view_, entry.item);
    item->setIcon(toolIcon(entry.icon));
    auto* button = new QToolButton(ToolBar1);
    button->setObjectName(entry.name);
    button->setDefaultAction(item);
    button->setAccessibleName(item->toolTip());
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    ToolBar1->addWidget(button);
  }
}

QAction* TForm1::action(const char* name) const {
  for (QAction* item : findChildren<QAction*>(QString::fromLatin1(name))) {
    if (item->parent() == this || (files_ && item->parent() == files_->recentMenu())) return item;
  }
  return nullptr;
}

QToolButton* TForm1::toolButton(const char* name) const {
  return findChild<QToolButton*>(QString::fromLatin1(name));
}

QMenu* TForm1::menu(const char* name) const {
  return findChild<QMenu*>(QString::fromLatin1(name));
}
