// The page's text (UTF-8 from JavaScript, lines joined by "\n") as the compiler's bytes, and the
// way back from a byte of a line to the page's column (UTF-16 units, as the editor counts).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/score_encoding.h"

// One line of the page's text in the score's encoding. A character the encoding cannot hold so
// that it reads back the same becomes one '?', as the desktop editor compiles it; an escape
// (core/score_encoding.h) becomes its bytes.
struct EncodedLine {
  std::string bytes;
  std::vector<int32_t> column;  // entry b: the UTF-16 column of byte b; one past the end too
};
EncodedLine encodeLine(std::string_view utf8Line, TextEncoding encoding);

// The whole text as a score file: every line encoded, CR LF between them as the editor saves.
std::string encodeScore(std::string_view utf8Text, TextEncoding encoding);

// The lines of the text, split at "\n".
std::vector<std::string_view> splitLines(std::string_view utf8Text);

// The page's column of byte `byte` in the line (clamped to the line's ends).
int32_t pageColumn(const EncodedLine& line, int32_t byte);

// The byte of the line at the page's column `column`: the first byte at or behind it (the line's
// end when the column is past it).
int32_t byteColumn(const EncodedLine& line, int32_t column);

// A score file's bytes as the page's text: the encoding detectScoreEncoding() finds (a UTF-8
// byte-order mark dropped), every CR LF, lone CR and lone LF one "\n", and bytes without a
// character as their escapes, so that encodeScore() gives the same bytes back (CR LF ends).
std::string decodeScore(std::string_view bytes, TextEncoding& encoding);
