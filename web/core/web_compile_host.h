// The web page's compile host: a console host, so the MIDI file is byte for byte tarvk32c's,
// whose source is the score's bytes in memory and whose output stays in memory. It keeps the
// console's messages, the failure the core reported and the source map.
#pragma once

#include <optional>
#include <string>

#include "core/compile_host.h"
#include "core/output_stream.h"
#include "core/source_map.h"

// The failure, its texts copied out of the core's views.
struct WebFailure {
  int32_t code = 0;
  int32_t lineNumber = 0;
  int32_t lineIndex = 0;
  int32_t commandStart = 0;
  int32_t pointer = 0;
  std::string lineText;
  std::string message;
};

class WebCompileHost : public ConsoleCompileHost {
 public:
  // With `mapped` the core records the source map (a compilation costs more).
  WebCompileHost(std::string source, bool mapped) : source_(std::move(source)), mapped_(mapped) {}

  void messageLine(std::string_view text) override { transcript += text; }
  void alert(std::string_view text) override { transcript += text; }
  bool openSource() override { return true; }
  void closeSource() override {}
  int32_t readSource(uint8_t* buffer, int32_t capacity) override;
  OutputStream* openOutput() override;
  int32_t closeOutput(bool keep) override;
  SourceMap* sourceMap() override { return mapped_ ? &map : nullptr; }
  void failureReported(const ReportedFailure& failure) override;

  std::string transcript;     // the console's texts as they are
  std::vector<uint8_t> midi;  // the MIDI file when the compilation kept it
  std::optional<WebFailure> failure;
  SourceMap map;

 private:
  std::string source_;
  bool mapped_;
  size_t read_ = 0;
  MemoryOutputStream output_;
};
