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

bool namesContentLength(std::string_view name) {
  return name.size() == CONTENT_LENGTH.size() &&
         std::equal(name.begin(), name.end(), CONTENT_LENGTH.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == b;
         });
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
MessageReader::Result MessageReader::readHeader(size_t headerEnd, size_t& bodyLength) {
  std::string_view header(buffer_.data() + start_, headerEnd - start_);
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

MessageReader::Result MessageReader::next(std::string& body) {
  if (skipLeft_ > 0) return Result::NEED_MORE;
  const std::string_view held(buffer_.data() + start_, buffer_.size() - start_);
  const size_t headerEnd = held.find(HEADER_END);
  if (headerEnd == std::string_view::npos) {
    if (held.size() <= HEADER_BYTES_MAX) return Result::NEED_MORE;
    // Keep the last bytes: they may begin the end of a header still to come.
    consume(held.size() - (HEADER_END.size() - 1));
    return Result::BAD_HEADER;
  }
  if (headerEnd > HEADER_BYTES_MAX) {
    consume(headerEnd + HEADER_END.size());
    return Result::BAD_HEADER;
  }
  size_t bodyLength = 0;
  if (readHeader(start_ + headerEnd, bodyLength) != Result::MESSAGE) {
    consume(headerEnd + HEADER_END.size());
    return Result::BAD_HEADER;
  }
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
