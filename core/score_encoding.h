// The two encodings a score's bytes may be in, how a file's bytes decide between them, and the
// per-character rules both programs encode text with: the code page 932 tables and the escapes
// that keep bytes without a character.
//
// Escapes: in code page 932 bytes that do not decode, and two-byte sequences that decode to a
// character whose own encoding is a different sequence, stand for private-use characters that
// encode back to exactly those bytes:
//   a single byte b          -> U+F0000 + b               (escape range U+F0000 to U+F00FF)
//   a two-byte sequence h, l -> U+F0000 + (h << 8 | l)    (escape range U+F8100 to U+FFCFF)
// Every character in the two escape ranges encodes as its bytes, in both encodings.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The encoding a score is read and written in.
enum class TextEncoding { Cp932, Utf8 };

// What opening found out about a file's bytes.
struct FileEncoding {
  TextEncoding encoding = TextEncoding::Cp932;
  bool byteOrderMark = false;  // UTF-8 only: the file starts with EF BB BF
};

// The largest score file the programs read; larger files are refused.
inline constexpr int64_t LOADABLE_FILE_BYTES = 16 * 1024 * 1024;

inline constexpr char UTF8_BYTE_ORDER_MARK[] = "\xEF\xBB\xBF";

// UTF-8 when the bytes start with a byte-order mark, or are valid UTF-8 holding at least one
// character outside ASCII; code page 932 otherwise (a pure ASCII file included).
FileEncoding detectScoreEncoding(std::string_view fileBytes);

// One UTF-8 sequence at p (p < end): its character and its length in bytes; length 0 when the
// bytes are not a valid sequence (an overlong form, a surrogate and a character beyond U+10FFFF
// included).
struct Utf8Sequence {
  char32_t c;
  int length;
};
Utf8Sequence readUtf8(const uint8_t* p, const uint8_t* end);
// Writes the UTF-8 bytes of `c` (one to four) at `out` and returns the end of what it wrote.
char* writeUtf8(char* out, char32_t c);
// Appends the UTF-8 bytes of `c` to `out`.
void appendUtf8(std::string& out, char32_t c);

inline constexpr char32_t ESCAPE_BASE = 0xF0000;

// A character's code page 932 bytes as one number: a single byte b is b, a two-byte sequence is
// lead << 8 | trail (lead bytes are 0x81 and above, so the two never meet).
using Cp932Code = uint16_t;
inline constexpr Cp932Code NO_BYTES = 0xFFFF;  // 0xFF is never a lead byte

// The bytes of a character from an escape range, or NO_BYTES.
Cp932Code escapeCode(char32_t c);

inline bool isSurrogate(char32_t c) {
  return c >= 0xD800 && c <= 0xDFFF;
}

// Code page 932 as glibc's iconv answers it, once per run: what every byte and every two-byte
// sequence decodes to and whether it encodes back to the same bytes.
struct Cp932Tables {
  // Entries of `pair` besides the character itself.
  static constexpr char16_t NO_PAIR = 0;            // the two bytes are not one character
  static constexpr char16_t ESCAPED_PAIR = 0xFFFF;  // one character, but it encodes to others

  std::array<char32_t, 256> single{};     // a byte read on its own: its character or escape
  std::array<bool, 256> lead{};           // the byte starts at least one two-byte character
  std::array<char16_t, 0x10000> pair{};   // index lead << 8 | trail
  std::array<Cp932Code, 0x10000> code{};  // BMP code unit -> its bytes, or NO_BYTES
};
const Cp932Tables& cp932Tables();

// The code page 932 bytes of a character (an escape: its bytes), or NO_BYTES when code page 932
// cannot hold it so that it reads back as the same character (an emoji, a kanji outside the
// code page, a one-way mapping such as U+301C WAVE DASH, a lone surrogate).
inline Cp932Code cp932Code(char32_t c) {
  return c < 0x10000 ? cp932Tables().code[c] : escapeCode(c);
}

// The character the code page 932 bytes `code` (one byte, or lead << 8 | trail) read as, by the
// list of mappings, whether or not it writes back to them (the IBM extensions listed twice read
// the same); 0 when the bytes are not one character.
char32_t cp932Character(Cp932Code code);

// The character code page 932 holds in place of one it cannot: what the bytes the converter
// writes for `c` one way read back as (U+301C WAVE DASH becomes U+FF5E FULLWIDTH TILDE), or 0
// when the converter has no bytes for it.
char32_t nearestCp932Character(char32_t c);
