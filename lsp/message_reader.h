// The framing of the language server protocol: messages of a byte stream, each a header of
// "Name: value" lines ended by an empty line, with Content-Length giving the body's bytes.
// The reader is fed the stream in pieces of any size and hands out whole bodies. A bad header
// costs only its own message: the reader then looks for the next Content-Length header, which
// may follow the bad message's body directly, and reads on from there.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

class MessageReader {
 public:
  // A header block whose empty line does not start within this many bytes is malformed.
  static constexpr size_t HEADER_BYTES_MAX = 8192;
  // A body longer than this is skipped unread: a 16 MiB document with its escapes fits.
  static constexpr size_t BODY_BYTES_MAX = size_t{96} << 20;

  enum class Result {
    NEED_MORE,   // no whole message yet: feed more
    MESSAGE,     // `body` holds the next message's body
    BAD_HEADER,  // a header without a usable Content-Length, or too long, was dropped; the
                 // bytes up to the next Content-Length header are skipped without a word
    TOO_LARGE,   // a body over BODY_BYTES_MAX is being skipped
  };

  void feed(std::string_view bytes);
  Result next(std::string& body);

  // Bytes held that no message has taken yet (for tests).
  size_t buffered() const { return buffer_.size() - start_; }

 private:
  void consume(size_t bytes);
  Result readHeader(size_t headerStart, size_t headerEnd, size_t& bodyLength) const;
  Result badHeader(size_t headerEnd);

  std::string buffer_;
  size_t start_ = 0;        // first byte not yet taken
  size_t skipLeft_ = 0;     // bytes of a too-large body still to drop
  bool resyncing_ = false;  // after a bad header: bytes up to the next Content-Length are junk
};
