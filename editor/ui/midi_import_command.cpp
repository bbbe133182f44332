// The File menu's MIDI import: after the save gate, the MIDI file chosen in a dialog becomes a
// new untitled score, edited, and the message pane lists what the score could not keep. The
// importer (import/) does the work. When the file's parts do not fit in the score's channels,
// or when the notes lie off the grid as played input does, a dialog lets the user choose the
// parts, checked as the importer would keep them, and the transcription of played input.
#include <QFile>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "editor/compile/compile_controller.h"
#include "editor/document/score_document.h"
#include "editor/playback/playback_controller.h"
#include "editor/settings/additional_settings.h"
#include "editor/ui/file_commands.h"
#include "editor/ui/file_dialog_folder.h"
#include "editor/ui/main_window.h"
#include "editor/ui/midi_import_dialog.h"
#include "import/import_texts.h"
#include "import/midi_import.h"
#include "import/midi_input.h"

namespace {

const QStringList MIDI_FILTERS = {"MIDI ファイル(*.mid *.midi)", "すべてのファイル(*)"};
const char IMPORT_REFUSED[] = "MIDI ファイルを読み込めません\n%1";
const char IMPORT_REFUSED_LINE[] = "ERR:MIDI ファイルを読み込めない : %1";
const char IMPORTED[] = " -> MIDI ファイルを読み込みました : %1 (音符 %2 個, %3 チャンネル)";
const char REPORT_LINE[] = " [読込] %1";
const char CHOICE_NOT_SAVED_LINE[] = "ERR:読み込みの設定を保存できない : %1";
// A note moved further than this many ticks off the compiler's grid marks played input.
constexpr double PLAYED_SHIFT_TICKS = 3;

// The parts the default import keeps notes of are checked.
std::vector<bool> partsKeptByDefault(const std::vector<PartSummary>& parts) {
  std::vector<bool> kept;
  for (const PartSummary& part : parts) kept.push_back(part.keptByDefault);
  return kept;
}

bool partsDropped(const ImportResult& result) {
  return std::any_of(result.report.begin(), result.report.end(),
                     [](const ImportMessage& m) { return m.kind == ImportText::NotesDropped; });
}

// Played input: the exact import had to move notes further than rounding would, so a grid may
// be what the user wants.
bool looksPlayed(const ImportResult& result) {
  return std::any_of(result.report.begin(), result.report.end(), [](const ImportMessage& m) {
    return m.kind == ImportText::NotesMoved && m.values.size() >= 2 &&
           std::atof(m.values[1].c_str()) > PLAYED_SHIFT_TICKS;
  });
}

}  // namespace

void TForm1::importMidiFile() {
  if (compiler_->busy()) return;
  if (playback().hasTemporaryFile()) stopPlayback();
  if (!files_->maybeSave()) return;
  const QString name = services_.openFileName(
      this,
      {MIDI_FILTERS, "mid", scoreDialogFolder(*document_, *additionalSettings_), QString(), false});
  if (name.isEmpty()) return;

  std::vector<uint8_t> bytes;
  ImportMessage error;
  ImportResult result;
  if (readMidiInput(QFile::encodeName(name).toStdString(), bytes, error)) {
    result = importMidi(bytes.data(), bytes.size(), ScoreEncoding::Cp932);
    error = result.error;
  }
  std::vector<PartSummary> parts;
  const bool askParts =
      result.ok && partsDropped(result) && listParts(bytes.data(), bytes.size(), parts, error);
  if (!askParts) parts.clear();
  if (result.ok && (askParts || looksPlayed(result))) {
    MidiImportDialog dialog(parts, partsKeptByDefault(parts), additionalSettings_->midiImport(),
                            this);
    if (services_.execDialog(dialog) != QDialog::Accepted) return;
    const MidiImportSelection chosen = dialog.selection();
    if (!additionalSettings_->setMidiImport(chosen.choice))
      appendMessage(QString(CHOICE_NOT_SAVED_LINE).arg(additionalSettings_->path()));
    result = importMidi(bytes.data(), bytes.size(), ScoreEncoding::Cp932, importOptions(chosen));
    error = result.error;
  }
  if (!result.ok) {
    const QString reason =
        QString::fromStdString(formatImportMessage(error, ImportLanguage::Japanese));
    showStop(QString(IMPORT_REFUSED).arg(reason));
    appendMessage(QString(IMPORT_REFUSED_LINE).arg(reason));
    return;
  }
  clearMessages();
  document_->startUntitled(QString::fromStdString(result.text));
  appendMessage(QString(IMPORTED).arg(name).arg(result.notes).arg(result.voices));
  for (const ImportMessage& item : result.report) {
    appendMessage(
        QString(REPORT_LINE)
            .arg(QString::fromStdString(formatImportMessage(item, ImportLanguage::Japanese))));
  }
}
