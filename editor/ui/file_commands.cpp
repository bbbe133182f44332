// The File menu's commands: open, save with a ".bak" copy, save as, the conversion between
// code page 932 and UTF-8, close, files dropped onto the window, the recently used files and the
// automatic backup. The score document does the work; these commands ask, then show what it
// reports.
#include "editor/ui/file_commands.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QTimer>

#include "editor/compile/compile_controller.h"
#include "editor/document/score_document.h"
#include "editor/playback/playback_controller.h"
#include "editor/settings/additional_settings.h"
#include "editor/ui/command_window.h"
#include "editor/ui/file_dialog_folder.h"
#include "editor/ui/playback_commands.h"

namespace {

const char SAVE_PROMPT[] = "ソースが変更されています\n保存しますか？";
const char SAVE_AS_UTF8_QUESTION[] = "\nUTF-8 で保存しますか？";
const QStringList SOURCE_FILTERS = {"vantor用ソース(*.fms *.txt)", "すべてのファイル(*)"};
const char RECENT_FILE_GONE[] = " -> ファイルがないため最近使ったファイルから外しました : %1";
constexpr int BACKUP_TICK_MS = 1000;

// A recent-files item: its number as the mnemonic (1 to 9, then 0) and the path, whose own "&"
// are doubled so they show.
QString recentItemText(int index, const QString& path) {
  const QString number = index < 9 ? QString("&%1").arg(index + 1) : QString("1&0");
  return number + ' ' + QDir::toNativeSeparators(path).replace('&', "&&");
}

}  // namespace

FileCommands::FileCommands(QWidget& window, Actions actions) : actions_(actions) {
  recentMenu_ = new QMenu("最近使ったファイル(&R)", &window);
  recentMenu_->setObjectName("recentFilesMenu");
  recentMenu_->menuAction()->setObjectName("recentFiles");
  QObject::connect(recentMenu_, &QMenu::triggered, recentMenu_,
                   [this](QAction* item) { openRecent(item->data().toString()); });
  backupTimer_ = new QTimer(&window);
  backupTimer_->setInterval(BACKUP_TICK_MS);
  QObject::connect(backupTimer_, &QTimer::timeout, backupTimer_, [this] { backupTick(); });
}

void FileCommands::attach(const Rooms& rooms) {
  rooms_.emplace(rooms);
}

bool FileCommands::busy() const {
  return rooms_->compiler.busy();
}

void FileCommands::showRecentFiles(const QStringList& paths) {
  // The items go later: the one chosen may be the one whose signal is running.
  for (QAction* item : recentMenu_->actions()) {
    recentMenu_->removeAction(item);
    item->deleteLater();
  }
  for (int i = 0; i < paths.size(); ++i) {
    QAction* item = recentMenu_->addAction(recentItemText(i, paths.at(i)));
    item->setData(paths.at(i));
  }
  recentMenu_->menuAction()->setEnabled(!paths.isEmpty());
}

void FileCommands::showEncoding(TextEncoding encoding) {
  const bool utf8 = encoding == TextEncoding::Utf8;
  actions_.toUtf8->setEnabled(!utf8);
  actions_.toCp932->setEnabled(utf8);
}

bool FileCommands::autoSaveOn() const {
  return actions_.autoSave->isChecked();
}

bool FileCommands::load(const QString& fileName) {
  CommandWindow& window = rooms_->window;
  const DocumentOutcome outcome = rooms_->document.load(fileName);
  if (!outcome.ok) {
    window.showStop(outcome.boxText);
    lastOpenName.clear();
    window.appendMessage("ERR:ファイルオープンできない.");
    return false;
  }
  lastOpenName = fileName;
  remember(fileName);
  window.appendMessage(
      QString(" -> 開いたソースのサイズ : %1 バイト").arg(rooms_->document.size()));
  return true;
}

bool FileCommands::maybeSave() {
  ScoreDocument& document = rooms_->document;
  if (document.isSaved() || document.size() == 0) return true;
  switch (rooms_->services.messageBox(&rooms_->window.widget(), SAVE_PROMPT, QString("確認"),
                                      BoxButtons::YesNoCancel, BoxIcon::Question)) {
    case BoxAnswer::No:
      return true;
    case BoxAnswer::Yes:
      save();
      return document.isSaved();  // a cancelled or failed save keeps the text
    default:
      return false;
  }
}

void FileCommands::open() {
  if (busy()) return;
  const QString name = rooms_->services.openFileName(
      &rooms_->window.widget(),
      {SOURCE_FILTERS, "fms", scoreDialogFolder(rooms_->document, rooms_->settings),
       QFileInfo(lastOpenName).fileName(), false});
  if (name.isEmpty()) return;
  openChosen(name);
}

void FileCommands::openChosen(const QString& fileName) {
  if (rooms_->playing.controller().hasTemporaryFile()) rooms_->playing.stop();
  if (!maybeSave()) return;
  load(fileName);
}

void FileCommands::openRecent(const QString& path) {
  if (busy()) return;
  if (!QFileInfo::exists(path)) {
    rooms_->settings.removeRecentFile(path);
    reportSettingsNotice();
    refreshRecentMenu();
    rooms_->window.appendMessage(QString(RECENT_FILE_GONE).arg(QDir::toNativeSeparators(path)));
    return;
  }
  openChosen(path);
}

// A list that cannot be written stays for this run; nothing is said unless the file is one the
// settings leave alone, as the list only saves the user a trip through the open dialog.
void FileCommands::remember(const QString& fileName) {
  rooms_->settings.addRecentFile(fileName);
  reportSettingsNotice();
  refreshRecentMenu();
}

void FileCommands::refreshRecentMenu() {
  showRecentFiles(rooms_->settings.recentFiles());
}

void FileCommands::reportSettingsNotice() {
  if (const std::optional<QString> notice = rooms_->settings.takeNotice())
    rooms_->window.appendMessage(*notice);
}

void FileCommands::save() {
  ScoreDocument& document = rooms_->document;
  if (!document.hasFileName()) {
    saveAs();
    return;
  }
  reportSave(document.save(), [&document] { return document.save(); });
}

void FileCommands::saveAs() {
  ScoreDocument& document = rooms_->document;
  const QString initial =
      document.hasFileName() ? QFileInfo(document.sourcePath()).fileName() : QString();
  const QString name = rooms_->services.saveFileName(
      &rooms_->window.widget(),
      {SOURCE_FILTERS, "fms", scoreDialogFolder(document, rooms_->settings), initial, true});
  if (name.isEmpty()) return;
  reportSave(document.saveAs(name), [&document, name] { return document.saveAs(name); });
  if (document.isSaved() && sameFile(document.sourcePath(), name)) {
    remember(document.sourcePath());
  }
}

void FileCommands::reportSave(const DocumentOutcome& outcome,
                              const std::function<DocumentOutcome()>& again) {
  if (outcome.ok) return;
  CommandWindow& window = rooms_->window;
  if (!outcome.unencodable || rooms_->document.encoding() != TextEncoding::Cp932) {
    window.showStop(outcome.boxText);
    return;
  }
  if (rooms_->services.messageBox(&window.widget(), outcome.boxText + SAVE_AS_UTF8_QUESTION,
                                  std::nullopt, BoxButtons::YesNo,
                                  BoxIcon::Question) != BoxAnswer::Yes)
    return;
  rooms_->document.convertTo(TextEncoding::Utf8);
  const DocumentOutcome saved = again();
  if (!saved.ok) window.showStop(saved.boxText);
}

void FileCommands::convertTo(TextEncoding encoding) {
  if (busy()) return;
  const DocumentOutcome outcome = rooms_->document.convertTo(encoding);
  if (!outcome.ok) rooms_->window.showStop(outcome.boxText);
  rooms_->window.updateStatusBar();
}

bool FileCommands::close() {
  if (busy()) return false;
  const qsizetype size = rooms_->document.size();
  if (!maybeSave()) return false;
  rooms_->window.clearMessages();
  rooms_->document.close();
  if (size > 0) {
    rooms_->window.appendMessage(QString(" -> 閉じたソースのサイズ : %1 バイト").arg(size));
  }
  return true;
}

void FileCommands::dropped(const QStringList& names) {
  if (names.isEmpty() || busy()) return;
  QWidget& window = rooms_->window.widget();
  window.raise();
  window.activateWindow();
  if (!close()) return;
  if (rooms_->playing.controller().hasTemporaryFile()) rooms_->playing.stop();
  load(names.first());
  QCoreApplication::processEvents();
}

// One tick a second; a due backup is written with the caption saying so. A failed write stops
// the backups for the rest of the run.
void FileCommands::backupTick() {
  ScoreDocument& document = rooms_->document;
  if (!document.schedule().tick()) return;
  backupTimer_->stop();
  DocumentOutcome outcome;
  if (document.backupActive()) {
    QWidget& window = rooms_->window.widget();
    const QString caption = window.windowTitle();
    window.setWindowTitle(" 自動バックアップ中");
    outcome = document.writeBackup();
    window.setWindowTitle(caption);
  }
  if (!outcome.ok) {
    rooms_->window.showStop(outcome.boxText);
    return;
  }
  document.schedule().restart();
  backupTimer_->start();
}
