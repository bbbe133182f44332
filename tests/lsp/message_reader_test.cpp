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

std::string framed(const std::string& body) {
  return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A bad header followed by its body: the reader finds the next header, which follows the body
// directly, and every later message is read, whether the stream comes whole or byte by byte.
TEST(MessageReaderTest, ABadHeaderCostsOnlyItsOwnMessage) {
  const std::string body = R"({"jsonrpc":"2.0","method":"initialized","params":{}})";
  const std::vector<std::string> badOnes = {
      "Content-Length: abc\r\n\r\n" + body,
      "Content-Length: -2\r\n\r\n" + body,
      "Content-Length: 52\r\nContent-Length: 52\r\n\r\n" + body,
      "Content-Length: 52\n\n" + body,
      "Content-Type: text/plain\r\n\r\n" + body,
  };
  const std::vector<std::string> later = {R"({"id":1})", R"({"id":2})", "[]"};
  std::string rest;
  for (const std::string& good : later) rest += framed(good);
  for (const std::string& bad : badOnes) {
    SCOPED_TRACE(bad);
    MessageReader whole;
    whole.feed(bad + rest);
    const Read read = readAll(whole);
    EXPECT_EQ(read.bodies, later);
    EXPECT_GE(read.rejected, 1);
    EXPECT_EQ(whole.buffered(), 0u);

    MessageReader bytes;
    std::vector<std::string> bodies;
    for (char c : bad + rest) {
      bytes.feed(std::string_view(&c, 1));
      for (const std::string& b : readAll(bytes).bodies) bodies.push_back(b);
    }
    EXPECT_EQ(bodies, later);
  }
}

TEST(MessageReaderTest, AnEndlessStreamWithoutHeadersIsHeldOnlyAPieceAtATime) {
  MessageReader reader;
  const std::string zeros(1 << 16, '\0');
  int rejected = 0;
  for (int i = 0; i < 64; ++i) {
    reader.feed(zeros);
    rejected += readAll(reader).rejected;
    EXPECT_LE(reader.buffered(), MessageReader::HEADER_BYTES_MAX + zeros.size());
  }
  EXPECT_EQ(rejected, 1);  // one bad header, then bytes skipped until the next one
  reader.feed(framed("{}"));
  EXPECT_EQ(readAll(reader).bodies, std::vector<std::string>{"{}"});
}

}  // namespace
