#include "tests/support/memory_host.h"

#include <algorithm>
#include <cstring>

namespace {

// Forwards the services every host has to the MemoryHost.
template <class Base>
class Forwarding : public Base {
 public:
  explicit Forwarding(MemoryHost& host) : host_(host) {}
  void messageLine(std::string_view text) override { host_.messageLine(text); }
  void alert(std::string_view text) override { host_.alert(text); }
  OutputStream* openOutput() override { return host_.openOutput(); }
  int32_t closeOutput(bool keep) override { return host_.closeOutput(keep); }
  void autoPanChanged(bool on) override { host_.autoPanChanged(on); }
  SourceMap* sourceMap() override { return host_.sourceMap(); }
  void diagnosed(const Diagnostic& diagnostic) override { host_.diagnostics.push_back(diagnostic); }

 protected:
  MemoryHost& host_;
};

class ConsoleForwarding final : public Forwarding<ConsoleCompileHost> {
 public:
  using Forwarding::Forwarding;
  bool openSource() override { return host_.openSource(); }
  void closeSource() override { host_.closeSource(); }
  int32_t readSource(uint8_t* buffer, int32_t capacity) override {
    return host_.readSource(buffer, capacity);
  }
};

class EditorForwarding final : public Forwarding<EditorCompileHost> {
 public:
  using Forwarding::Forwarding;
  int32_t sourceLineCount() override { return host_.sourceLineCount(); }
  std::string_view sourceLine(int32_t index) override { return host_.sourceLine(index); }
  std::string displayText(std::string_view bytes) override { return host_.displayText(bytes); }
  int32_t displayColumns(std::string_view bytes) override { return host_.displayColumns(bytes); }
};

}  // namespace

MemoryHost::MemoryHost(Flavour flavour, std::string source) : flavour_(flavour) {
  if (flavour_ == FLAVOUR_CONSOLE) {
    adapter_ = std::make_unique<ConsoleForwarding>(*this);
  } else {
    adapter_ = std::make_unique<EditorForwarding>(*this);
  }
  replaceSource(std::move(source));
}

void MemoryHost::replaceSource(std::string source) {
  source_ = std::move(source);
  readPos_ = 0;
  lines_.clear();
  if (flavour_ != FLAVOUR_EDITOR) return;
  std::string_view rest = source_;
  while (!rest.empty()) {
    const size_t lf = rest.find('\n');
    std::string_view line = rest.substr(0, lf);
    if (lf != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines_.push_back(line);
    if (lf == std::string_view::npos) break;
    rest.remove_prefix(lf + 1);
  }
}

MemoryHost::~MemoryHost() = default;

void MemoryHost::attach(CompileSession& session) {
  session.host = adapter_.get();
  session_ = &session;
}

void MemoryHost::prepare(CompileSession& session, bool compiledData) {
  if (flavour_ == FLAVOUR_EDITOR) {
    prepareEditorCompilation(session, static_cast<EditorCompileHost&>(*adapter_), compiledData,
                             output);
  } else {
    prepareConsoleCompilation(session, static_cast<ConsoleCompileHost&>(*adapter_), compiledData);
  }
  session_ = &session;
}

std::string MemoryHost::displayText(std::string_view bytes) {
  return cp932ToDisplay(bytes);
}

void MemoryHost::messageLine(std::string_view text) {
  messages.emplace_back(text);
  transcript += text;
  if (flavour_ == FLAVOUR_EDITOR) transcript += '\n';
}

void MemoryHost::alert(std::string_view text) {
  alerts.emplace_back(text);
  transcript += "[alert] ";
  transcript += text;
  if (flavour_ == FLAVOUR_EDITOR) transcript += '\n';
}

bool MemoryHost::openSource() {
  calls.emplace_back("openSource");
  return sourceOpens;
}

void MemoryHost::closeSource() {
  calls.emplace_back("closeSource");
}

int32_t MemoryHost::readSource(uint8_t* buffer, int32_t capacity) {
  ++readCalls;
  size_t end = source_.size();
  if (readFailsAt >= 0) {
    if (readPos_ >= static_cast<size_t>(readFailsAt)) return -1;
    end = std::min(end, static_cast<size_t>(readFailsAt));
  }
  const size_t n =
      std::min({static_cast<size_t>(capacity), static_cast<size_t>(readChunk), end - readPos_});
  std::memcpy(buffer, source_.data() + readPos_, n);
  readPos_ += n;
  return static_cast<int32_t>(n);
}

int32_t MemoryHost::sourceLineCount() {
  return static_cast<int32_t>(lines_.size());
}

std::string_view MemoryHost::sourceLine(int32_t index) {
  return index >= 0 && index < static_cast<int32_t>(lines_.size()) ? lines_[index]
                                                                   : std::string_view();
}

OutputStream* MemoryHost::openOutput() {
  calls.emplace_back("openOutput");
  if (!outputOpens) return nullptr;
  // The editor's compiled-data stream is emptied by prepareEditorCompilation(), not here.
  const bool editorStream =
      flavour_ == FLAVOUR_EDITOR && session_ != nullptr && session_->compiledDataMode;
  if (!editorStream) output.clear();
  outputOpened = true;
  return &output;
}

int32_t MemoryHost::closeOutput(bool keep) {
  calls.emplace_back(keep ? "closeOutput keep" : "closeOutput discard");
  outputClosed = true;
  if (!keep) return OUTPUT_CLOSED;
  if (closeResult != OUTPUT_CLOSED) return closeResult;
  outputKept = true;
  kept = output.bytes();
  return OUTPUT_CLOSED;
}

void MemoryHost::autoPanChanged(bool on) {
  autoPanCalls.push_back(on);
}

SourceMap* MemoryHost::sourceMap() {
  return sourceMapStorage;
}

MemoryCompile::MemoryCompile(Flavour flavour, std::string source, bool compiledData)
    : host(flavour, std::move(source)) {
  host.attach(session);
  session.compiledDataMode = compiledData;
}

int32_t MemoryCompile::run() {
  host.prepare(session, session.compiledDataMode);
  return compileSource(session);
}
