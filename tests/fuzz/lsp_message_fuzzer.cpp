// libFuzzer entry: any bytes as the language server's input stream. The first byte chooses the
// size of the pieces the rest is fed in; the messages and rejections must be the same as when
// the whole stream is fed at once, every body must be bytes of the input, and the reader must
// hold no more than it was fed. Each body is then read as the server reads it: what it keeps is
// nested no deeper than MESSAGE_NESTING_MAX, and it keeps all of a body that is not too deep.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lsp/message_json.h"
#include "lsp/message_reader.h"

namespace {

struct Outcome {
  std::vector<std::string> bodies;
  std::vector<int> results;
};

void drain(MessageReader& reader, Outcome& outcome) {
  std::string body;
  for (MessageReader::Result r; (r = reader.next(body)) != MessageReader::Result::NEED_MORE;) {
    outcome.results.push_back(static_cast<int>(r));
    if (r == MessageReader::Result::MESSAGE) outcome.bodies.push_back(body);
  }
}

[[noreturn]] void broken(const char* property) {
  std::fprintf(stderr, "broken property: %s\n", property);
  std::abort();
}

// The deepest nesting of arrays and objects in a value, counted without recursion.
int nesting(const nlohmann::json& value) {
  int deepest = 0;
  std::vector<std::pair<const nlohmann::json*, int>> open{{&value, 1}};
  while (!open.empty()) {
    const auto [item, depth] = open.back();
    open.pop_back();
    if (!item->is_structured()) continue;
    deepest = std::max(deepest, depth);
    for (const nlohmann::json& child : *item) open.emplace_back(&child, depth + 1);
  }
  return deepest;
}

void checkParse(const std::string& body) {
  const ParsedMessage parsed = parseMessage(body);
  if (parsed.message.is_discarded()) return;
  if (nesting(parsed.message) > MESSAGE_NESTING_MAX) broken("a kept message nested too deep");
  const nlohmann::json plain = nlohmann::json::parse(body, nullptr, false);
  if (parsed.tooDeep != (nesting(plain) > MESSAGE_NESTING_MAX))
    broken("too deep is not told by the nesting");
  if (!parsed.tooDeep && parsed.message != plain) broken("a message not too deep lost a value");
  (void)parsed.message.dump();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = data[0] % 64 + 1;
  const std::string_view stream(reinterpret_cast<const char*>(data) + 1, size - 1);

  MessageReader whole;
  Outcome atOnce;
  whole.feed(stream);
  drain(whole, atOnce);

  MessageReader pieces;
  Outcome inPieces;
  for (size_t at = 0; at < stream.size(); at += piece) {
    pieces.feed(stream.substr(at, piece));
    if (pieces.buffered() > stream.size()) broken("the reader holds more than it was fed");
    drain(pieces, inPieces);
  }
  if (inPieces.bodies != atOnce.bodies) broken("pieces give other bodies than the whole stream");
  for (const std::string& body : atOnce.bodies) {
    if (stream.find(body) == std::string_view::npos) broken("a body that is not in the input");
    checkParse(body);
  }
  return 0;
}
