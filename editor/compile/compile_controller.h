// The editor's compilations: the one compile session of the run, a host and an output per
// compilation, and the guard that keeps a command from starting a second compilation while one
// runs (the core is not re-entrant; a compilation lets painting and timers run when op(autolr)
// flips the toggles). Each compilation returns what it did as a value.
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/output_stream.h"
#include "core/score_source_map.h"
#include "core/source_map.h"
#include "editor/compile/compile_sinks.h"
#include "editor/compile/editor_compile_host.h"
#include "editor/document/whole_file_writer.h"

struct CompileSession;
class TemporaryMidiFile;

// What one compilation did.
struct CompileResult {
  enum class Outcome {
    Compiled,    // clean; the target's output is in place
    ScoreError,  // the score stopped it: `failure` says where
    Failed,      // memory or the output failed; the core's box said so
    Busy,        // another compilation was running: nothing was done
  };
  Outcome outcome = Outcome::Busy;
  int32_t code = -1;  // 0 or the code that stopped it, as the core returns it
  CompileTarget target = CompileTarget::Play;
  std::optional<CompileFailure> failure;
  bool producedData = false;  // some channel holds events
  // The MidiImage target's MIDI file (empty unless clean), or the CompiledData target's image
  // (what the core wrote of it, also after a score error; empty when it was refused); empty for
  // the file targets.
  std::vector<uint8_t> image;
  bool sourceMapReady = false;  // the source map now times this text (CompileController::sourceMap)

  bool ok() const { return outcome == Outcome::Compiled; }
};

class CompileController {
 public:
  // `temporaryMidi` takes the Play target's MIDI file; it outlives the controller.
  CompileController(TemporaryMidiFile& temporaryMidi, CompileSinks sinks);
  ~CompileController();

  CompileSession& session() { return *session_; }
  const CompileSession& session() const { return *session_; }
  bool busy() const { return busy_; }

  // One compilation of `lines` into `target` (midiFilePath: the MidiFile target's file).
  CompileResult compile(ScoreLines lines, CompileTarget target,
                        const QString& midiFilePath = QString());
  // Runs `work` once no compilation runs: at once, or from the event loop after the running one
  // returned to its caller.
  void whenIdle(std::function<void()> work);

  // The text against the time of the MIDI file of the last clean compilation that wrote one
  // (compile and play, make MIDI file, the audio export's image): a failed compilation and a
  // compiled-data one leave it as it was. nullptr before the first. The next clean compilation
  // that writes MIDI rebuilds it in place.
  const ScoreSourceMap* sourceMap() const { return sourceMap_.get(); }

 private:
  void keepSourceMap(const std::vector<uint8_t>& midi);
  bool producedData() const;

  TemporaryMidiFile& temporaryMidi_;
  const CompileSinks sinks_;
  std::unique_ptr<CompileSession> session_;
  MemoryOutputStream memory_;  // the CompiledData and MidiImage targets' stream
  bool busy_ = false;
  std::vector<std::function<void()>> afterCompilation_;
  SourceMap recording_;  // what the core records during a compilation that writes MIDI
  std::unique_ptr<ScoreSourceMap> sourceMap_;
};

// Saves a compiled-data image whole under `path`.
WriteOutcome saveCompiledData(const QString& path, const std::vector<uint8_t>& image);
