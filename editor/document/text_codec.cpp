// Code page 932 and UTF-8 conversion for the editor. For code page 932, glibc's iconv answers,
// once per run, what every byte and every two-byte sequence decodes to and whether it encodes
// back to the same bytes; the conversions and counts are then table lookups in one pass over the
// text. UTF-8 is read and written here directly, the escapes shared with code page 932.
#include "editor/document/text_codec.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace {

constexpr char32_t ESCAPE_BASE = 0xF0000;
constexpr char32_t BYTE_ESCAPE_LAST = ESCAPE_BASE + 0xFF;
constexpr char32_t PAIR_ESCAPE_FIRST = ESCAPE_BASE + 0x8100;
constexpr char32_t PAIR_ESCAPE_LAST = ESCAPE_BASE + 0xFCFF;

// A character's bytes as one number: a single byte b is b, a two-byte sequence is
// lead << 8 | trail (lead bytes are 0x81 and above, so the two never meet).
using Code = uint16_t;
constexpr Code NO_BYTES = 0xFFFF;  // 0xFF is never a lead byte

// Entries of Cp932Tables::pair besides the character itself.
constexpr char16_t NO_PAIR = 0;            // the two bytes are not one character
constexpr char16_t ESCAPED_PAIR = 0xFFFF;  // one character, but it encodes to other bytes

constexpr qsizetype LINE_END_BYTES = 2;  // CR LF

struct Cp932Tables {
  std::array<char32_t, 256> single{};    // a byte read on its own: its character or its escape
  std::array<bool, 256> lead{};          // the byte starts at least one two-byte character
  std::array<char16_t, 0x10000> pair{};  // index lead << 8 | trail
  std::array<Code, 0x10000> code{};      // BMP code unit -> its bytes, or NO_BYTES
  std::array<uint8_t, 0x10000> width{};  // BMP code unit -> bytes counted
};

struct IconvCloser {
  void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using Converter = std::unique_ptr<void, IconvCloser>;

Converter openConverter(const char* to, const char* from) {
  iconv_t cd = iconv_open(to, from);
  return Converter(cd == reinterpret_cast<iconv_t>(-1) ? nullptr : cd);
}

// Converts all of `in` from a fresh state; nullopt when iconv stops anywhere.
std::optional<std::string> convertAll(const Converter& cd, std::string in) {
  iconv_t handle = static_cast<iconv_t>(cd.get());
  iconv(handle, nullptr, nullptr, nullptr, nullptr);
  char out[16];
  char* inPtr = in.data();
  size_t inLeft = in.size();
  char* outPtr = out;
  size_t outLeft = sizeof out;
  if (iconv(handle, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) ||
      iconv(handle, nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1))
    return std::nullopt;
  return std::string(out, outPtr);
}

// The one character `bytes` decode to, or nullopt when they are not exactly one character.
std::optional<char32_t> decodeOne(const Converter& toUtf32, std::string bytes) {
  const std::optional<std::string> utf32 = convertAll(toUtf32, std::move(bytes));
  if (!utf32 || utf32->size() != 4) return std::nullopt;
  const auto* u = reinterpret_cast<const unsigned char*>(utf32->data());
  return char32_t(u[0]) | char32_t(u[1]) << 8 | char32_t(u[2]) << 16 | char32_t(u[3]) << 24;
}

// True when c encodes to exactly `bytes`.
bool encodesTo(const Converter& fromUtf32, char32_t c, const std::string& bytes) {
  const char le[4] = {char(c & 0xFF), char(c >> 8 & 0xFF), char(c >> 16 & 0xFF), char(c >> 24)};
  const std::optional<std::string> encoded = convertAll(fromUtf32, std::string(le, 4));
  return encoded && *encoded == bytes;
}

bool isBmpCharacter(char32_t c) {
  return c < 0x10000 && !QChar::isSurrogate(c);
}

// Reads every two-byte sequence that starts with `lead`.
void fillPairRow(Cp932Tables& t, unsigned lead, const Converter& toUtf32,
                 const Converter& fromUtf32) {
  for (unsigned trail = 0; trail < 256; ++trail) {
    const Code pairCode = Code(lead << 8 | trail);
    const std::string bytes{char(lead), char(trail)};
    const std::optional<char32_t> c = decodeOne(toUtf32, bytes);
    if (!c) continue;
    t.lead[lead] = true;
    if (isBmpCharacter(*c) && *c != NO_PAIR && *c != ESCAPED_PAIR &&
        encodesTo(fromUtf32, *c, bytes)) {
      t.pair[pairCode] = char16_t(*c);
      t.code[*c] = pairCode;
    } else {
      t.pair[pairCode] = ESCAPED_PAIR;
    }
  }
}

void fillFromIconv(Cp932Tables& t) {
  const Converter toUtf32 = openConverter("UTF-32LE", "CP932");
  const Converter fromUtf32 = openConverter("CP932", "UTF-32LE");
  if (!toUtf32 || !fromUtf32) {
    // No converter on this system: ASCII reads as itself, every other byte as its escape.
    for (char32_t b = 0; b < 0x80; ++b) t.single[b] = b;
    return;
  }
  for (unsigned b = 0; b < 256; ++b) {
    const std::string byte(1, char(b));
    const std::optional<char32_t> c = decodeOne(toUtf32, byte);
    if (!c) {
      fillPairRow(t, b, toUtf32, fromUtf32);
    } else if (isBmpCharacter(*c) && encodesTo(fromUtf32, *c, byte)) {
      t.single[b] = *c;
      t.code[*c] = Code(b);
    }  // else a one-byte character that does not come back: the byte stays escaped
  }
}

std::unique_ptr<Cp932Tables> buildTables() {
  auto t = std::make_unique<Cp932Tables>();
  for (char32_t b = 0; b < 256; ++b) t->single[b] = ESCAPE_BASE + b;
  t->code.fill(NO_BYTES);
  fillFromIconv(*t);
  for (size_t u = 0; u < t->width.size(); ++u)
    t->width[u] = t->code[u] > 0xFF && t->code[u] != NO_BYTES ? 2 : 1;
  t->width[u'\n'] = LINE_END_BYTES;
  return t;
}

const Cp932Tables& tables() {
  static const std::unique_ptr<Cp932Tables> built = buildTables();
  return *built;
}

// The bytes of a character from an escape range, or NO_BYTES.
Code escapeCode(char32_t c) {
  if ((c >= ESCAPE_BASE && c <= BYTE_ESCAPE_LAST) ||
      (c >= PAIR_ESCAPE_FIRST && c <= PAIR_ESCAPE_LAST))
    return Code(c - ESCAPE_BASE);
  return NO_BYTES;
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

// One UTF-8 sequence: its character and its length in bytes; length 0 when the bytes are not a
// valid sequence (an overlong form, a surrogate and a character beyond U+10FFFF included).
struct Utf8Sequence {
  char32_t c;
  int length;
};

Utf8Sequence readUtf8(const uint8_t* p, const uint8_t* end) {
  const uint8_t b = *p;
  if (b < 0x80) return {b, 1};
  int length;
  char32_t least;
  char32_t c;
  if (b >= 0xC2 && b <= 0xDF) {
    length = 2, least = 0x80, c = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3, least = 0x800, c = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4, least = 0x10000, c = b & 0x07;
  } else {
    return {0, 0};
  }
  if (end - p < length) return {0, 0};
  for (int i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return {0, 0};
    c = c << 6 | (p[i] & 0x3F);
  }
  if (c < least || c > 0x10FFFF || QChar::isSurrogate(c)) return {0, 0};
  return {c, length};
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

char* putUtf8(char* o, char32_t c) {
  if (c < 0x80) {
    *o++ = char(c);
  } else if (c < 0x800) {
    *o++ = char(0xC0 | c >> 6);
    *o++ = char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *o++ = char(0xE0 | c >> 12);
    *o++ = char(0x80 | (c >> 6 & 0x3F));
    *o++ = char(0x80 | (c & 0x3F));
  } else {
    *o++ = char(0xF0 | c >> 18);
    *o++ = char(0x80 | (c >> 12 & 0x3F));
    *o++ = char(0x80 | (c >> 6 & 0x3F));
    *o++ = char(0x80 | (c & 0x3F));
  }
  return o;
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
      o = putUtf8(o, c);
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
  if (fileBytes.startsWith(QByteArrayView(UTF8_BYTE_ORDER_MARK))) return {TextEncoding::Utf8, true};
  bool beyondAscii = false;
  const auto* p = reinterpret_cast<const uint8_t*>(fileBytes.data());
  const auto* const end = p + fileBytes.size();
  while (p < end) {
    const int length = readUtf8(p, end).length;
    if (length == 0) return {};
    beyondAscii = beyondAscii || length > 1;
    p += length;
  }
  return beyondAscii ? FileEncoding{TextEncoding::Utf8, false} : FileEncoding{};
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
  if (c < 0x10000) return tables().width[c];
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
  const auto& width = tables().width;
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

qsizetype encodedSize(QStringView text, TextEncoding encoding) {
  return encoding == TextEncoding::Utf8 ? utf8Size(text) : cp932Size(text);
}
