// The editor's compilations: the one compile session of the run, a host per compilation with
// the output the command asks for, and the guard that keeps a command from starting a second
// compilation while one runs (the core is not re-entrant; a compilation lets painting and timers
// run when op(autolr) flips the toggles).
#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "core/output_stream.h"
#include "core/source_map.h"
#include "editor/compile/editor_compile_host.h"
#include "editor/playback/score_source_map.h"

struct CompileSession;
class PlaybackController;
class QTextDocument;

// Where the last compilation stopped on a score error: the 0-based editor line, the byte in it
// under the report's "?", and the error's text.
struct CompileFailure {
  int line = 0;
  int byteColumn = 0;
  QString text;
};

class CompileController {
 public:
  CompileController(PlaybackController& playback, CompileSinks sinks);
  ~CompileController();

  CompileSession& session() { return *session_; }
  const CompileSession& session() const { return *session_; }
  bool busy() const { return busy_; }

  // One compilation of the text, read in `encoding`, into target (midiFilePath: the MidiFile
  // target's file); 0 or the code that stopped it. A call while a compilation runs does nothing
  // and returns -1.
  int32_t compile(const QTextDocument& text, CompileTarget target,
                  const QString& midiFilePath = QString(),
                  TextEncoding encoding = TextEncoding::Cp932);
  // The last compilation failed.
  bool compileFailed() const { return compileFailed_; }
  // The score error that stopped the last compilation; nothing after a clean one or after a
  // failure outside the score (the output, memory).
  const std::optional<CompileFailure>& failure() const { return failure_; }
  // Some channel of the last compilation holds events.
  bool producedData() const;
  // The compiled-data image of the last compiled-data compilation (empty when it was refused).
  const std::vector<uint8_t>& compiledData() const { return compiledData_.bytes(); }
  // The text against the time of the MIDI file of the last clean compilation that wrote one
  // (compile and play, make MIDI file): a failed compilation and a compiled-data one leave it as
  // it was. nullptr before the first. The next clean compilation that writes MIDI rebuilds it
  // in place.
  const ScoreSourceMap* sourceMap() const { return sourceMap_.get(); }
  // The MIDI file of the last clean MidiImage compilation (empty after any other).
  const std::vector<uint8_t>& midiImage() const { return midiImage_.bytes(); }

 private:
  void keepSourceMap(const std::vector<uint8_t>& midi);

  PlaybackController& playback_;
  const CompileSinks sinks_;
  std::unique_ptr<CompileSession> session_;
  MemoryOutputStream compiledData_;
  MemoryOutputStream midiImage_;
  bool busy_ = false;
  bool compileFailed_ = false;
  std::optional<CompileFailure> failure_;
  SourceMap recording_;  // what the core records during a compilation that writes MIDI
  std::unique_ptr<ScoreSourceMap> sourceMap_;
};
