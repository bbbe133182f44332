// The editor's host for the compiler core: the editor's lines as the source, in the bytes of the
// document's encoding (a byte-order mark is not text and is left out), the message pane
// and message boxes for the report, and the output the compile command asks for: the temporary
// file to be played, the ".mid" beside the score, or a stream in memory (the compiled data, or
// the MIDI file the audio export renders).
#pragma once

#include <QByteArray>
#include <QString>
#include <QTextBlock>
#include <functional>
#include <memory>

#include "core/compile_host.h"
#include "core/output_stream.h"
#include "editor/document/text_codec.h"
#include "editor/editor_services.h"

class PlaybackController;
class QTextDocument;
class WholeFileWriter;

// Where a compilation's output goes.
enum class CompileTarget {
  Play,          // a new temporary ".mid" file, owned by the playback controller
  MidiFile,      // the ".mid" beside the score, replaced whole
  CompiledData,  // the compiled-data stream, saved afterwards under a name the user picks
  MidiImage,     // the MIDI file kept in memory, for the audio export
};

// What the compilation reports to the window.
struct CompileSinks {
  std::function<void(const QString&)> message;         // a line in the message pane
  std::function<void(const QString&, BoxIcon)> alert;  // a box with no caption
  std::function<void(bool)> autoPanChanged;            // op(autolr) / op(manulr)
};

class EditorHost : public EditorCompileHost {
 public:
  // sourceMap: where the core records the source map, or nullptr for none.
  EditorHost(const QTextDocument& lines, TextEncoding encoding, const CompileSinks& sinks,
             CompileTarget target, QString midiFilePath, PlaybackController& playback,
             MemoryOutputStream& memoryOutput, SourceMap* sourceMap = nullptr);
  ~EditorHost() override;

  void messageLine(std::string_view text) override;
  void alert(std::string_view text) override;
  int32_t sourceLineCount() override;
  std::string_view sourceLine(int32_t index) override;
  std::string displayText(std::string_view bytes) override;
  OutputStream* openOutput() override;
  int32_t closeOutput(bool keep) override;
  void autoPanChanged(bool on) override;
  SourceMap* sourceMap() override { return sourceMap_; }

  // The core reported a failing line (a score error, not an output failure), and the text of
  // its error.
  bool failingLineReported() const { return failingLineReported_; }
  const QString& errorText() const { return errorText_; }
  // The bytes of the MIDI file the compilation wrote (empty before it opened its output).
  const std::vector<uint8_t>& midiBytes() const { return midi_.bytes(); }

 private:
  OutputStream* openMidiOutput();

  const QTextDocument& lines_;
  const TextEncoding encoding_;
  const CompileSinks& sinks_;
  const CompileTarget target_;
  const QString midiFilePath_;
  PlaybackController& playback_;
  MemoryOutputStream& memoryOutput_;  // the CompiledData and MidiImage targets' stream
  SourceMap* const sourceMap_;
  QTextBlock block_;  // the block of the last line handed out
  int32_t blockIndex_ = -1;
  QByteArray line_;
  MemoryOutputStream midi_;  // the MIDI file, written out whole when it is kept
  std::unique_ptr<WholeFileWriter> besideSource_;
  int tempFd_ = -1;
  bool failingLineReported_ = false;
  QString errorText_;
};
