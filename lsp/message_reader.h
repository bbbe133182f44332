// The framing of the language server protocol: messages of a byte stream, each a header of
// "Name: value" lines ended by an empty line, with Content-Length giving the body's bytes.
// The reader is fed the stream in pieces of any size and hands out whole bodies; a bad header
// costs only that header, never a later message.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

class MessageReader {
 public:
  // A header block longer than this without its empty line is dropped as malformed.
  static constexpr size_t HEADER_BYTES_MAX = 8192;
  // A body longer than this is skipped unread: a 16 MiB document with its escapes fits.
  static constexpr size_t BODY_BYTES_MAX = size_t{96} << 20;

  enum class Result {
    NEED_MORE,   // no whole message yet: feed more
    MESSAGE,     // `body` holds the next message's body
    BAD_HEADER,  // a header without a usable Content-Length, or too long, was dropped
    TOO_LARGE,   // a body over BODY_BYTES_MAX is being skipped
  };

  void feed(std::string_view bytes);
  Result next(std::string& body);

  // Bytes held that no message has taken yet (for tests).
  size_t buffered() const { return buffer_.size() - start_; }

 private:
  void consume(size_t bytes);
  Result readHeader(size_t headerEnd, size_t& bodyLength);

  std::string buffer_;
  size_t start_ = 0;     // first byte not yet taken
  size_t skipLeft_ = 0;  // bytes of a too-large body still to drop
};
