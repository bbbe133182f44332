#include "web/core/json_text.h"

#include "core/score_encoding.h"

void appendJsonString(std::string& out, std::string_view text) {
  static constexpr char HEX[] = "0123456789abcdef";
  out += '"';
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  const auto* const end = p + text.size();
  while (p < end) {
    const Utf8Sequence s = readUtf8(p, end);
    if (s.length == 0) {
      out += "\\ufffd";
      ++p;
      continue;
    }
    if (s.c == '"' || s.c == '\\') {
      out += '\\';
      out += char(s.c);
    } else if (s.c < 0x20) {
      out += "\\u00";
      out += HEX[s.c >> 4];
      out += HEX[s.c & 0xF];
    } else {
      out.append(reinterpret_cast<const char*>(p), size_t(s.length));
    }
    p += s.length;
  }
  out += '"';
}
