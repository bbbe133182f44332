// libFuzzer entry: any bytes as the language server's input stream. The first byte chooses the
// size of the pieces the rest is fed in; the messages and rejections must be the same as when
// the whole stream is fed at once, every body must be bytes of the input, and the reader must
// hold no more than it was fed.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

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
  }
  return 0;
}
