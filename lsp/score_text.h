// An open score's text as the client holds it (UTF-8 lines without their line ends) beside the
// bytes the compiler reads for each line in the score's encoding, kept in step through full and
// incremental changes. Positions come from the client in its position encoding; any position
// beyond a line or the text stands for the nearest end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/score_encoding.h"

// The unit of a position's character offset: UTF-8 bytes or UTF-16 code units.
enum class PositionEncoding { UTF8, UTF16 };

// What ends a line of the text. A lone CR is kept apart: an LF that comes to stand after it
// joins it into one line end.
enum class LineEnd : uint8_t { NONE, LF, CR, CR_LF };

struct TextPosition {
  int64_t line = 0;
  int64_t character = 0;
};

// The first character of a line that the score's encoding cannot hold (the compiler reads '?').
struct UnencodableCharacter {
  size_t textByte = 0;  // its first byte in the line's UTF-8 text
  char32_t character = 0;
};

class ScoreText {
 public:
  explicit ScoreText(TextEncoding encoding) : encoding_(encoding) { setText({}); }

  TextEncoding encoding() const { return encoding_; }

  void setText(std::string_view text);
  // Replaces the text between two positions (in either order) with `text`.
  void replace(TextPosition from, TextPosition to, std::string_view text, PositionEncoding units);

  int32_t lineCount() const { return static_cast<int32_t>(lines_.size()); }
  const std::string& line(int32_t index) const { return lines_[static_cast<size_t>(index)]; }
  // The line's bytes as the compiler reads them: code page 932 or UTF-8, an unencodable
  // character as '?'.
  const std::string& compileLine(int32_t index) const {
    return compiled_[static_cast<size_t>(index)].bytes;
  }
  const std::vector<UnencodableCharacter>& unencodable(int32_t index) const {
    return compiled_[static_cast<size_t>(index)].unencodable;
  }
  size_t textBytes() const { return textBytes_; }
  // Whether a file's bytes hold this text as the compiler reads it: the same compile bytes line
  // by line, whatever ends the lines, a UTF-8 byte-order mark aside.
  bool sameAsFile(std::string_view fileBytes) const;

  // Conversions within one line. A position is clamped to the text; one inside a character
  // stands for that character's start.
  size_t textByteOf(int32_t line, int64_t character, PositionEncoding units) const;
  int64_t characterOf(int32_t line, size_t textByte, PositionEncoding units) const;
  // Between the line's UTF-8 text and its compile bytes: the compile byte where the character
  // at `textByte` starts, and the text byte of the character that holds compile byte `column`
  // (the line's end for a column beyond it).
  size_t compileByteOf(int32_t line, size_t textByte) const;
  size_t textByteOfCompileByte(int32_t line, size_t column) const;
  // A client position of compile byte `column` of `line`.
  int64_t characterOfCompileByte(int32_t line, size_t column, PositionEncoding units) const {
    return characterOf(line, textByteOfCompileByte(line, column), units);
  }
  // The compile byte of a client position.
  size_t compileByteAt(TextPosition position, PositionEncoding units) const;
  // The line a client position stands on, clamped to the text.
  int32_t clampLine(int64_t line) const;

 private:
  struct CompiledLine {
    std::string bytes;
    std::vector<UnencodableCharacter> unencodable;
    bool sameAsText = true;  // the compile bytes are the text's bytes
  };
  CompiledLine compile(std::string_view line) const;
  // The compile bytes of one character of the text.
  int compileBytesOf(char32_t c) const;

  TextEncoding encoding_;
  std::vector<std::string> lines_;
  std::vector<LineEnd> ends_;           // order matches lines_
  std::vector<CompiledLine> compiled_;  // order matches lines_
  size_t textBytes_ = 0;
};

// The lines of a text: each CR LF, lone CR and lone LF ends one; the last line may be empty and
// has no end.
struct SplitText {
  std::vector<std::string> lines;
  std::vector<LineEnd> ends;  // order matches lines
};
SplitText splitLines(std::string_view text);
