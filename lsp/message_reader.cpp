#include "lsp/message_reader.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr std::string_view HEADER_END = "\r\n\r\n";
constexpr std::string_view LINE_END = "\r\n";
constexpr std::string_view CONTENT_LENGTH = "content-length";
constexpr size_t LENGTH_DIGITS_MAX = 12;

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool sameLetters(char a, char b) {
  return std::tolower(static_cast<unsigned char>(a)) == b;
}

bool namesContentLength(std::string_view name) {
  return name.size() == CONTENT_LENGTH.size() &&
         std::equal(name.begin(), name.end(), CONTENT_LENGTH.begin(), sameLetters);
}

// Where the name Content-Length (in any case) next occurs in `text` from `from`; npos for none.
size_t findContentLength(std::string_view text, size_t from) {
  if (from >= text.size()) return std::string_view::npos;
  const auto found = std::search(text.begin() + static_cast<ptrdiff_t>(from), text.end(),
                                 CONTENT_LENGTH.begin(), CONTENT_LENGTH.end(), sameLetters);
  return found == text.end() ? std::string_view::npos : static_cast<size_t>(found - text.begin());
}

}  // namespace

void MessageReader::feed(std::string_view bytes) {
  if (skipLeft_ > 0) {
    const size_t dropped = std::min(skipLeft_, bytes.size());
    skipLeft_ -= dropped;
    bytes.remove_prefix(dropped);
  }
  buffer_.append(bytes);
}

void MessageReader::consume(size_t bytes) {
  start_ += bytes;
  if (start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  } else if (start_ > buffer_.size() / 2 && start_ > 65536) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
}

// header: (name ':' value CR LF)* CR LF, one of the names Content-Length with decimal digits.
MessageReader::Result MessageReader::readHeader(size_t headerStart, size_t headerEnd,
                                                size_t& bodyLength) const {
  std::string_view header(buffer_.data() + headerStart, headerEnd - headerStart);
  bool found = false;
  while (!header.empty()) {
    const size_t lineEnd = std::min(header.find(LINE_END), header.size());
    const std::string_view line = header.substr(0, lineEnd);
    header.remove_prefix(std::min(header.size(), lineEnd + LINE_END.size()));
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return Result::BAD_HEADER;
    if (!namesContentLength(trimmed(line.substr(0, colon)))) continue;
    const std::string_view digits = trimmed(line.substr(colon + 1));
    if (found || digits.empty() || digits.size() > LENGTH_DIGITS_MAX ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return Result::BAD_HEADER;
    bodyLength = 0;
    for (char c : digits) bodyLength = bodyLength * 10 + static_cast<size_t>(c - '0');
    found = true;
  }
  return found ? Result::MESSAGE : Result::BAD_HEADER;
}

// Drops the bad header block that ends at `headerEnd` (npos: one that has no end in reach). A
// Content-Length inside it that does not begin one of its lines follows the bytes of a body sent
// without a usable header (a body after a header ended by LF LF, say): the next message starts
// there. Otherwise the block goes, and so do the bytes up to the next Content-Length, which are
// the bad message's body.
MessageReader::Result MessageReader::badHeader(size_t headerEnd) {
  const std::string_view held(buffer_.data() + start_, buffer_.size() - start_);
  if (headerEnd == std::string_view::npos) {
    consume(1);
    resyncing_ = true;
    return Result::BAD_HEADER;
  }
  for (size_t at = findContentLength(held, 1); at < headerEnd;
       at = findContentLength(held, at + 1)) {
    if (held.substr(at - std::min(at, LINE_END.size()), LINE_END.size()) == LINE_END) continue;
    consume(at);
    return Result::BAD_HEADER;
  }
  consume(headerEnd + HEADER_END.size());
  resyncing_ = true;
  return Result::BAD_HEADER;
}

MessageReader::Result MessageReader::next(std::string& body) {
  if (skipLeft_ > 0) return Result::NEED_MORE;
  if (resyncing_) {
    const std::string_view held(buffer_.data() + start_, buffer_.size() - start_);
    const size_t at = findContentLength(held, 0);
    if (at == std::string_view::npos) {
      // Keep the bytes that may begin the name.
      consume(held.size() - std::min(held.size(), CONTENT_LENGTH.size() - 1));
      return Result::NEED_MORE;
    }
    consume(at);
    resyncing_ = false;
  }
  const std::string_view held(buffer_.data() + start_, buffer_.size() - start_);
  const std::string_view reach = held.substr(0, HEADER_BYTES_MAX + HEADER_END.size());
  const size_t headerEnd = reach.find(HEADER_END);
  if (headerEnd == std::string_view::npos) {
    if (reach.size() < HEADER_BYTES_MAX + HEADER_END.size()) return Result::NEED_MORE;
    return badHeader(std::string_view::npos);
  }
  size_t bodyLength = 0;
  if (readHeader(start_, start_ + headerEnd, bodyLength) != Result::MESSAGE)
    return badHeader(headerEnd);
  const size_t bodyStart = headerEnd + HEADER_END.size();
  if (bodyLength > BODY_BYTES_MAX) {
    const size_t present = std::min(bodyLength, held.size() - bodyStart);
    consume(bodyStart + present);
    skipLeft_ = bodyLength - present;
    return Result::TOO_LARGE;
  }
  if (held.size() - bodyStart < bodyLength) return Result::NEED_MORE;
  body.assign(held.substr(bodyStart, bodyLength));
  consume(bodyStart + bodyLength);
  return Result::MESSAGE;
}
