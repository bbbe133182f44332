#include "web/core/web_compile_host.h"

#include <algorithm>
#include <cstring>

int32_t WebCompileHost::readSource(uint8_t* buffer, int32_t capacity) {
  const size_t n = std::min(source_.size() - read_, static_cast<size_t>(capacity));
  std::memcpy(buffer, source_.data() + read_, n);
  read_ += n;
  return static_cast<int32_t>(n);
}

OutputStream* WebCompileHost::openOutput() {
  output_.clear();
  return &output_;
}

int32_t WebCompileHost::closeOutput(bool keep) {
  if (!keep) return OUTPUT_CLOSED;
  if (output_.failed()) return OUTPUT_WRITE_FAILED;
  midi = output_.bytes();
  return OUTPUT_CLOSED;
}

void WebCompileHost::diagnosed(const Diagnostic& diagnostic) {
  if (diagnostic.error() && !failure) failure = diagnostic;
}
