// The handlers the window's tables name, and the operations the window's other parts share:
// each hands its command to the object that owns it (FileCommands, PlaybackCommands,
// ExportCommands). The manual, which no object owns, is opened here.
#include <QDir>
#include <QFileInfo>

#include "editor/document/score_document.h"
#include "editor/playback/playback_controller.h"
#include "editor/ui/export_commands.h"
#include "editor/ui/file_commands.h"
#include "editor/ui/main_window.h"
#include "editor/ui/playback_commands.h"

// File menu.
bool TForm1::loadSourceFile(const QString& fileName) {
  return files_->load(fileName);
}
void TForm1::Open1Click() {
  files_->open();
}
void TForm1::Close1Click() {
  files_->close();
}
void TForm1::Save1Click() {
  files_->save();
}
void TForm1::N1Click() {
  files_->saveAs();
}
void TForm1::convertToUtf8() {
  files_->convertTo(TextEncoding::Utf8);
}
void TForm1::convertToCp932() {
  files_->convertTo(TextEncoding::Cp932);
}
void TForm1::filesDropped(const QStringList& names) {
  files_->dropped(names);
}
void TForm1::Timer1Timer() {
  files_->backupTick();
}
QTimer* TForm1::backupTimer() const {
  return files_->backupTimer();
}
void TForm1::midi1Click() {
  exports_->makeMidiFile();
}
void TForm1::exportAudio() {
  exports_->exportAudio();
}
void TForm1::korvel1Click() {
  exports_->saveCompiledData();
}

// Run menu.
void TForm1::N4Click() {
  playing_->run();
}
void TForm1::playFromCaret() {
  playing_->playFromCaret();
}
void TForm1::playFromTime(int64_t ms) {
  playing_->playFromTime(ms);
}
void TForm1::stopPlayback() {
  playing_->stop();
}
void TForm1::followScore() {
  playing_->followScore();
}
void TForm1::MediaPlayer1Notify() {
  playback().playerNotified();
}

// The manual: a ".CHM" file beside the program when there is one, otherwise the HTML manual
// installed with the program or, when run from the build, the one in the source tree.
void TForm1::vantor1Click() {
  QStringList candidates;
  candidates << withExtension(paths_.programPath, ".CHM");
  const QString programDir = QFileInfo(paths_.programPath).absolutePath();
  candidates << QDir(programDir).filePath("../share/doc/tarvik/manual/index.html");
  candidates << QDir(TARV_SOURCE_DIR).filePath("docs/manual/index.html");
  for (const QString& candidate : candidates) {
    if (!QFileInfo(candidate).isFile()) continue;
    if (services_.openDocument(QFileInfo(candidate).absoluteFilePath())) return;
  }
  showStop(
      "説明書を表示できません.\n説明書のファイルが見つからないか, "
      "表示するプログラムがありません.");
}
