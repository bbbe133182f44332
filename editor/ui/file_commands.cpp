// The source file commands of the main window: open, save with a ".bak" copy, save as, the
// conversion between code page 932 and UTF-8, close, files dropped onto the window, the
// modification marker and the automatic backup. The score document does the work; these
// handlers ask, then show what it reports.
#include <QApplication>

#include "editor/compile/compile_controller.h"
#include "editor/document/score_document.h"
#include "editor/playback/playback_controller.h"
#include "editor/ui/main_window.h"
#include "editor/ui/player_window.h"

namespace {

const char SAVE_PROMPT[] = "ソースが変更されています\n保存しますか？";
const char MODIFIED_MARK[] = "変更あり";
const char SAVE_AS_UTF8_QUESTION[] = "\nUTF-8 で保存しますか？";
const QStringList SOURCE_FILTERS = {"vantor用ソース(*.fms *.txt)", "すべてのファイル(*)"};

}  // namespace

bool TForm1::loadSourceFile(const QString& fileName) {
  const DocumentOutcome outcome = document_->load(fileName);
  if (!outcome.ok) {
    showStop(outcome.boxText);
    lastOpenName_.clear();
    appendMessage("ERR:ファイルオープンできない.");
    return false;
  }
  lastOpenName_ = fileName;
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
  const QString name = services_.openFileName(this, {SOURCE_FILTERS, "fms", lastOpenName_, false});
  if (name.isEmpty()) return;
  if (playback_->hasTemporaryFile()) stopPlayback();
  if (!maybeSave()) return;
  loadSourceFile(name);
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
  const QString initial = document_->hasFileName() ? document_->sourcePath() : QString();
  const QString name = services_.saveFileName(this, {SOURCE_FILTERS, "fms", initial, true});
  if (name.isEmpty()) return;
  reportSave(document_->saveAs(name), [this, name] { return document_->saveAs(name); });
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

void TForm1::Utf8Convert1Click() {
  convertTo(TextEncoding::Utf8);
}

void TForm1::Cp932Convert1Click() {
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
  if (playback_->hasTemporaryFile()) stopPlayback();
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
