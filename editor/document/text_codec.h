// A score's bytes, in code page 932 (Shift-JIS) or UTF-8, to and from the editor's text, and the
// byte counts the status bar shows. Loading never loses a byte in either encoding. In code page
// 932 bytes that do not decode, and two-byte sequences that
// decode to a character whose own encoding is a different sequence, become private-use
// characters that encode back to exactly those bytes:
//   a single byte b          -> U+F0000 + b               (escape range U+F0000 to U+F00FF)
//   a two-byte sequence h, l -> U+F0000 + (h << 8 | l)    (escape range U+F8100 to U+FFCFF)
// Every character in the two escape ranges encodes as its bytes. A character that code page 932
// cannot hold so that it reads back as the same character (an emoji, a kanji outside the code
// page, a one-way mapping such as U+301C WAVE DASH) is unencodable: saving refuses it and the
// compiler reads it as one byte '?'.
//
// In UTF-8 a byte that is not part of a valid sequence becomes its single-byte escape, and so do
// the bytes of a valid sequence whose character lies in an escape range (it would otherwise save
// as the escape's bytes). The escapes save as their bytes in both encodings, so a text converted
// from code page 932 keeps the bytes that have no character. Only a lone surrogate is
// unencodable in UTF-8.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <optional>

#include "core/score_encoding.h"

inline constexpr qsizetype UTF8_BYTE_ORDER_MARK_BYTES = 3;

// detectScoreEncoding() (core/score_encoding.h) over the file's bytes.
FileEncoding detectEncoding(QByteArrayView fileBytes);

// Decodes bytes without line-end handling: CR and LF become U+000D and U+000A.
QString decodeCp932(QByteArrayView bytes);

// Decodes a whole file for the editor: every CR LF, lone CR and lone LF becomes one '\n'. A
// final line end stays as a trailing '\n', so saving writes it back.
QString loadedText(QByteArrayView fileBytes);
// The same in the given encoding. For UTF-8 the bytes are those behind a byte-order mark.
QString loadedText(QByteArrayView fileBytes, TextEncoding encoding);

// The first character that saving cannot write: its 0-based line, its 0-based column in UTF-16
// units within that line (a cursor position), and the character itself.
struct Unencodable {
  qsizetype line;
  qsizetype column;
  char32_t character;
};

// Encodes the editor text for saving: '\n' becomes CR LF. On success `out` holds the bytes and
// the result is empty; otherwise `out` is empty and the result names the first character that
// cannot be written (a lone surrogate counts as one).
std::optional<Unencodable> encodeCp932(QStringView text, QByteArray& out);
// The same in the given encoding (UTF-8: without a byte-order mark).
std::optional<Unencodable> encodeText(QStringView text, TextEncoding encoding, QByteArray& out);

// Encodes one editor line (no '\n') for the compiler: an unencodable character becomes '?'.
QByteArray compileBytes(QStringView line);
QByteArray compileBytes(QStringView line, TextEncoding encoding);

// The number of code page 932 bytes a character takes when compiled: 2 for a double-byte
// character, a two-byte escape and '\n' (CR LF); 1 for every other character, an unencodable
// one included.
int cp932CharBytes(char32_t c);
// The same in UTF-8: the character's sequence, an escape's bytes, 1 for a lone surrogate ('?').
int utf8CharBytes(char32_t c);

// The sum of cp932CharBytes over the characters of text; a surrogate pair is one character.
qsizetype cp932Size(QStringView text);

// The columns a text takes in a fixed-pitch font, counted as code page 932 counts them: a
// character code page 932 holds (or an escape) takes its bytes; one it cannot hold takes 2 when
// it is wide (CJK ideographs, Hangul, full-width forms, emoji) and 1 otherwise.
qsizetype displayColumns(QStringView text);

// The bytes a text takes when compiled in the given encoding ('\n' counting 2): cp932Size, or
// for UTF-8 each character's sequence, an escape's bytes and 1 for a lone surrogate ('?').
qsizetype encodedSize(QStringView text, TextEncoding encoding);
