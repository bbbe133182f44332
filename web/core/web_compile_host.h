// The web page's compile host: a console host, so the MIDI file is byte for byte tarvk32c's,
// whose source is the score's bytes in memory and whose output stays in memory. It keeps the
// console's messages, the error the core diagnosed and the source map.
#pragma once

#include <optional>
#include <string>

#include "core/compile_host.h"
#include "core/diagnostic.h"
#include "core/output_stream.h"
#include "core/source_map.h"

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
  void diagnosed(const Diagnostic& diagnostic) override;

  std::string transcript;             // the console's texts as they are
  std::vector<uint8_t> midi;          // the MIDI file when the compilation kept it
  std::optional<Diagnostic> failure;  // the error that stopped the compilation
  SourceMap map;

 private:
  std::string source_;
  bool mapped_;
  size_t read_ = 0;
  MemoryOutputStream output_;
};
