// The editor's host for the compiler core: the editor pane's lines as the source, the message
// pane and message boxes for the report, and the outputs the compile commands ask for (the
// temporary file to be played, the ".mid" beside the score, or the compiled-data stream).
#pragma once

#include <QByteArray>
#include <QTextBlock>
#include <memory>

#include "core/compile_host.h"
#include "core/output_stream.h"

class WholeFileWriter;
class TForm1;

class EditorHost : public EditorCompileHost {
 public:
  explicit EditorHost(TForm1& form);
  ~EditorHost() override;

  void messageLine(std::string_view text) override;
  void alert(std::string_view text) override;
  int32_t sourceLineCount() override;
  std::string_view sourceLine(int32_t index) override;
  OutputStream* openOutput() override;
  int32_t closeOutput(bool keep) override;
  void autoPanChanged(bool on) override;

 private:
  OutputStream* openMidiOutput();

  TForm1& form_;
  QTextBlock block_;  // the block of the last line handed out
  int32_t blockIndex_ = -1;
  QByteArray line_;
  MemoryOutputStream midi_;  // the MIDI file, written out whole when it is kept
  std::unique_ptr<WholeFileWriter> besideSource_;
  int tempFd_ = -1;
};
