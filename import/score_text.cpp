#include "import/score_text.h"

#include <cstdint>

namespace {

constexpr uint8_t HALF_WIDTH_FIRST = 0xA1, HALF_WIDTH_LAST = 0xDF;
constexpr size_t LINE_BYTES_TYPICAL = 16;  // room for the CRs of lines at least this long

// Whether the text is valid UTF-8.
bool utf8Valid(const std::string& raw) {
  const auto* p = reinterpret_cast<const uint8_t*>(raw.data());
  const auto* end = p + raw.size();
  while (p < end) {
    const Utf8Sequence s = readUtf8(p, end);
    if (s.length == 0) return false;
    p += s.length;
  }
  return true;
}

// The text read as code page 932 into `out`; false when a byte or pair is no character of it.
// `plausible` tells whether it holds a two-byte character or two half-width katakana in a row.
bool fromCp932(const std::string& raw, std::string& out, bool& plausible) {
  const Cp932Tables& t = cp932Tables();
  out.clear();
  plausible = false;
  bool lastHalfWidth = false;
  for (size_t i = 0; i < raw.size(); ++i) {
    const uint8_t b = static_cast<uint8_t>(raw[i]);
    if (t.lead[b] && i + 1 < raw.size()) {
      const char16_t c = t.pair[(b << 8) | static_cast<uint8_t>(raw[i + 1])];
      if (c != Cp932Tables::NO_PAIR && c != Cp932Tables::ESCAPED_PAIR) {
        appendUtf8(out, c);
        plausible = true;
        lastHalfWidth = false;
        ++i;
        continue;
      }
    }
    const char32_t c = t.single[b];
    if (c >= ESCAPE_BASE) return false;
    const bool halfWidth = b >= HALF_WIDTH_FIRST && b <= HALF_WIDTH_LAST;
    plausible = plausible || (halfWidth && lastHalfWidth);
    lastHalfWidth = halfWidth;
    appendUtf8(out, c);
  }
  return true;
}

}  // namespace

std::string fileTextToUtf8(const std::string& raw) {
  if (utf8Valid(raw)) return raw;
  std::string text;
  bool plausible = false;
  if (fromCp932(raw, text, plausible) && plausible) return text;
  text.clear();
  for (const char byte : raw) appendUtf8(text, static_cast<uint8_t>(byte));  // Latin-1
  return text;
}

std::string encodableText(const std::string& utf8, ScoreEncoding encoding, size_t limit, bool& cut,
                          int& leftOut) {
  std::string kept;
  size_t bytes = 0;
  cut = false;
  leftOut = 0;
  const auto* p = reinterpret_cast<const uint8_t*>(utf8.data());
  const auto* end = p + utf8.size();
  while (p < end) {
    const Utf8Sequence s = readUtf8(p, end);
    if (s.length == 0) {  // not from fileTextToUtf8; a byte of no character is left out
      ++leftOut;
      ++p;
      continue;
    }
    size_t size = static_cast<size_t>(s.length);
    if (encoding == ScoreEncoding::Cp932) {
      const Cp932Code code = cp932Code(s.c);
      if (code == NO_BYTES || escapeCode(s.c) != NO_BYTES) {
        ++leftOut;
        p += s.length;
        continue;
      }
      size = code > 0xFF ? 2 : 1;
    }
    if (bytes + size > limit) {
      cut = true;
      break;
    }
    bytes += size;
    kept.append(reinterpret_cast<const char*>(p), static_cast<size_t>(s.length));
    p += s.length;
  }
  return kept;
}

bool encodeScore(const std::string& utf8, ScoreEncoding encoding, std::string& bytes) {
  bytes.clear();
  bytes.reserve(utf8.size() + utf8.size() / LINE_BYTES_TYPICAL);
  const auto* p = reinterpret_cast<const uint8_t*>(utf8.data());
  const auto* end = p + utf8.size();
  while (p < end) {
    // A run of ASCII but the line end is the same in every encoding, and most of a score.
    const auto* run = p;
    while (run < end && *run < 0x80 && *run != '\n') ++run;
    bytes.append(reinterpret_cast<const char*>(p), static_cast<size_t>(run - p));
    p = run;
    if (p == end) break;
    if (*p == '\n') {
      bytes.append("\r\n");
      ++p;
      continue;
    }
    if (encoding == ScoreEncoding::Utf8) {  // the text is UTF-8 already
      bytes += static_cast<char>(*p++);
      continue;
    }
    const Utf8Sequence s = readUtf8(p, end);
    if (s.length == 0) return false;
    const Cp932Code code = cp932Code(s.c);
    if (code == NO_BYTES) return false;
    if (code > 0xFF) bytes += static_cast<char>(code >> 8);
    bytes += static_cast<char>(code & 0xFF);
    p += s.length;
  }
  return true;
}
