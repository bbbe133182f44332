// Small helpers for the line reader, work area and diagnostics tests.
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "core/compile_session.h"
#include "tests/support/memory_host.h"

namespace testing_support {

// A session wired to a MemoryHost, reset as at the start of a compilation, without work areas.
struct BareSession {
  explicit BareSession(Flavour flavour, std::string source = "")
      : host(flavour, std::move(source)), s(std::make_unique<CompileSession>()) {
    host.attach(*s);
    resetSession(*s);
  }
  // Puts `bytes` into the line buffer followed by a NUL (the caller adds any carriage return).
  void setLine(std::string_view bytes) {
    std::memcpy(s->lineBuffer, bytes.data(), bytes.size());
    s->lineBuffer[bytes.size()] = 0;
    s->lineLength = static_cast<int32_t>(bytes.size());
    s->lineCursor = 0;
  }
  MemoryHost host;
  std::unique_ptr<CompileSession> s;
};

// What a console run puts on standard output: messages and alerts in order.
inline std::string printed(const MemoryHost& host) {
  std::string out = host.transcript;
  for (size_t at; (at = out.find("[alert] ")) != std::string::npos;) out.erase(at, 8);
  return out;
}

inline std::string rep(size_t count, std::string_view piece) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += piece;
  return out;
}

}  // namespace testing_support
