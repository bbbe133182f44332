// Code page 932 and UTF-8 conversion for the editor. For code page 932 the core's tables
// (core/score_encoding.h) tell what every byte and every two-byte sequence decodes to and whether
// it encodes back to the same bytes; the conversions and counts are table lookups in one pass
// over the text. UTF-8 is read and written here directly, the escapes shared with code page 932.
#include "editor/document/text_codec.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace {

using Code = Cp932Code;
constexpr char16_t NO_PAIR = Cp932Tables::NO_PAIR;
constexpr char16_t ESCAPED_PAIR = Cp932Tables::ESCAPED_PAIR;

constexpr qsizetype LINE_END_BYTES = 2;  // CR LF

// The core's code page 932 tables and the bytes each BMP code unit is counted as.
struct Cp932Widths {
  const Cp932Tables& t = cp932Tables();
  std::array<uint8_t, 0x10000> width{};
};

std::unique_ptr<Cp932Widths> buildWidths() {
  auto w = std::make_unique<Cp932Widths>();
  for (size_t u = 0; u < w->width.size(); ++u)
    w->width[u] = w->t.code[u] > 0xFF && w->t.code[u] != NO_BYTES ? 2 : 1;
  w->width[u'\n'] = LINE_END_BYTES;
  return w;
}

const Cp932Tables& tables() {
  return cp932Tables();
}

const std::array<uint8_t, 0x10000>& widths() {
  static const std::unique_ptr<Cp932Widths> built = buildWidths();
  return built->width;
}

QString decode(QByteArrayView bytes, bool splitLines) {
  const Cp932Tables& t = tables();
  // One byte gives at most one character outside the BMP (two code units).
  QString text(bytes.size() * 2, Qt::Uninitialized);
  char16_t* const begin = reinterpret_cast<char16_t*>(text.data());
  char16_t* out = begin;
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  const auto* const end = p + bytes.size();
  while (p < end) {
    const uint8_t b = *p++;
    if (splitLines && (b == '\r' || b == '\n')) {
      if (b == '\r' && p < end && *p == '\n') ++p;
      *out++ = u'\n';
      continue;
    }
    char32_t c = t.single[b];
    if (t.lead[b] && p < end) {
      const Code pairCode = Code(b << 8 | *p);
      const char16_t paired = t.pair[pairCode];
      if (paired != NO_PAIR) {
        c = paired == ESCAPED_PAIR ? ESCAPE_BASE + pairCode : paired;
        ++p;
      }
    }
    if (c < 0x10000) {
      *out++ = char16_t(c);
    } else {
      *out++ = QChar::highSurrogate(c);
      *out++ = QChar::lowSurrogate(c);
    }
  }
  text.resize(out - begin);
  text.squeeze();
  return text;
}

enum class OnUnencodable { Stop, WriteQuestionMark };

// Writes text's bytes to out, '\n' as CR LF. With Stop, returns the UTF-16 index of the first
// unencodable character and leaves out empty.
std::optional<qsizetype> encode(QStringView text, QByteArray& out, OnUnencodable policy) {
  const Cp932Tables& t = tables();
  out.resize(text.size() * 2);  // every code unit gives at most two bytes
  char* o = out.data();
  const char16_t* const begin = text.utf16();
  const char16_t* const end = begin + text.size();
  for (const char16_t* p = begin; p < end;) {
    const char16_t* const at = p;
    const char16_t u = *p++;
    Code code;
    if (u == u'\n') {
      *o++ = '\r';
      code = '\n';
    } else if (QChar::isHighSurrogate(u) && p < end && QChar::isLowSurrogate(*p)) {
      code = escapeCode(QChar::surrogateToUcs4(u, *p++));
    } else {
      code = t.code[u];
    }
    if (code == NO_BYTES) {
      if (policy == OnUnencodable::Stop) {
        out.clear();
        return at - begin;
      }
      code = '?';
    }
    if (code > 0xFF) *o++ = char(code >> 8);
    *o++ = char(code & 0xFF);
  }
  out.truncate(o - out.data());
  return std::nullopt;
}

char16_t* putCharacter(char16_t* out, char32_t c) {
  if (c < 0x10000) {
    *out++ = char16_t(c);
  } else {
    *out++ = QChar::highSurrogate(c);
    *out++ = QChar::lowSurrogate(c);
  }
  return out;
}

QString decodeUtf8(QByteArrayView bytes) {
  // A byte gives at most one escape, two code units.
  QString text(bytes.size() * 2, Qt::Uninitialized);
  char16_t* const begin = reinterpret_cast<char16_t*>(text.data());
  char16_t* out = begin;
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  const auto* const end = p + bytes.size();
  while (p < end) {
    if (*p == '\r' || *p == '\n') {
      if (*p++ == '\r' && p < end && *p == '\n') ++p;
      *out++ = u'\n';
      continue;
    }
    const Utf8Sequence sequence = readUtf8(p, end);
    if (sequence.length > 0 && escapeCode(sequence.c) == NO_BYTES) {
      out = putCharacter(out, sequence.c);
      p += sequence.length;
      continue;
    }
    // Not a sequence, or a character that would save as an escape's bytes: each byte escaped.
    for (int i = std::max(sequence.length, 1); i > 0; --i)
      out = putCharacter(out, ESCAPE_BASE + *p++);
  }
  text.resize(out - begin);
  text.squeeze();
  return text;
}

// As encode(), in UTF-8: an escape writes its bytes, a lone surrogate is unencodable.
std::optional<qsizetype> encodeUtf8(QStringView text, QByteArray& out, OnUnencodable policy) {
  out.resize(text.size() * 3);  // a code unit gives at most three bytes, a pair four
  char* o = out.data();
  const char16_t* const begin = text.utf16();
  const char16_t* const end = begin + text.size();
  for (const char16_t* p = begin; p < end;) {
    const char16_t* const at = p;
    char32_t c = *p++;
    if (c == u'\n') {
      *o++ = '\r';
    } else if (QChar::isHighSurrogate(c) && p < end && QChar::isLowSurrogate(*p)) {
      c = QChar::surrogateToUcs4(char16_t(c), *p++);
    } else if (QChar::isSurrogate(c)) {
      if (policy == OnUnencodable::Stop) {
        out.clear();
        return at - begin;
      }
      c = '?';
    }
    const Code code = escapeCode(c);
    if (code == NO_BYTES) {
      o = writeUtf8(o, c);
      continue;
    }
    if (code > 0xFF) *o++ = char(code >> 8);
    *o++ = char(code & 0xFF);
  }
  out.truncate(o - out.data());
  return std::nullopt;
}

qsizetype utf8Size(QStringView text) {
  qsizetype size = 0;
  const char16_t* p = text.utf16();
  const char16_t* const end = p + text.size();
  while (p < end) {
    const char16_t u = *p++;
    if (u < 0x80) {
      size += u == u'\n' ? LINE_END_BYTES : 1;
    } else if (u < 0x800) {
      size += 2;
    } else if (QChar::isHighSurrogate(u) && p < end && QChar::isLowSurrogate(*p)) {
      const Code code = escapeCode(QChar::surrogateToUcs4(u, *p++));
      size += code == NO_BYTES ? 4 : code > 0xFF ? 2 : 1;
    } else {
      size += QChar::isSurrogate(u) ? 1 : 3;  // a lone surrogate compiles as '?'
    }
  }
  return size;
}

Unencodable unencodableAt(QStringView text, qsizetype at) {
  const QStringView before = text.first(at);
  const qsizetype lineStart = before.lastIndexOf(u'\n') + 1;
  char32_t c = text[at].unicode();
  if (QChar::isHighSurrogate(c) && at + 1 < text.size() && text[at + 1].isLowSurrogate())
    c = QChar::surrogateToUcs4(text[at], text[at + 1]);
  return Unencodable{before.count(u'\n'), at - lineStart, c};
}

}  // namespace

QString decodeCp932(QByteArrayView bytes) {
  return decode(bytes, false);
}

QString loadedText(QByteArrayView fileBytes) {
  return decode(fileBytes, true);
}

FileEncoding detectEncoding(QByteArrayView fileBytes) {
  return detectScoreEncoding(std::string_view(fileBytes.data(), size_t(fileBytes.size())));
}

QString loadedText(QByteArrayView fileBytes, TextEncoding encoding) {
  return encoding == TextEncoding::Utf8 ? decodeUtf8(fileBytes) : decode(fileBytes, true);
}

std::optional<Unencodable> encodeCp932(QStringView text, QByteArray& out) {
  return encodeText(text, TextEncoding::Cp932, out);
}

std::optional<Unencodable> encodeText(QStringView text, TextEncoding encoding, QByteArray& out) {
  const std::optional<qsizetype> at = encoding == TextEncoding::Utf8
                                          ? encodeUtf8(text, out, OnUnencodable::Stop)
                                          : encode(text, out, OnUnencodable::Stop);
  if (!at) return std::nullopt;
  return unencodableAt(text, *at);
}

QByteArray compileBytes(QStringView line) {
  return compileBytes(line, TextEncoding::Cp932);
}

QByteArray compileBytes(QStringView line, TextEncoding encoding) {
  QByteArray bytes;
  if (encoding == TextEncoding::Utf8) {
    encodeUtf8(line, bytes, OnUnencodable::WriteQuestionMark);
  } else {
    encode(line, bytes, OnUnencodable::WriteQuestionMark);
  }
  return bytes;
}

int cp932CharBytes(char32_t c) {
  if (c < 0x10000) return widths()[c];
  const Code code = escapeCode(c);
  return code != NO_BYTES && code > 0xFF ? 2 : 1;
}

int utf8CharBytes(char32_t c) {
  if (c < 0x80) return 1;
  if (c < 0x800) return 2;
  if (c < 0x10000) return QChar::isSurrogate(c) ? 1 : 3;
  const Code code = escapeCode(c);
  return code == NO_BYTES ? 4 : code > 0xFF ? 2 : 1;
}

qsizetype cp932Size(QStringView text) {
  const auto& width = widths();
  qsizetype size = 0;
  const char16_t* p = text.utf16();
  const char16_t* const end = p + text.size();
  while (p < end) {
    const char16_t u = *p++;
    if (QChar::isHighSurrogate(u) && p < end && QChar::isLowSurrogate(*p))
      size += cp932CharBytes(QChar::surrogateToUcs4(u, *p++));
    else
      size += width[u];
  }
  return size;
}

namespace {

// The wide characters of Unicode's East Asian Width (W and F), by block; the ranges every
// terminal's width table holds.
struct CodeRange {
  char32_t first, last;
};
constexpr CodeRange WIDE_RANGES[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},
    {0x2614, 0x2615},   {0x2648, 0x2653},   {0x26AA, 0x26AB},   {0x26BD, 0x26BE},
    {0x26F5, 0x26F5},   {0x26FA, 0x26FA},   {0x2705, 0x2705},   {0x270A, 0x270B},
    {0x2728, 0x2728},   {0x274C, 0x274C},   {0x2753, 0x2755},   {0x2795, 0x2797},
    {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2E80, 0x303E},   {0x3041, 0x33FF},
    {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xA960, 0xA97F},
    {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},
    {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x18AFF}, {0x1B000, 0x1B2FF},
    {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A},
    {0x1F200, 0x1F2FF}, {0x1F300, 0x1F64F}, {0x1F680, 0x1F6FF}, {0x1F7E0, 0x1F7EB},
    {0x1F90C, 0x1F9FF}, {0x1FA70, 0x1FAFF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

bool isWide(char32_t c) {
  for (const CodeRange& range : WIDE_RANGES) {
    if (c < range.first) return false;
    if (c <= range.last) return true;
  }
  return false;
}

int columnsOf(char32_t c) {
  const Code code = c < 0x10000 ? tables().code[c] : escapeCode(c);
  if (code != NO_BYTES) return code > 0xFF ? 2 : 1;
  return isWide(c) ? 2 : 1;
}

}  // namespace

qsizetype displayColumns(QStringView text) {
  qsizetype columns = 0;
  const char16_t* p = text.utf16();
  const char16_t* const end = p + text.size();
  while (p < end) {
    const char16_t u = *p++;
    if (QChar::isHighSurrogate(u) && p < end && QChar::isLowSurrogate(*p))
      columns += columnsOf(QChar::surrogateToUcs4(u, *p++));
    else
      columns += columnsOf(u);
  }
  return columns;
}

qsizetype encodedSize(QStringView text, TextEncoding encoding) {
  return encoding == TextEncoding::Utf8 ? utf8Size(text) : cp932Size(text);
}
