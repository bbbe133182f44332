#include "editor/compile/compile_controller.h"

#include "core/compile_driver.h"
#include "core/compile_session.h"

CompileController::CompileController(PlaybackController& playback, CompileSinks sinks)
    : playback_(playback), sinks_(std::move(sinks)), session_(std::make_unique<CompileSession>()) {}

CompileController::~CompileController() = default;

int32_t CompileController::compile(const QTextDocument& text, CompileTarget target,
                                   const QString& midiFilePath, TextEncoding encoding) {
  if (busy_) return -1;
  midiImage_.clear();
  MemoryOutputStream& memory = target == CompileTarget::MidiImage ? midiImage_ : compiledData_;
  EditorHost host(text, encoding, sinks_, target, midiFilePath, playback_, memory);
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
  return result;
}

bool CompileController::producedData() const {
  for (int32_t length : session_->workLength) {
    if (length > 0) return true;
  }
  return false;
}
