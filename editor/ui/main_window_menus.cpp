// The main window's menus, items and tool buttons, made from tables: the window's own commands
// here, the view's (edit, find, go to, line numbers, fonts) from the view's table. Each control
// is named after its form name, so that it can be found by it.
#include <QAction>
#include <QMenuBar>
#include <QToolBar>
#include <vector>

#include "editor/ui/main_window.h"
#include "editor/ui/toolbar_icons.h"
#include "editor/view/score_view.h"

// The tables name the window's private controls, so they live in a friend of the window.
struct WindowTables {
  // The window's menu items: form name, caption, shortcut, the hint of the tool button that
  // shows the same action, and the handler of a push item (the toggles are wired in
  // connectRooms).
  struct ActionEntry {
    QAction* TForm1::*item;
    const char* name;
    const char* text;
    QKeyCombination shortcut;
    const char* hint;
    void (TForm1::*handler)();
    bool checkable;
  };
  static const ActionEntry ACTIONS[];

  // A menu item: the window's or the view's; neither is a separator.
  struct MenuItem {
    QAction* TForm1::*window = nullptr;
    QAction* ScoreView::*view = nullptr;
  };
  struct MenuEntry {
    QMenu* TForm1::*menu;
    const char* name;
    const char* title;
    std::vector<MenuItem> items;
  };
  static std::vector<MenuEntry> menus();

  // The tool bar, left to right: the blank gap before each button, and the action it shows.
  struct ToolEntry {
    int gapBefore;
    QToolButton* TForm1::*button;
    const char* name;
    MenuItem item;
    ToolIcon icon;
  };
  static std::vector<ToolEntry> tools();
};

const WindowTables::ActionEntry WindowTables::ACTIONS[] = {
    {&TForm1::Open1, "Open1", "開く(&O)...", {}, "開く", &TForm1::Open1Click, false},
    {&TForm1::Close1, "Close1", "閉じる(&C)", {}, nullptr, &TForm1::Close1Click, false},
    {&TForm1::ImportMidi1,
     "ImportMidi1",
     "MIDI ファイル読み込み(&I)...",
     {},
     nullptr,
     &TForm1::ImportMidi1Click,
     false},
    {&TForm1::midi1, "midi1", "midi ファイル作成(&M)", Qt::CTRL | Qt::Key_F9, "SMF作成",
     &TForm1::midi1Click, false},
    {&TForm1::audio1,
     "audio1",
     "WAV/FLAC ファイル書き出し(&W)",
     {},
     nullptr,
     &TForm1::audio1Click,
     false},
    {&TForm1::korvel1, "korvel1", "korvelデータ出力", {}, nullptr, &TForm1::korvel1Click, false},
    {&TForm1::Save1, "Save1", "上書き保存(&S)", Qt::CTRL | Qt::Key_S, "上書き保存",
     &TForm1::Save1Click, false},
    {&TForm1::N16, "N16", "自動上書き保存(&V)", {}, "自動上書き保存", nullptr, true},
    {&TForm1::N1, "N1", "名前をつけて保存(&A)", {}, nullptr, &TForm1::N1Click, false},
    {&TForm1::Utf8Convert1,
     "Utf8Convert1",
     "UTF-8 に変換(&U)",
     {},
     nullptr,
     &TForm1::Utf8Convert1Click,
     false},
    {&TForm1::Cp932Convert1,
     "Cp932Convert1",
     "シフトJIS に変換(&J)",
     {},
     nullptr,
     &TForm1::Cp932Convert1Click,
     false},
    {&TForm1::Exit1, "Exit1", "終了(&X)", {}, nullptr, &TForm1::Exit1Click, false},
    {&TForm1::N19, "N19", "環境設定(&O)", {}, nullptr, &TForm1::N19Click, false},
    {&TForm1::N4, "N4", "ｺﾝﾊﾟｲﾙ後再生(&R)", Qt::Key_F9, "実行", &TForm1::N4Click, false},
    {&TForm1::PlayFromCursor1, "PlayFromCursor1", "カーソル位置から再生(&C)",
     Qt::SHIFT | Qt::Key_F9, "カーソル位置から再生", &TForm1::PlayFromCursor1Click, false},
    {&TForm1::N13, "N13", "演奏ループ(&L)", Qt::Key_F11, "演奏ループ", nullptr, true},
    {&TForm1::FollowScore1, "FollowScore1", "演奏箇所を表示(&F)", {}, nullptr, nullptr, true},
    {&TForm1::KeepPlace1,
     "KeepPlace1",
     "再コンパイル時に再生位置を保つ(&K)",
     {},
     nullptr,
     nullptr,
     true},
    {&TForm1::S1, "S1", "自動左右配分(&S)", {}, "自動左右", nullptr, true},
    {&TForm1::CheckAsYouType1,
     "CheckAsYouType1",
     "入力中にチェック(&I)",
     {},
     nullptr,
     nullptr,
     true},
    {&TForm1::PianoRoll1, "PianoRoll1", "ピアノロール(&P)", {}, "ピアノロール", nullptr, true},
    {&TForm1::vantor1, "vantor1", "tarvik32説明書(&C)", {}, nullptr, &TForm1::vantor1Click, false},
    {&TForm1::about1, "about1", "バージョン情報(&A)", {}, nullptr, &TForm1::about1Click, false},
};

std::vector<WindowTables::MenuEntry> WindowTables::menus() {
  using T = TForm1;
  using V = ScoreView;
  const MenuItem separator;
  return {
      {&T::File1,
       "File1",
       "ファイル(&F)",
       {{&T::Open1},
        {&T::Close1},
        {&T::Recent1},
        {&T::ImportMidi1},
        separator,
        {&T::midi1},
        {&T::audio1},
        {&T::korvel1},
        separator,
        {&T::Save1},
        {&T::N16},
        {&T::N1},
        separator,
        {&T::Utf8Convert1},
        {&T::Cp932Convert1},
        separator,
        {&T::Exit1}}},
      {&T::Edit1,
       "Edit1",
       "編集(&E)",
       {{nullptr, &V::Undo2},
        {nullptr, &V::Redo2},
        separator,
        {nullptr, &V::Cut2},
        {nullptr, &V::Copy2},
        {nullptr, &V::Paste2},
        {nullptr, &V::Delete2},
        separator,
        {nullptr, &V::SelectAll2},
        separator,
        {nullptr, &V::Find1},
        {nullptr, &V::Replace1},
        {nullptr, &V::FindNext1},
        {nullptr, &V::FindPrevious1}}},
      {&T::GoTo1,
       "GoTo1",
       "移動(&J)",
       {{nullptr, &V::GotoStart}, {nullptr, &V::N6}, {nullptr, &V::GotoLast}}},
      {&T::Show1, "Show1", "表示(&V)", {{nullptr, &V::N17}, {&T::PianoRoll1}, {&T::N19}}},
      {&T::N3,
       "N3",
       "処理(&R)",
       {{&T::N4},
        {&T::PlayFromCursor1},
        separator,
        {&T::N13},
        {&T::S1},
        separator,
        {&T::FollowScore1},
        {&T::KeepPlace1},
        separator,
        {&T::CheckAsYouType1}}},
      {&T::N12,
       "N12",
       "文字(&S)",
       {{nullptr, &V::N8p1}, {nullptr, &V::N10p1}, {nullptr, &V::N12p1}}},
      {&T::N5, "N5", "ヘルプ(&H)", {{&T::vantor1}, separator, {&T::about1}}},
  };
}

std::vector<WindowTables::ToolEntry> WindowTables::tools() {
  using T = TForm1;
  using V = ScoreView;
  return {
      {15, &T::SpeedButton1, "SpeedButton1", {&T::Open1}, ToolIcon::Open},
      {17, &T::SpeedButton3, "SpeedButton3", {&T::Save1}, ToolIcon::Save},
      {0, &T::SpeedButton6, "SpeedButton6", {&T::N16}, ToolIcon::AutoSave},
      {14, &T::SpeedButton4, "SpeedButton4", {&T::midi1}, ToolIcon::MakeMidi},
      {15, &T::SpeedButton2, "SpeedButton2", {&T::N4}, ToolIcon::Run},
      {0, &T::SpeedButton13, "SpeedButton13", {&T::PlayFromCursor1}, ToolIcon::RunFromCursor},
      {0, &T::SpeedButton5, "SpeedButton5", {&T::N13}, ToolIcon::Loop},
      {8, &T::SpeedButton7, "SpeedButton7", {nullptr, &V::N17}, ToolIcon::LineNumbers},
      {0, &T::SpeedButton8, "SpeedButton8", {nullptr, &V::N8p1}, ToolIcon::FontSmall},
      {0, &T::SpeedButton9, "SpeedButton9", {nullptr, &V::N10p1}, ToolIcon::FontMedium},
      {0, &T::SpeedButton10, "SpeedButton10", {nullptr, &V::N12p1}, ToolIcon::FontLarge},
      {11, &T::SpeedButton12, "SpeedButton12", {&T::S1}, ToolIcon::AutoPan},
      {11, &T::SpeedButton14, "SpeedButton14", {&T::PianoRoll1}, ToolIcon::PianoRoll},
  };
}

namespace {

QAction* itemOf(const TForm1& window, const ScoreView& view, const WindowTables::MenuItem& item) {
  if (item.window != nullptr) return window.*item.window;
  if (item.view != nullptr) return view.*item.view;
  return nullptr;
}

}  // namespace

void TForm1::createActions() {
  for (const WindowTables::ActionEntry& entry : WindowTables::ACTIONS) {
    QAction* item = makeCommandAction(this, entry.name, entry.text, entry.shortcut, entry.hint,
                                      entry.checkable);
    if (entry.handler != nullptr) connect(item, &QAction::triggered, this, entry.handler);
    this->*entry.item = item;
  }
}

// The recent-files submenu; its items follow the list (refreshRecentMenu).
void TForm1::createRecentMenu() {
  RecentFiles1 = new QMenu("最近使ったファイル(&R)", this);
  RecentFiles1->setObjectName("RecentFiles1");
  Recent1 = RecentFiles1->menuAction();
  Recent1->setObjectName("Recent1");
  connect(RecentFiles1, &QMenu::triggered, this,
          [this](QAction* item) { openRecentFile(item->data().toString()); });
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
    this->*entry.menu = menu;
  }
  connect(Edit1, &QMenu::aboutToShow, view_, &ScoreView::PopupMenu1Popup);
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
    this->*entry.button = button;
  }
}

QAction* TForm1::action(const char* name) const {
  for (QAction* item : findChildren<QAction*>(QString::fromLatin1(name))) {
    if (item->parent() == this || item->parent() == RecentFiles1) return item;
  }
  return nullptr;
}

QToolButton* TForm1::toolButton(const char* name) const {
  return findChild<QToolButton*>(QString::fromLatin1(name));
}

QMenu* TForm1::menu(const char* name) const {
  return findChild<QMenu*>(QString::fromLatin1(name));
}
