// A host that keeps everything in memory: the source given as bytes, messages and alerts
// collected, the output in a MemoryOutputStream. Used by tests, benchmarks and the fuzzer.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/compile_session.h"
#include "core/output_stream.h"

class MemoryHost : public CompileHost {
 public:
  // Console flavour reads `source` as a byte stream; editor flavour splits it into lines at
  // LF (a CR directly before the LF is dropped), as an editor would show them.
  MemoryHost(Flavour flavour, std::string source);

  void messageLine(std::string_view text) override;
  void alert(std::string_view text) override;
  bool openSource() override { return sourceOpens; }
  int32_t readSource(uint8_t* buffer, int32_t capacity) override;
  int32_t sourceLineCount() override { return static_cast<int32_t>(lines_.size()); }
  std::string_view sourceLine(int32_t index) override;
  OutputStream* openOutput() override;
  int32_t closeOutput(bool keep) override;
  void autoPanChanged(bool on) override { autoPanCalls.push_back(on); }

  // Everything emitted, in order: console texts as they are; editor lines each followed by
  // "\n"; alerts marked "[alert] ".
  std::string transcript;
  std::vector<std::string> messages;  // message lines only
  std::vector<std::string> alerts;
  std::vector<bool> autoPanCalls;

  MemoryOutputStream output;  // what was written
  std::vector<uint8_t> kept;  // the output after a closeOutput(true)
  bool outputOpened = false;
  bool outputClosed = false;
  bool outputKept = false;

  // Knobs for failure paths.
  bool sourceOpens = true;
  bool outputOpens = true;
  int32_t closeResult = OUTPUT_CLOSED;
  int32_t readChunk = 1 << 30;  // largest piece readSource hands out at once

 private:
  Flavour flavour_;
  std::string source_;
  size_t readPos_ = 0;
  std::vector<std::string_view> lines_;
};

// Runs one compilation of `source` in a fresh session with a MemoryHost; for tests and benches.
struct MemoryCompile {
  MemoryCompile(Flavour flavour, std::string source, bool compiledData = false);
  int32_t run();
  MemoryHost host;
  CompileSession session;
};
