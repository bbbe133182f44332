// Code page 932 (Shift-JIS) bytes to and from the editor's text, and the byte counts the status
// bar shows. Loading never loses a byte: bytes that do not decode, and two-byte sequences that
// decode to a character whose own encoding is a different sequence, become private-use
// characters that encode back to exactly those bytes:
//   a single byte b          -> U+F0000 + b               (escape range U+F0000 to U+F00FF)
//   a two-byte sequence h, l -> U+F0000 + (h << 8 | l)    (escape range U+F8100 to U+FFCFF)
// Every character in the two escape ranges encodes as its bytes. A character that code page 932
// cannot hold so that it reads back as the same character (an emoji, a kanji outside the code
// page, a one-way mapping such as U+301C WAVE DASH) is unencodable: saving refuses it and the
// compiler reads it as one byte '?'.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <optional>

// Decodes bytes without line-end handling: CR and LF become U+000D and U+000A.
QString decodeCp932(QByteArrayView bytes);

// Decodes a whole file for the editor: every CR LF, lone CR and lone LF becomes one '\n'. A
// final line end stays as a trailing '\n', so saving writes it back.
QString loadedText(QByteArrayView fileBytes);

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

// Encodes one editor line (no '\n') for the compiler: an unencodable character becomes '?'.
QByteArray compileBytes(QStringView line);

// The number of code page 932 bytes a character takes when compiled: 2 for a double-byte
// character, a two-byte escape and '\n' (CR LF); 1 for every other character, an unencodable
// one included.
int cp932CharBytes(char32_t c);

// The sum of cp932CharBytes over the characters of text; a surrogate pair is one character.
qsizetype cp932Size(QStringView text);
