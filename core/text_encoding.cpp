#include "core/text_encoding.h"

#include <cstdint>

#include "core/score_encoding.h"

namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

// The character at p and its length: a listed pair, else a listed single byte, else one byte
// that does not decode, shown as U+FFFD.
Utf8Sequence readDisplayed(const uint8_t* p, const uint8_t* end) {
  if (end - p >= 2) {
    const char32_t pair = cp932Character(Cp932Code(p[0] << 8 | p[1]));
    if (pair != 0) return {pair, 2};
  }
  const char32_t single = cp932Character(*p);
  return {single != 0 ? single : REPLACEMENT, 1};
}

}  // namespace

std::string cp932ToDisplay(std::string_view bytes) {
  std::string result;
  result.reserve(bytes.size());
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  const auto* const end = p + bytes.size();
  while (p < end) {
    if (*p < 0x80) {  // ASCII reads as itself, byte 0 too
      result += char(*p++);
      continue;
    }
    const Utf8Sequence s = readDisplayed(p, end);
    appendUtf8(result, s.c);
    p += s.length;
  }
  return result;
}
