#include "editor/compile/compile_controller.h"

#include "core/compile_driver.h"
#include "core/compile_session.h"

CompileController::CompileController(PlaybackController& playback, CompileSinks sinks)
    : playback_(playback), sinks_(std::move(sinks)), session_(std::make_unique<CompileSession>()) {}

CompileController::~CompileController() = default;

int32_t CompileController::compile(const QTextDocument& text, CompileTarget target,
                                   const QString& midiFilePath, TextEncoding encoding) {
  if (busy_) return -1;
  const bool writesMidi = target != CompileTarget::CompiledData;
  midiImage_.clear();
  MemoryOutputStream& memory = target == CompileTarget::MidiImage ? midiImage_ : compiledData_;
  EditorHost host(text, encoding, sinks_, target, midiFilePath, playback_, memory,
                  writesMidi ? &recording_ : nullptr);
  prepareEditorCompilation(*session_, host, target == CompileTarget::CompiledData, compiledData_);
  busy_ = true;
  const int32_t result = compileSource(*session_);
  busy_ = false;
  session_->compiledDataMode = false;
  session_->host = nullptr;
  compileFailed_ = result != 0;
  failure_.reset();
  if (result != 0 && host.failingLineReported()) {
    failure_ = CompileFailure{session_->lineNumber - 1, session_->lineCursor, host.errorText()};
  }
  if (result == 0 && writesMidi) keepSourceMap(host.midiBytes());
  return result;
}

// The map is rebuilt in place, its storage and the recording's trading places. The file was
// just written by the core's own writer, so it can always be timed; should it not be, no map is
// better than the previous score's.
void CompileController::keepSourceMap(const std::vector<uint8_t>& midi) {
  if (!sourceMap_) sourceMap_ = std::make_unique<ScoreSourceMap>();
  if (!sourceMap_->build(recording_, midi.data(), midi.size(), nullptr)) sourceMap_.reset();
}

bool CompileController::producedData() const {
  for (int32_t length : session_->workLength) {
    if (length > 0) return true;
  }
  return false;
}
