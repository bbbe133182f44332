// The framing reader on its own: what a stream of any pieces gives.
#include "lsp/message_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Result = MessageReader::Result;

struct Read {
  std::vector<std::string> bodies;
  int rejected = 0;
};

Read readAll(MessageReader& reader) {
  Read read;
  std::string body;
  for (Result r; (r = reader.next(body)) != Result::NEED_MORE;) {
    if (r == Result::MESSAGE)
      read.bodies.push_back(body);
    else
      ++read.rejected;
  }
  return read;
}

TEST(MessageReaderTest, HeaderNamesInAnyCaseAndOtherHeadersAreRead) {
  MessageReader reader;
  reader.feed(
      "content-length: 2\r\nContent-Type: application/vscode-jsonrpc; charset=utf-8\r\n\r\n{}");
  const Read read = readAll(reader);
  EXPECT_EQ(read.bodies, std::vector<std::string>{"{}"});
  EXPECT_EQ(reader.buffered(), 0u);
}

TEST(MessageReaderTest, ABodyOverTheLimitIsSkippedWithoutBeingHeld) {
  MessageReader reader;
  const size_t size = MessageReader::BODY_BYTES_MAX + 10;
  reader.feed("Content-Length: " + std::to_string(size) + "\r\n\r\n");
  std::string body;
  EXPECT_EQ(reader.next(body), Result::TOO_LARGE);
  std::string piece(1 << 20, 'x');
  for (size_t left = size; left > 0;) {
    const size_t n = std::min(left, piece.size());
    reader.feed(std::string_view(piece).substr(0, n));
    left -= n;
    EXPECT_EQ(reader.buffered(), 0u);
  }
  reader.feed("Content-Length: 1\r\n\r\n1");
  EXPECT_EQ(readAll(reader).bodies, std::vector<std::string>{"1"});
}

TEST(MessageReaderTest, AnEndlessHeaderIsDroppedAndTheNextMessageRead) {
  MessageReader reader;
  reader.feed(std::string(MessageReader::HEADER_BYTES_MAX + 100, 'h'));
  Read read = readAll(reader);
  EXPECT_EQ(read.rejected, 1);
  reader.feed("\r\n\r\nContent-Length: 2\r\n\r\n[]");
  read = readAll(reader);
  EXPECT_EQ(read.bodies, std::vector<std::string>{"[]"});
}

TEST(MessageReaderTest, TwoLengthsOrAnOverlongNumberAreBadHeaders) {
  MessageReader reader;
  reader.feed("Content-Length: 0\r\nContent-Length: 0\r\n\r\n");
  reader.feed("Content-Length: 99999999999999999999\r\n\r\n");
  reader.feed("Content-Length: 1\r\n\r\ny");
  const Read read = readAll(reader);
  EXPECT_EQ(read.rejected, 2);
  EXPECT_EQ(read.bodies, std::vector<std::string>{"y"});
}

}  // namespace
