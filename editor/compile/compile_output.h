// Where one compilation's output goes, one kind for each compile target: a new temporary ".mid"
// for compile and play, the ".mid" beside the score, or a stream in memory (the compiled-data
// image, or the MIDI file the audio export renders). The compile controller makes the one its
// target names; the host only opens and closes it.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/output_stream.h"
#include "editor/compile/compile_sinks.h"

class TemporaryMidiFile;

class CompileOutput {
 public:
  virtual ~CompileOutput() = default;
  // The stream the core's writer fills, or nullptr when it cannot be opened (a box may have
  // said why). It stays the output's and lives until close() returns.
  virtual OutputStream* open() = 0;
  // With keep the output is put in place (an OutputCloseResult); without it what was written is
  // discarded.
  virtual int32_t close(bool keep) = 0;
  // The MIDI file the compilation wrote, for timing the source map; nullptr for compiled data.
  virtual const std::vector<uint8_t>* midiBytes() const = 0;
};

// The output of `target`. midiFilePath names the MidiFile target's file; `memory` is the
// stream of the CompiledData and MidiImage targets; `temporaryMidi` is the Play target's file;
// `sinks` take the box of a temporary file that cannot be made.
std::unique_ptr<CompileOutput> makeCompileOutput(CompileTarget target, const QString& midiFilePath,
                                                 MemoryOutputStream& memory,
                                                 TemporaryMidiFile& temporaryMidi,
                                                 const CompileSinks& sinks);
