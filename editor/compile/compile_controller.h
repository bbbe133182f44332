// The editor's compilations: the one compile session of the run, a host per compilation with
// the output the command asks for, and the guard that keeps a command from starting a second
// compilation while one runs (the core is not re-entrant; a compilation lets painting and timers
// run when op(autolr) flips the toggles).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/output_stream.h"
#include "editor/compile/editor_compile_host.h"

struct CompileSession;
class PlaybackController;
class QTextDocument;

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
  // Some channel of the last compilation holds events.
  bool producedData() const;
  // The compiled-data image of the last compiled-data compilation (empty when it was refused).
  const std::vector<uint8_t>& compiledData() const { return compiledData_.bytes(); }

 private:
  PlaybackController& playback_;
  const CompileSinks sinks_;
  std::unique_ptr<CompileSession> session_;
  MemoryOutputStream compiledData_;
  bool busy_ = false;
  bool compileFailed_ = false;
};
