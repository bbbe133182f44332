// The importer's texts in the score's encoding, by the core's encoding tables and the same rules
// as the compiler and the editor: a name of the file is read as UTF-8, else as code page 932,
// else as Latin-1; a character the score's encoding cannot hold so that it reads back the same
// (an emoji in code page 932, U+301C WAVE DASH, which reads back as U+FF5E) is left out and
// counted, never changed into another.
#pragma once

#include <cstddef>
#include <string>

#include "core/score_encoding.h"

using ScoreEncoding = TextEncoding;

// A name or copyright of the file as UTF-8: as it is when it is valid UTF-8 (ASCII included);
// else from code page 932 when it is valid code page 932 holding a two-byte character or two
// half-width katakana in a row; else from Latin-1 (a lone 0xA9 is ©, not ｩ).
std::string fileTextToUtf8(const std::string& raw);

// The UTF-8 text's characters that `encoding` holds, at most `limit` bytes of them in that
// encoding (cut at a character; `cut` tells), as UTF-8; `leftOut` counts the characters the
// encoding cannot hold.
std::string encodableText(const std::string& utf8, ScoreEncoding encoding, size_t limit, bool& cut,
                          int& leftOut);

// The UTF-8 text in `encoding`, each "\n" written as CR LF; false when a character is not held
// (`bytes` then holds nothing of use).
bool encodeScore(const std::string& utf8, ScoreEncoding encoding, std::string& bytes);
