#include "editor/compile/compile_controller.h"

#include <QByteArray>
#include <QTimer>

#include "core/compile_driver.h"
#include "core/compile_session.h"
#include "editor/compile/compile_output.h"

CompileController::CompileController(TemporaryMidiFile& temporaryMidi, CompileSinks sinks)
    : temporaryMidi_(temporaryMidi),
      sinks_(std::move(sinks)),
      session_(std::make_unique<CompileSession>()) {}

CompileController::~CompileController() = default;

CompileResult CompileController::compile(ScoreLines lines, CompileTarget target,
                                         const QString& midiFilePath) {
  CompileResult result;
  result.target = target;
  if (busy_) return result;
  const bool compiledData = target == CompileTarget::CompiledData;
  std::unique_ptr<CompileOutput> output =
      makeCompileOutput(target, midiFilePath, memory_, temporaryMidi_, sinks_);
  EditorHost host(lines, sinks_, *output, compiledData ? nullptr : &recording_);
  prepareEditorCompilation(*session_, host, compiledData, memory_);
  busy_ = true;
  result.code = compileSource(*session_);
  busy_ = false;
  session_->compiledDataMode = false;
  session_->host = nullptr;
  result.failure = host.failure();
  result.outcome = result.code == 0 ? CompileResult::Outcome::Compiled
                   : result.failure ? CompileResult::Outcome::ScoreError
                                    : CompileResult::Outcome::Failed;
  result.producedData = producedData();
  if (target == CompileTarget::CompiledData || target == CompileTarget::MidiImage) {
    result.image = memory_.bytes();  // a failed compilation's image is empty or partial, as written
    memory_.clear();
  }
  if (result.code == 0) {
    if (const std::vector<uint8_t>* midi = output->midiBytes()) {
      keepSourceMap(target == CompileTarget::MidiImage ? result.image : *midi);
      result.sourceMapReady = sourceMap_ != nullptr;
    }
  }
  output.reset();
  for (std::function<void()>& work : afterCompilation_) QTimer::singleShot(0, std::move(work));
  afterCompilation_.clear();
  return result;
}

void CompileController::whenIdle(std::function<void()> work) {
  if (busy_) {
    afterCompilation_.push_back(std::move(work));
  } else {
    work();
  }
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

WriteOutcome saveCompiledData(const QString& path, const std::vector<uint8_t>& image) {
  return writeFileWhole(path, QByteArray(reinterpret_cast<const char*>(image.data()),
                                         static_cast<qsizetype>(image.size())));
}
