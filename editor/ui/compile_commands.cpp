// The compile commands of the main window: compile and play, make MIDI file, compiled-data
// output, the temporary MIDI file, the end of playback, the error jump and the manual.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>
#include <cerrno>

#include "core/compile_driver.h"
#include "editor/document/whole_file_writer.h"
#include "editor/compile/editor_compile_host.h"
#include "editor/ui/main_window.h"
#include "editor/ui/player_window.h"

namespace {

const QStringList COMPILED_DATA_FILTERS = {"korvel (*.fmd)", "すべてのファイル (*)"};

bool producedData(const CompileSession& session) {
  for (int32_t length : session.workLength) {
    if (length > 0) return true;
  }
  return false;
}

}  // namespace

// One compilation of the editor text into the message pane. The core is not re-entrant: a
// command that arrives while a compilation runs is ignored.
int32_t TForm1::compileEditorText(bool compiledData) {
  EditorHost host(*this);
  prepareEditorCompilation(*session, host, compiledData, state.compiledDataStream);
  Memo2->clear();
  compiling_ = true;
  const int32_t result = compileSource(*session);
  compiling_ = false;
  session->host = nullptr;
  if (endRequested_) QTimer::singleShot(0, this, &TForm1::endOnSignal);
  return result;
}

void TForm1::deleteTempMidi() {
  if (state.midiFileMode || !state.tempMidiExists) return;
  // A file that is already gone needs no deleting.
  if (QFile::remove(state.playPath) || !QFileInfo::exists(state.playPath)) {
    state.tempMidiExists = false;
    return;
  }
  services.messageBox(this, "tmp file remove error!!", QString(""), BoxButtons::Ok, BoxIcon::Stop);
}

void TForm1::stopPlayback() {
  Form2->Timer1->stop();
  services.mediaPlayer().close();
  deleteTempMidi();
}

void TForm1::N4Click() {
  if (compiling_) return;
  stopPlayback();
  if (autoSaveOn()) Save1Click();
  const int32_t result = compileEditorText(false);
  state.compileFailed = result != 0;
  if (result != 0 || state.midiFileMode) return;
  if (!producedData(*session)) {
    deleteTempMidi();  // the empty file written for nothing
    services.messageBox(this, "演奏データがありません", std::nullopt, BoxButtons::Ok,
                        BoxIcon::Stop);
    return;
  }
  startPlayback();
}

// Plays the temporary file just written. Where no sound can be made the user is told, the file
// is removed and the editor goes on.
void TForm1::startPlayback() {
  MediaPlayer& player = services.mediaPlayer();
  player.close();
  QString error;
  if (!player.open(state.playPath, &error) || (player.seek(0), !player.play(&error))) {
    player.close();
    deleteTempMidi();
    services.messageBox(this, QString("演奏できません.\n%1").arg(error), std::nullopt,
                        BoxButtons::Ok, BoxIcon::Stop);
    return;
  }
  if (player.silent() && !silentNoticeShown_) {
    silentNoticeShown_ = true;
    appendMessage(" [注意] 音声出力装置がないため, 音を出さずに再生します");
  }
  Form2->startFollowing(player.lengthMs());
}

void TForm1::midi1Click() {
  if (compiling_) return;
  if (!state.hasFileName) {
    services.messageBox(this, "名前をつけて保存してから\n実行してください", QString(""),
                        BoxButtons::Ok, BoxIcon::Stop);
    return;
  }
  Form2->close();
  state.midiFileMode = true;
  N4Click();
  state.midiFileMode = false;
  if (!state.compileFailed) {
    services.messageBox(this, "スタンダードmidiファイル作成終了", QString(""), BoxButtons::Ok,
                        BoxIcon::None);
  }
}

// Compiles into the compiled-data stream and offers to save the image. A refused image (too
// large for its offsets) leaves the stream empty: then there is nothing to offer.
void TForm1::korvel1Click() {
  if (compiling_) return;
  const int32_t result = compileEditorText(true);
  state.compileFailed = result != 0;
  const std::vector<uint8_t>& image = state.compiledDataStream.bytes();
  if (!producedData(*session) || image.empty()) return;
  FileDialogRequest request;
  request.filters = COMPILED_DATA_FILTERS;
  request.defaultSuffix = "fmd";
  request.confirmOverwrite = true;
  const QString name = services.saveFileName(this, request);
  if (name.isEmpty()) return;
  const WriteOutcome outcome =
      writeFileWhole(name, QByteArray(reinterpret_cast<const char*>(image.data()),
                                      static_cast<qsizetype>(image.size())));
  if (outcome.ok()) return;
  services.messageBox(
      this,
      QString("korvelデータを保存できません.\n%1\n%2").arg(name, describeWriteFailure(outcome)),
      std::nullopt, BoxButtons::Ok, BoxIcon::Stop);
}

void TForm1::MediaPlayer1Notify() {
  if (!Form2->Timer1->isActive()) return;
  MediaPlayer& player = services.mediaPlayer();
  const int64_t length = player.lengthMs();
  if (length > player.positionMs()) return;
  if (!playLoopOn()) {
    Form2->close();
  } else if (length > 0) {
    player.seek(0);
    QString error;
    player.play(&error);
  }
}

// A double-click on an error line "ERR -> line [nnnnn]:..." puts the caret on that score line.
void TForm1::Memo2DblClick() {
  if (Memo2->document()->blockCount() < 2) return;
  QString line = Memo2->textCursor().block().text();
  qsizetype start = 0;
  while (start < line.size() && line.at(start).unicode() <= ' ') ++start;
  line = line.mid(start);
  const qsizetype space = line.indexOf(' ');
  const QString firstWord = space < 0 ? QString() : line.left(space);
  if (firstWord != "ERR") return;
  const qsizetype bracket = line.indexOf('[');
  bool valid = false;
  int n = bracket < 0 ? 0 : line.mid(bracket + 1, 5).toInt(&valid, 10);
  if (!valid) n = 0;
  if (n >= 1) --n;
  Memo1->setFocus();
  QTextCursor cursor = Memo1->textCursor();
  const QTextBlock target = Memo1->document()->findBlockByNumber(n);
  if (target.isValid()) {
    cursor.setPosition(target.position());
  } else {
    cursor.clearSelection();
  }
  Memo1->setTextCursor(cursor);
  Memo1->ensureCursorVisible();
}

// The manual: a ".CHM" file beside the program when there is one, otherwise the HTML manual
// installed with the program or, when run from the build, the one in the source tree.
void TForm1::vantor1Click() {
  QStringList candidates;
  candidates << withExtension(paths.programPath, ".CHM");
  const QString programDir = QFileInfo(paths.programPath).absolutePath();
  candidates << QDir(programDir).filePath("../share/doc/tarvik/manual/index.html");
  candidates << QDir(TARV_SOURCE_DIR).filePath("docs/manual/index.html");
  for (const QString& candidate : candidates) {
    if (!QFileInfo(candidate).isFile()) continue;
    if (services.openDocument(QFileInfo(candidate).absoluteFilePath())) return;
  }
  services.messageBox(this,
                      "説明書を表示できません.\n説明書のファイルが見つからないか, "
                      "表示するプログラムがありません.",
                      std::nullopt, BoxButtons::Ok, BoxIcon::Stop);
}
