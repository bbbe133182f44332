// The source file commands of the main window: open, save with a ".bak" copy, save as, close,
// files dropped onto the window, the modification marker and the automatic backup.
#include <QApplication>
#include <QFile>
#include <QFileInfo>

#include "editor/document/whole_file_writer.h"
#include "editor/ui/main_window.h"
#include "editor/ui/player_window.h"
#include "editor/document/text_codec.h"

namespace {

const char SAVE_PROMPT[] = "ソースが変更されています\n保存しますか？";
const char MODIFIED_MARK[] = "変更あり";

// Larger files are refused: the editor pane is made for scores, not for arbitrary data.
constexpr qint64 LOADABLE_FILE_BYTES = 16 * 1024 * 1024;

const QStringList SOURCE_OPEN_FILTERS = {"vantor用ソース(*.fms *.txt)", "すべてのファイル(*)"};
const QStringList SOURCE_SAVE_FILTERS = {"vantor用ソース(*.fms *.txt)", "すべてのファイル(*)"};

}  // namespace

qsizetype TForm1::editorSize() const {
  return byteCounter->total();
}

std::optional<QByteArray> TForm1::editorBytes(const QString& purpose) {
  QString text = Memo1->document()->toRawText();
  text.replace(QChar::ParagraphSeparator, '\n');
  QByteArray bytes;
  if (const std::optional<Unencodable> bad = encodeCp932(text, bytes)) {
    if (!purpose.isEmpty()) {
      const QString character = QString::fromUcs4(&bad->character, 1);
      const QString code =
          QString::number(static_cast<uint>(bad->character), 16).toUpper().rightJustified(4, '0');
      services.messageBox(this,
                          QString("%1できません.\n%2 行目の文字「%3」(U+%4) は\n"
                                  "シフトJIS(コードページ932)で表せません.")
                              .arg(purpose)
                              .arg(bad->line + 1)
                              .arg(character, code),
                          std::nullopt, BoxButtons::Ok, BoxIcon::Stop);
    }
    return std::nullopt;
  }
  return bytes;
}

bool TForm1::loadSourceFile(const QString& fileName) {
  QFile file(fileName);
  const QFileInfo info(fileName);
  QByteArray bytes;
  bool loaded =
      info.isFile() && info.size() <= LOADABLE_FILE_BYTES && file.open(QIODevice::ReadOnly);
  if (loaded) {
    bytes = file.readAll();
    loaded = file.error() == QFileDevice::NoError;
  }
  if (!loaded) {
    services.messageBox(this, "OPENできません", std::nullopt, BoxButtons::Ok, BoxIcon::Stop);
    sourceOpenFailed();
    return false;
  }
  Memo1->setPlainText(loadedText(bytes));
  sourceOpened(fileName, editorSize());
  return true;
}

// The text now belongs to `name`, saved; its ".mid" goes beside it. Paths are kept whole: a
// shortened path would name another file.
void TForm1::nameSource(const QString& name) {
  state.sourcePath = name;
  state.hasFileName = true;
  state.isSaved = true;
  setStatusText(2, QString());
  state.midiOutputPath = withExtension(name, ".mid");
  // While a temporary file plays, playPath names it: that file, and no other, goes at the end of
  // playback. The new name counts from the next compilation on.
  if (!state.tempMidiExists) state.playPath = state.midiOutputPath;
}

void TForm1::sourceOpened(const QString& fileName, qsizetype size) {
  lastOpenName = fileName;
  nameSource(fileName);
  appendMessage(QString(" -> 開いたソースのサイズ : %1 バイト").arg(size));
}

void TForm1::sourceOpenFailed() {
  lastOpenName.clear();
  state.sourcePath.clear();
  if (!state.tempMidiExists) state.playPath.clear();
  state.midiOutputPath.clear();
  state.hasFileName = false;
  state.isSaved = true;
  setStatusText(2, QString());
  appendMessage("ERR:ファイルオープンできない.");
}

void TForm1::Memo1Change() {
  state.isSaved = false;
  setStatusText(2, MODIFIED_MARK);
}

BoxAnswer TForm1::askSaveChanges() {
  return services.messageBox(this, SAVE_PROMPT, QString("確認"), BoxButtons::YesNoCancel,
                             BoxIcon::Question);
}

// The save prompt of open, close and drop. True when the command may go on: No, or Yes with
// the text saved afterwards (a save that was cancelled or failed stops the command like Cancel,
// so the text the user asked to keep is never discarded).
bool TForm1::settleUnsavedText() {
  if (state.isSaved || editorSize() == 0) return true;
  switch (askSaveChanges()) {
    case BoxAnswer::No:
      return true;
    case BoxAnswer::Yes:
      Save1Click();
      return state.isSaved;
    default:
      return false;
  }
}

void TForm1::SpeedButton1Click() {
  if (compiling_) return;
  FileDialogRequest request;
  request.filters = SOURCE_OPEN_FILTERS;
  request.defaultSuffix = "fms";
  request.initialName = lastOpenName;
  const QString name = services.openFileName(this, request);
  if (name.isEmpty()) return;
  if (state.tempMidiExists) stopPlayback();
  if (!settleUnsavedText()) return;
  loadSourceFile(name);
}

void TForm1::Open1Click() {
  SpeedButton1Click();
}

// The editor text is written to `path` whole or not at all; the file it replaces stays as its
// ".bak" copy, and at every moment `path` holds either the old or the new text. False after a
// box that says why: then the file and its ".bak" are as they were.
bool TForm1::saveTo(const QString& path) {
  const std::optional<QByteArray> bytes = editorBytes("保存");
  if (!bytes) return false;
  WholeFileOptions options;
  options.keepPreviousAs = withExtension(path, ".bak");
  const WriteOutcome outcome = writeFileWhole(path, *bytes, options);
  if (outcome.ok()) return true;
  const QString text =
      outcome.failure == WriteFailure::ReadOnly
          ? QString("読み取り専用のため保存できません.\n%1\n名前をつけて保存してください.")
                .arg(path)
          : QString("ファイルに書き込めません.\n%1\n%2").arg(path, describeWriteFailure(outcome));
  services.messageBox(this, text, std::nullopt, BoxButtons::Ok, BoxIcon::Stop);
  return false;
}

void TForm1::Save1Click() {
  if (!state.hasFileName) {
    N1Click();
    return;
  }
  if (!state.isSaved) {
    if (!saveTo(state.sourcePath)) return;
    state.isSaved = true;
  }
  setStatusText(2, QString());
}

void TForm1::N1Click() {
  FileDialogRequest request;
  request.filters = SOURCE_SAVE_FILTERS;
  request.defaultSuffix = "fms";
  request.initialName = state.hasFileName ? state.sourcePath : QString();
  request.confirmOverwrite = true;
  const QString name = services.saveFileName(this, request);
  if (name.isEmpty()) return;
  if (saveTo(name)) nameSource(name);
}

void TForm1::Close1Click() {
  if (compiling_) return;
  const qsizetype size = editorSize();
  if (!state.isSaved && size > 0) {
    state.closeCancelled = false;
    if (!settleUnsavedText()) {
      state.closeCancelled = true;
      return;
    }
  }
  Memo2->clear();
  Memo1->clear();
  if (size > 0) appendMessage(QString(" -> 閉じたソースのサイズ : %1 バイト").arg(size));
  state.isSaved = true;
  state.hasFileName = false;
  setStatusText(2, QString());
}

void TForm1::filesDropped(const QStringList& names) {
  if (names.isEmpty() || compiling_) return;
  const QString name = names.first();
  raise();
  activateWindow();
  state.closeCancelled = false;
  Close1Click();
  if (state.closeCancelled) return;
  if (state.tempMidiExists) stopPlayback();
  loadSourceFile(name);
  QCoreApplication::processEvents();
}

// One tick a second: a backup is written once BACKUP_INTERVAL_TICKS have passed since the last
// one and the user has then been idle for BACKUP_IDLE_TICKS.
void TForm1::Timer1Timer() {
  if (state.idleCountdown > 0) --state.idleCountdown;
  if (state.backupCountdown > 0) --state.backupCountdown;
  if (state.idleCountdown != 0 || state.backupCountdown != 0) return;
  Timer1->stop();
  if (state.backupActive && backupLock.held() && !runBackup()) return;  // stopped for good
  state.idleCountdown = BACKUP_IDLE_TICKS;
  state.backupCountdown = BACKUP_INTERVAL_TICKS;
  Timer1->start();
}

// Writes the editor text into the backup file, releasing the lock around the write. A text
// that code page 932 cannot hold skips the round; false when the write failed.
bool TForm1::runBackup() {
  const std::optional<QByteArray> bytes = editorBytes(QString());
  if (!bytes) return true;
  const QString caption = windowTitle();
  setWindowTitle(" 自動バックアップ中");
  backupLock.release();
  const bool written = backupLock.write(*bytes);
  backupLock.acquire();
  setWindowTitle(caption);
  if (!written) {
    services.messageBox(this,
                        QString("自動バックアップを書き込めません.\n%1").arg(backupLock.path()),
                        std::nullopt, BoxButtons::Ok, BoxIcon::Stop);
  }
  return written;
}
