// A host that keeps everything in memory, for tests, benchmarks and the fuzzer: the source given
// as bytes, every message, alert and service call recorded in order, the output in a
// MemoryOutputStream. The editor flavour behaves as the editor does: the MIDI file is a new
// output each time, the compiled-data image goes to one stream that lives as long as the host.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/compile_driver.h"
#include "core/compile_host.h"
#include "core/compile_session.h"
#include "core/output_stream.h"

class MemoryHost {
 public:
  // Console flavour reads `source` as a byte stream; editor flavour splits it into lines at
  // LF (a CR directly before the LF is dropped), as an editor would show them.
  MemoryHost(Flavour flavour, std::string source);
  virtual ~MemoryHost();
  MemoryHost(const MemoryHost&) = delete;
  MemoryHost& operator=(const MemoryHost&) = delete;

  Flavour flavour() const { return flavour_; }
  // A new text: the user edited the score between two compilations. Reading starts again.
  void replaceSource(std::string source);
  // The CompileHost of this host's flavour (a console or an editor host) that forwards every
  // service to the members below.
  CompileHost& compileHost() { return *adapter_; }
  void attach(CompileSession& session);
  // Prepares `session` as the program of this host's flavour does (core/compile_driver.h), with
  // `output` as the editor's compiled-data stream.
  void prepare(CompileSession& session, bool compiledData);

  // The services. A test double may override them; the overrides are what the core calls.
  virtual void messageLine(std::string_view text);
  virtual void alert(std::string_view text);
  virtual bool openSource();
  virtual void closeSource();
  virtual int32_t readSource(uint8_t* buffer, int32_t capacity);
  virtual int32_t sourceLineCount();
  virtual std::string_view sourceLine(int32_t index);
  virtual OutputStream* openOutput();
  virtual int32_t closeOutput(bool keep);
  virtual void autoPanChanged(bool on);
  // sourceMapStorage below: none unless a test gives one.
  virtual SourceMap* sourceMap();
  // Editor flavour only, as the editor host's default: code page 932.
  virtual std::string displayText(std::string_view bytes);
  // Editor flavour only, as the editor host's default: a column a byte.
  virtual int32_t displayColumns(std::string_view bytes) {
    return static_cast<int32_t>(bytes.size());
  }

  // Everything emitted, in order: console texts as they are; editor lines each followed by
  // "\n"; alerts marked "[alert] ".
  std::string transcript;
  std::vector<std::string> messages;  // message lines only
  std::vector<std::string> alerts;
  std::vector<bool> autoPanCalls;
  // The source and output calls in order: "openSource", "closeSource", "openOutput",
  // "closeOutput keep", "closeOutput discard". Reads are counted, not listed.
  std::vector<std::string> calls;
  int32_t readCalls = 0;

  MemoryOutputStream output;  // what was written (editor compiled data: the editor's stream)
  std::vector<uint8_t> kept;  // the output after a closeOutput(true)
  bool outputOpened = false;
  bool outputClosed = false;
  bool outputKept = false;

  // Every diagnostic the core handed over, in order.
  std::vector<Diagnostic> diagnostics;

  SourceMap* sourceMapStorage = nullptr;  // the source map the host asks the core to record

  // Knobs for failure paths.
  bool sourceOpens = true;
  bool outputOpens = true;
  int32_t closeResult = OUTPUT_CLOSED;
  int32_t readChunk = 1 << 30;  // largest piece readSource hands out at once
  int64_t readFailsAt = -1;     // source offset at which readSource reports a read error

 private:
  Flavour flavour_;
  std::string source_;
  size_t readPos_ = 0;
  std::vector<std::string_view> lines_;
  std::unique_ptr<CompileHost> adapter_;
  const CompileSession* session_ = nullptr;  // the attached session: its output mode
};

// One compilation of `source` with a MemoryHost in a session of its own, prepared as the
// program of the flavour does.
struct MemoryCompile {
  MemoryCompile(Flavour flavour, std::string source, bool compiledData = false);
  int32_t run();
  MemoryHost host;
  CompileSession session;
};
