#include "core/memory_host.h"

#include <algorithm>
#include <cstring>

MemoryHost::MemoryHost(Flavour flavour, std::string source)
    : flavour_(flavour), source_(std::move(source)) {
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

int32_t MemoryHost::readSource(uint8_t* buffer, int32_t capacity) {
  const size_t n = std::min(
      {static_cast<size_t>(capacity), static_cast<size_t>(readChunk), source_.size() - readPos_});
  std::memcpy(buffer, source_.data() + readPos_, n);
  readPos_ += n;
  return static_cast<int32_t>(n);
}

std::string_view MemoryHost::sourceLine(int32_t index) {
  return index >= 0 && index < static_cast<int32_t>(lines_.size()) ? lines_[index]
                                                                   : std::string_view();
}

OutputStream* MemoryHost::openOutput() {
  if (!outputOpens) return nullptr;
  output.clear();
  outputOpened = true;
  return &output;
}

int32_t MemoryHost::closeOutput(bool keep) {
  outputClosed = true;
  if (!keep) return OUTPUT_CLOSED;
  if (closeResult != OUTPUT_CLOSED) return closeResult;
  outputKept = true;
  kept = output.bytes();
  return OUTPUT_CLOSED;
}

MemoryCompile::MemoryCompile(Flavour flavour, std::string source, bool compiledData)
    : host(flavour, std::move(source)) {
  session.host = &host;
  session.flavour = flavour;
  session.compiledDataMode = compiledData;
}

int32_t MemoryCompile::run() {
  return compileSource(session);
}
