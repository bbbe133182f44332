// The source file commands of the main window: open, save with a ".bak" copy, save as, the
// conversion between code page 932 and UTF-8, close, files dropped onto the window, the
// recently used files, the modification marker and the automatic backup. The score document
// does the work; these handlers ask, then show what it reports.
#include "editor/ui/file_commands.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenu>

#include "editor/compile/compile_controller.h"
#include "editor/document/score_document.h"
#include "editor/playback/playback_controller.h"
#include "editor/settings/additional_settings.h"
#include "editor/ui/file_dialog_folder.h"
#include "editor/ui/main_window.h"
#include "editor/ui/player_window.h"

namespace {

const char SAVE_PROMPT[] = "ソースが変更されています\n保存しますか？";
const char MODIFIED_MARK[] = "変更あり";
const char SAVE_AS_UTF8_QUESTION[] = "\nUTF-8 で保存しますか？";
const QStringList SOURCE_FILTERS = {"vantor用ソース(*.fms *.txt)", "すべてのファイル(*)"};
const char RECENT_FILE_GONE[] = " -> ファイルがないため最近使ったファイルから外しました : %1";

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

bool TForm1::loadSourceFile(const QString& fileName) {
  const DocumentOutcome outcome = document_->load(fileName);
  if (!outcome.ok) {
    showStop(outcome.boxText);
    files_->lastOpenName.clear();
    appendMessage("ERR:ファイルオープンできない.");
    return false;
  }
  files_->lastOpenName = fileName;
  rememberRecentFile(fileName);
  appendMessage(QString(" -> 開いたソースのサイズ : %1 バイト").arg(document_->size()));
  return true;
}

void TForm1::Memo1Change() {
  setStatusText(PANEL_MODIFIED, MODIFIED_MARK);
}

bool TForm1::maybeSave() {
  if (document_->isSaved() || document_->size() == 0) return true;
  switch (services_.messageBox(this, SAVE_PROMPT, QString("確認"), BoxButtons::YesNoCancel,
                               BoxIcon::Question)) {
    case BoxAnswer::No:
      return true;
    case BoxAnswer::Yes:
      Save1Click();
      return document_->isSaved();  // a cancelled or failed save keeps the text
    default:
      return false;
  }
}

void TForm1::SpeedButton1Click() {
  if (compiler_->busy()) return;
  const QString name = services_.openFileName(
      this, {SOURCE_FILTERS, "fms", scoreDialogFolder(*document_, *additionalSettings_),
             QFileInfo(files_->lastOpenName).fileName(), false});
  if (name.isEmpty()) return;
  openChosenFile(name);
}

void TForm1::openChosenFile(const QString& fileName) {
  if (playback().hasTemporaryFile()) stopPlayback();
  if (!maybeSave()) return;
  loadSourceFile(fileName);
}

void TForm1::openRecentFile(const QString& path) {
  if (compiler_->busy()) return;
  if (!QFileInfo::exists(path)) {
    additionalSettings_->removeRecentFile(path);
    reportSettingsNotice();
    refreshRecentMenu();
    appendMessage(QString(RECENT_FILE_GONE).arg(QDir::toNativeSeparators(path)));
    return;
  }
  openChosenFile(path);
}

// A list that cannot be written stays for this run; nothing is said unless the file is one the
// settings leave alone, as the list only saves the user a trip through the open dialog.
void TForm1::rememberRecentFile(const QString& fileName) {
  additionalSettings_->addRecentFile(fileName);
  reportSettingsNotice();
  refreshRecentMenu();
}

void TForm1::refreshRecentMenu() {
  files_->showRecentFiles(additionalSettings_->recentFiles());
}

void TForm1::Open1Click() {
  SpeedButton1Click();
}

void TForm1::Save1Click() {
  if (!document_->hasFileName()) {
    N1Click();
    return;
  }
  reportSave(document_->save(), [this] { return document_->save(); });
}

void TForm1::N1Click() {
  const QString initial =
      document_->hasFileName() ? QFileInfo(document_->sourcePath()).fileName() : QString();
  const QString name = services_.saveFileName(
      this,
      {SOURCE_FILTERS, "fms", scoreDialogFolder(*document_, *additionalSettings_), initial, true});
  if (name.isEmpty()) return;
  reportSave(document_->saveAs(name), [this, name] { return document_->saveAs(name); });
  if (document_->isSaved() && sameFile(document_->sourcePath(), name)) {
    rememberRecentFile(document_->sourcePath());
  }
}

void TForm1::reportSave(const DocumentOutcome& outcome,
                        const std::function<DocumentOutcome()>& again) {
  if (outcome.ok) return;
  if (!outcome.unencodable || document_->encoding() != TextEncoding::Cp932) {
    showStop(outcome.boxText);
    return;
  }
  if (services_.messageBox(this, outcome.boxText + SAVE_AS_UTF8_QUESTION, std::nullopt,
                           BoxButtons::YesNo, BoxIcon::Question) != BoxAnswer::Yes)
    return;
  document_->convertTo(TextEncoding::Utf8);
  const DocumentOutcome saved = again();
  if (!saved.ok) showStop(saved.boxText);
}

void TForm1::convertToUtf8() {
  convertTo(TextEncoding::Utf8);
}

void TForm1::convertToCp932() {
  convertTo(TextEncoding::Cp932);
}

void TForm1::convertTo(TextEncoding encoding) {
  if (compiler_->busy()) return;
  const DocumentOutcome outcome = document_->convertTo(encoding);
  if (!outcome.ok) showStop(outcome.boxText);
  updateStatusBar();
}

void TForm1::Close1Click() {
  closeSource();
}

bool TForm1::closeSource() {
  if (compiler_->busy()) return false;
  const qsizetype size = document_->size();
  if (!maybeSave()) return false;
  Memo2->clear();
  document_->close();
  if (size > 0) appendMessage(QString(" -> 閉じたソースのサイズ : %1 バイト").arg(size));
  return true;
}

void TForm1::filesDropped(const QStringList& names) {
  if (names.isEmpty() || compiler_->busy()) return;
  raise();
  activateWindow();
  if (!closeSource()) return;
  if (playback().hasTemporaryFile()) stopPlayback();
  loadSourceFile(names.first());
  QCoreApplication::processEvents();
}

// One tick a second; a due backup is written with the caption saying so. A failed write stops
// the backups for the rest of the run.
void TForm1::Timer1Timer() {
  if (!document_->schedule().tick()) return;
  Timer1->stop();
  DocumentOutcome outcome;
  if (document_->backupActive()) {
    const QString caption = windowTitle();
    setWindowTitle(" 自動バックアップ中");
    outcome = document_->writeBackup();
    setWindowTitle(caption);
  }
  if (!outcome.ok) {
    showStop(outcome.boxText);
    return;
  }
  document_->schedule().restart();
  Timer1->start();
}
