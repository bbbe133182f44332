#include "editor/compile/editor_compile_host.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cstdlib>

#include "editor/document/whole_file_writer.h"
#include "editor/ui/goto_line_dialog.h"
#include "editor/ui/main_window.h"
#include "editor/document/text_codec.h"

EditorHost::EditorHost(TForm1& form) : form_(form) {}

EditorHost::~EditorHost() {
  if (tempFd_ >= 0) ::close(tempFd_);
}

void EditorHost::messageLine(std::string_view text) {
  form_.appendMessage(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void EditorHost::alert(std::string_view text) {
  form_.services.messageBox(&form_,
                            QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                            std::nullopt, BoxButtons::Ok, BoxIcon::Stop);
}

int32_t EditorHost::sourceLineCount() {
  blockIndex_ = -1;
  return editorLineCount(*form_.Memo1);
}

// Lines are fetched in order, so the next block is one step away.
std::string_view EditorHost::sourceLine(int32_t index) {
  if (blockIndex_ >= 0 && index == blockIndex_ + 1) {
    block_ = block_.next();
  } else {
    block_ = form_.Memo1->document()->findBlockByNumber(index);
  }
  blockIndex_ = index;
  line_ = compileBytes(block_.text());
  return std::string_view(line_.constData(), static_cast<size_t>(line_.size()));
}

OutputStream* EditorHost::openOutput() {
  if (form_.session->compiledDataMode) return &form_.state.compiledDataStream;
  return openMidiOutput();
}

// The make-MIDI command writes beside the score, replacing an earlier file; compile and play
// writes a new temporary file, created exclusively with mode 0600 under a fresh name.
OutputStream* EditorHost::openMidiOutput() {
  midi_.clear();
  EditorState& state = form_.state;
  if (state.midiFileMode && state.hasFileName) {
    besideSource_ = std::make_unique<WholeFileWriter>(state.midiOutputPath);
    if (!besideSource_->open().ok()) {
      besideSource_.reset();
      return nullptr;
    }
    return &midi_;
  }
  const QString dir = form_.paths.tempDir;
  if (dir.isEmpty() || !QDir(dir).exists()) {
    form_.services.messageBox(&form_, "Temp Path error", std::nullopt, BoxButtons::Ok,
                              BoxIcon::Error);
    return nullptr;
  }
  QByteArray name = QFile::encodeName(QDir(dir).filePath("tarvik32-XXXXXX.mid"));
  tempFd_ = ::mkstemps(name.data(), 4);
  if (tempFd_ < 0) {
    form_.services.messageBox(&form_, "TMPfileが作成できん", std::nullopt, BoxButtons::Ok,
                              BoxIcon::Error);
    return nullptr;
  }
  ::fcntl(tempFd_, F_SETFD, FD_CLOEXEC);
  state.playPath = QFile::decodeName(name);
  state.tempMidiExists = true;
  return &midi_;
}

int32_t EditorHost::closeOutput(bool keep) {
  if (form_.session->compiledDataMode) return OUTPUT_CLOSED;
  const std::vector<uint8_t>& bytes = midi_.bytes();
  if (besideSource_) {
    std::unique_ptr<WholeFileWriter> file = std::move(besideSource_);
    if (!keep) return OUTPUT_CLOSED;  // the writer removes its temporary file
    const WriteOutcome written = file->write(reinterpret_cast<const char*>(bytes.data()),
                                             static_cast<qsizetype>(bytes.size()));
    if (!written.ok()) return OUTPUT_WRITE_FAILED;
    const WriteOutcome committed = file->commit();
    if (committed.ok()) return OUTPUT_CLOSED;
    return committed.failure == WriteFailure::Write ? OUTPUT_WRITE_FAILED : OUTPUT_REPLACE_FAILED;
  }
  if (tempFd_ < 0) return OUTPUT_CLOSED;
  const int fd = tempFd_;
  tempFd_ = -1;
  const bool written = keep && writeAllBytes(fd, reinterpret_cast<const char*>(bytes.data()),
                                             static_cast<qsizetype>(bytes.size())) == 0;
  const bool closed = ::close(fd) == 0;
  if (written && closed) return OUTPUT_CLOSED;
  // Nothing worth playing: the temporary file goes at once.
  if (QFile::remove(form_.state.playPath)) form_.state.tempMidiExists = false;
  return keep ? OUTPUT_WRITE_FAILED : OUTPUT_CLOSED;
}

// The menu item and the button follow at once; only painting and timers run meanwhile, so no
// key or click can start another command in the middle of the compilation.
void EditorHost::autoPanChanged(bool on) {
  form_.S1->setChecked(on);
  form_.SpeedButton12->setChecked(on);
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
