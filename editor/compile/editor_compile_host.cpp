#include "editor/compile/editor_compile_host.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QTextDocument>

#include "editor/document/score_document.h"
#include "editor/document/text_codec.h"
#include "editor/document/whole_file_writer.h"
#include "editor/playback/playback_controller.h"

namespace {

const QString FAILING_LINE_PREFIX = "ERR -> line [";
const QString ERROR_FRAME = " *** ";

QString fromCore(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

EditorHost::EditorHost(const QTextDocument& lines, TextEncoding encoding, const CompileSinks& sinks,
                       CompileTarget target, QString midiFilePath, PlaybackController& playback,
                       MemoryOutputStream& memoryOutput, SourceMap* sourceMap)
    : lines_(lines),
      encoding_(encoding),
      sinks_(sinks),
      target_(target),
      midiFilePath_(std::move(midiFilePath)),
      playback_(playback),
      memoryOutput_(memoryOutput),
      sourceMap_(sourceMap) {}

EditorHost::~EditorHost() {
  if (tempFd_ >= 0) ::close(tempFd_);
}

// The failing-line report ("ERR -> line [nnnnn]:..."), its pointer line and the error's text
// framed by " *** " come in this order.
void EditorHost::messageLine(std::string_view text) {
  const QString line = fromCore(text);
  if (line.startsWith(FAILING_LINE_PREFIX)) {
    failingLineReported_ = true;
  } else if (failingLineReported_ && errorText_.isEmpty() && line.startsWith(ERROR_FRAME)) {
    errorText_ = line.mid(ERROR_FRAME.size()).chopped(ERROR_FRAME.size());
  }
  sinks_.message(line);
}

void EditorHost::alert(std::string_view text) {
  sinks_.alert(fromCore(text), BoxIcon::Stop);
}

int32_t EditorHost::sourceLineCount() {
  blockIndex_ = -1;
  return editorLineCount(lines_);
}

// Lines are fetched in order, so the next block is one step away.
std::string_view EditorHost::sourceLine(int32_t index) {
  if (blockIndex_ >= 0 && index == blockIndex_ + 1) {
    block_ = block_.next();
  } else {
    block_ = lines_.findBlockByNumber(index);
  }
  blockIndex_ = index;
  line_ = compileBytes(block_.text(), encoding_);
  return std::string_view(line_.constData(), static_cast<size_t>(line_.size()));
}

// UTF-8 bytes show as they are, a byte that is no UTF-8 as U+FFFD.
std::string EditorHost::displayText(std::string_view bytes) {
  if (encoding_ == TextEncoding::Cp932) return EditorCompileHost::displayText(bytes);
  return fromCore(bytes).toStdString();
}

OutputStream* EditorHost::openOutput() {
  if (target_ == CompileTarget::CompiledData) return &memoryOutput_;
  if (target_ == CompileTarget::MidiImage) {
    memoryOutput_.clear();
    return &memoryOutput_;
  }
  return openMidiOutput();
}

// The make-MIDI command writes beside the score, replacing an earlier file; compile and play
// writes a new temporary file.
OutputStream* EditorHost::openMidiOutput() {
  midi_.clear();
  if (target_ == CompileTarget::MidiFile) {
    besideSource_ = std::make_unique<WholeFileWriter>(midiFilePath_);
    if (!besideSource_->open().ok()) {
      besideSource_.reset();
      return nullptr;
    }
    return &midi_;
  }
  const PlaybackController::Created created = playback_.createTemporaryFile();
  if (created.fd < 0) {
    sinks_.alert(created.error, BoxIcon::Error);
    return nullptr;
  }
  tempFd_ = created.fd;
  return &midi_;
}

int32_t EditorHost::closeOutput(bool keep) {
  if (target_ == CompileTarget::CompiledData) return OUTPUT_CLOSED;
  if (target_ == CompileTarget::MidiImage) {
    if (!keep) memoryOutput_.clear();
    return OUTPUT_CLOSED;
  }
  const std::vector<uint8_t>& bytes = midi_.bytes();
  const auto* data = reinterpret_cast<const char*>(bytes.data());
  const auto size = static_cast<qsizetype>(bytes.size());
  if (besideSource_) {
    std::unique_ptr<WholeFileWriter> file = std::move(besideSource_);
    if (!keep) return OUTPUT_CLOSED;  // the writer removes its temporary file
    if (!file->write(data, size).ok()) return OUTPUT_WRITE_FAILED;
    const WriteOutcome committed = file->commit();
    if (committed.ok()) return OUTPUT_CLOSED;
    return committed.failure == WriteFailure::Write ? OUTPUT_WRITE_FAILED : OUTPUT_REPLACE_FAILED;
  }
  if (tempFd_ < 0) return OUTPUT_CLOSED;
  const int fd = tempFd_;
  tempFd_ = -1;
  const bool written = keep && writeAllBytes(fd, data, size) == 0;
  const bool closed = ::close(fd) == 0;
  if (written && closed) return OUTPUT_CLOSED;
  playback_.deleteTemporaryFile();  // nothing worth playing: the file goes at once
  return keep ? OUTPUT_WRITE_FAILED : OUTPUT_CLOSED;
}

// The menu item and the button follow at once; only painting and timers run meanwhile, so no
// key or click can start another command in the middle of the compilation.
void EditorHost::autoPanChanged(bool on) {
  sinks_.autoPanChanged(on);
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
