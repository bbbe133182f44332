#include "web/core/page_text.h"

#include <algorithm>

namespace {

// The character at p, read leniently: a byte that starts no valid sequence is its own escape,
// as the desktop editor loads it.
Utf8Sequence readLenient(const uint8_t* p, const uint8_t* end) {
  const Utf8Sequence s = readUtf8(p, end);
  if (s.length == 0) return {ESCAPE_BASE + *p, 1};
  return s;
}

void appendCode(std::string& out, Cp932Code code) {
  if (code >= 0x100) out += char(code >> 8);
  out += char(code & 0xFF);
}

void appendEncoded(std::string& out, char32_t c, TextEncoding encoding) {
  const Cp932Code escape = escapeCode(c);
  if (escape != NO_BYTES) {
    appendCode(out, escape);
  } else if (encoding == TextEncoding::Utf8) {
    appendUtf8(out, c);
  } else {
    const Cp932Code code = cp932Code(c);
    if (code == NO_BYTES)
      out += '?';
    else
      appendCode(out, code);
  }
}

}  // namespace

std::vector<std::string_view> splitLines(std::string_view utf8Text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  for (;;) {
    const size_t end = utf8Text.find('\n', start);
    if (end == std::string_view::npos) {
      lines.push_back(utf8Text.substr(start));
      return lines;
    }
    lines.push_back(utf8Text.substr(start, end - start));
    start = end + 1;
  }
}

EncodedLine encodeLine(std::string_view utf8Line, TextEncoding encoding) {
  EncodedLine line;
  const auto* p = reinterpret_cast<const uint8_t*>(utf8Line.data());
  const auto* const end = p + utf8Line.size();
  int32_t column = 0;
  while (p < end) {
    const Utf8Sequence s = readLenient(p, end);
    const size_t before = line.bytes.size();
    appendEncoded(line.bytes, s.c, encoding);
    line.column.insert(line.column.end(), line.bytes.size() - before, column);
    column += s.c >= 0x10000 ? 2 : 1;
    p += s.length;
  }
  line.column.push_back(column);
  return line;
}

std::string encodeScore(std::string_view utf8Text, TextEncoding encoding) {
  std::string bytes;
  bool first = true;
  for (std::string_view text : splitLines(utf8Text)) {
    if (!first) bytes += "\r\n";
    first = false;
    bytes += encodeLine(text, encoding).bytes;
  }
  return bytes;
}

int32_t pageColumn(const EncodedLine& line, int32_t byte) {
  const int32_t last = static_cast<int32_t>(line.column.size()) - 1;
  return line.column[std::clamp(byte, 0, last)];
}

int32_t byteColumn(const EncodedLine& line, int32_t column) {
  const auto at = std::lower_bound(line.column.begin(), line.column.end(), column);
  const auto last = static_cast<int32_t>(line.column.size()) - 1;
  return std::min(static_cast<int32_t>(at - line.column.begin()), last);
}

namespace {

// The character of the code page 932 bytes at p, and how many bytes it took.
Utf8Sequence readCp932(const uint8_t* p, const uint8_t* end) {
  const Cp932Tables& t = cp932Tables();
  if (t.lead[*p] && end - p >= 2) {
    const Cp932Code code = Cp932Code(p[0] << 8 | p[1]);
    const char16_t pair = t.pair[code];
    if (pair == Cp932Tables::ESCAPED_PAIR) return {ESCAPE_BASE + code, 2};
    if (pair != Cp932Tables::NO_PAIR) return {pair, 2};
  }
  return {t.single[*p], 1};
}

}  // namespace

std::string decodeScore(std::string_view bytes, TextEncoding& encoding) {
  const FileEncoding found = detectScoreEncoding(bytes);
  encoding = found.encoding;
  if (found.byteOrderMark) bytes.remove_prefix(sizeof UTF8_BYTE_ORDER_MARK - 1);
  std::string text;
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  const auto* const end = p + bytes.size();
  while (p < end) {
    if (*p == '\r' || *p == '\n') {
      p += *p == '\r' && end - p >= 2 && p[1] == '\n' ? 2 : 1;
      text += '\n';
      continue;
    }
    const Utf8Sequence s = encoding == TextEncoding::Utf8 ? readLenient(p, end) : readCp932(p, end);
    // In UTF-8 a character inside an escape range would save as the escape's bytes: keep its
    // bytes as single-byte escapes instead.
    if (encoding == TextEncoding::Utf8 && s.length > 1 && escapeCode(s.c) != NO_BYTES) {
      for (int i = 0; i < s.length; ++i) appendUtf8(text, ESCAPE_BASE + p[i]);
    } else {
      appendUtf8(text, s.c);
    }
    p += s.length;
  }
  return text;
}
