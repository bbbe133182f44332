#include "lsp/score_text.h"

#include <algorithm>
#include <utility>

namespace {

// One character of a line's UTF-8 text; a byte that starts no valid sequence is a character of
// its own (`valid` false), as the editor reads it.
struct TextCharacter {
  char32_t c;
  int length;
  bool valid;
};

TextCharacter characterAt(std::string_view line, size_t at) {
  const auto* p = reinterpret_cast<const uint8_t*>(line.data()) + at;
  const Utf8Sequence sequence =
      readUtf8(p, reinterpret_cast<const uint8_t*>(line.data()) + line.size());
  if (sequence.length == 0) return {*p, 1, false};
  return {sequence.c, sequence.length, true};
}

int64_t unitsOf(const TextCharacter& character, PositionEncoding units) {
  if (units == PositionEncoding::UTF8) return character.length;
  return character.valid && character.c >= 0x10000 ? 2 : 1;
}

std::string_view lineEndText(LineEnd end) {
  switch (end) {
    case LineEnd::LF:
      return "\n";
    case LineEnd::CR:
      return "\r";
    case LineEnd::CR_LF:
      return "\r\n";
    case LineEnd::NONE:
      break;
  }
  return {};
}

void putCode(std::string& out, Cp932Code code) {
  if (code > 0xFF) out += char(code >> 8);
  out += char(code & 0xFF);
}

}  // namespace

SplitText splitLines(std::string_view text) {
  SplitText split;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    split.lines.emplace_back(text.substr(start, i - start));
    LineEnd end = text[i] == '\n' ? LineEnd::LF : LineEnd::CR;
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      end = LineEnd::CR_LF;
      ++i;
    }
    split.ends.push_back(end);
    start = i + 1;
  }
  split.lines.emplace_back(text.substr(start));
  split.ends.push_back(LineEnd::NONE);
  return split;
}

int ScoreText::compileBytesOf(char32_t c) const {
  if (const Cp932Code escaped = escapeCode(c); escaped != NO_BYTES) return escaped > 0xFF ? 2 : 1;
  if (encoding_ == TextEncoding::Utf8) return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
  const Cp932Code code = cp932Code(c);
  return code != NO_BYTES && code > 0xFF ? 2 : 1;
}

// Each character as the editor compiles it: an escape (and a byte that is no UTF-8, which the
// editor reads as one) gives its bytes, a character the encoding cannot hold gives '?'.
ScoreText::CompiledLine ScoreText::compile(std::string_view line) const {
  CompiledLine out;
  const bool ascii = std::all_of(line.begin(), line.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  out.bytes.assign(line);
  if (ascii) return out;
  out.bytes.clear();
  out.bytes.reserve(line.size());
  for (size_t at = 0; at < line.size();) {
    const TextCharacter character = characterAt(line, at);
    const Cp932Code escaped = character.valid ? escapeCode(character.c) : Cp932Code(character.c);
    if (escaped != NO_BYTES) {
      putCode(out.bytes, escaped);
    } else if (encoding_ == TextEncoding::Utf8) {
      appendUtf8(out.bytes, character.c);
    } else if (const Cp932Code code = cp932Code(character.c); code != NO_BYTES) {
      putCode(out.bytes, code);
    } else {
      out.bytes += '?';
      out.unencodable.push_back({at, character.c});
    }
    at += static_cast<size_t>(character.length);
  }
  out.sameAsText = out.bytes == line;
  return out;
}

void ScoreText::setText(std::string_view text) {
  SplitText split = splitLines(text);
  lines_ = std::move(split.lines);
  ends_ = std::move(split.ends);
  compiled_.clear();
  compiled_.reserve(lines_.size());
  textBytes_ = 0;
  for (const std::string& line : lines_) {
    compiled_.push_back(compile(line));
    textBytes_ += line.size() + 1;
  }
}

bool ScoreText::sameAsFile(std::string_view fileBytes) const {
  constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";
  if (encoding_ == TextEncoding::Utf8 && fileBytes.starts_with(BYTE_ORDER_MARK))
    fileBytes.remove_prefix(BYTE_ORDER_MARK.size());
  const SplitText file = splitLines(fileBytes);
  if (file.lines.size() != compiled_.size()) return false;
  for (size_t i = 0; i < compiled_.size(); ++i) {
    if (file.lines[i] != compiled_[i].bytes) return false;
  }
  return true;
}

int32_t ScoreText::clampLine(int64_t line) const {
  return static_cast<int32_t>(std::clamp<int64_t>(line, 0, lineCount() - 1));
}

size_t ScoreText::textByteOf(int32_t lineIndex, int64_t character, PositionEncoding units) const {
  const std::string& text = line(lineIndex);
  if (units == PositionEncoding::UTF8 && character >= static_cast<int64_t>(text.size()))
    return text.size();
  size_t at = 0;
  int64_t counted = 0;
  while (at < text.size()) {
    const TextCharacter c = characterAt(text, at);
    counted += unitsOf(c, units);
    if (counted > character) break;
    at += static_cast<size_t>(c.length);
  }
  return at;
}

int64_t ScoreText::characterOf(int32_t lineIndex, size_t textByte, PositionEncoding units) const {
  const std::string& text = line(lineIndex);
  textByte = std::min(textByte, text.size());
  if (units == PositionEncoding::UTF8) return static_cast<int64_t>(textByte);
  int64_t counted = 0;
  for (size_t at = 0; at < textByte;) {
    const TextCharacter c = characterAt(text, at);
    counted += unitsOf(c, units);
    at += static_cast<size_t>(c.length);
  }
  return counted;
}

size_t ScoreText::compileByteOf(int32_t lineIndex, size_t textByte) const {
  const CompiledLine& compiled = compiled_[static_cast<size_t>(lineIndex)];
  const std::string& text = line(lineIndex);
  textByte = std::min(textByte, text.size());
  if (compiled.sameAsText) return textByte;
  size_t column = 0;
  for (size_t at = 0; at < textByte;) {
    const TextCharacter c = characterAt(text, at);
    column += static_cast<size_t>(c.valid ? compileBytesOf(c.c) : 1);
    at += static_cast<size_t>(c.length);
  }
  return column;
}

size_t ScoreText::textByteOfCompileByte(int32_t lineIndex, size_t column) const {
  const CompiledLine& compiled = compiled_[static_cast<size_t>(lineIndex)];
  const std::string& text = line(lineIndex);
  if (compiled.sameAsText) return std::min(column, text.size());
  size_t compiledSoFar = 0;
  size_t at = 0;
  while (at < text.size()) {
    const TextCharacter c = characterAt(text, at);
    compiledSoFar += static_cast<size_t>(c.valid ? compileBytesOf(c.c) : 1);
    if (compiledSoFar > column) break;
    at += static_cast<size_t>(c.length);
  }
  return at;
}

size_t ScoreText::compileByteAt(TextPosition position, PositionEncoding units) const {
  if (position.line >= lineCount()) return compileLine(lineCount() - 1).size();
  const int32_t lineIndex = clampLine(position.line);
  return compileByteOf(lineIndex, textByteOf(lineIndex, position.character, units));
}

void ScoreText::replace(TextPosition from, TextPosition to, std::string_view text,
                        PositionEncoding units) {
  // A position before the first line stands for the start of the text, one past the last line
  // for its end; the two are put in order once they are places in the text.
  auto place = [&](TextPosition p) {
    if (p.line < 0) return std::pair<int32_t, size_t>(0, 0);
    if (p.line >= lineCount()) {
      const int32_t last = lineCount() - 1;
      return std::pair(last, line(last).size());
    }
    const auto lineIndex = static_cast<int32_t>(p.line);
    return std::pair(lineIndex, textByteOf(lineIndex, std::max<int64_t>(p.character, 0), units));
  };
  auto [firstLine, firstByte] = place(from);
  auto [lastLine, lastByte] = place(to);
  if (std::pair(lastLine, lastByte) < std::pair(firstLine, firstByte)) {
    std::swap(firstLine, lastLine);
    std::swap(firstByte, lastByte);
  }
  // The piece split again reaches back over a line that ends in a lone CR and takes in the last
  // line's end: an LF that comes to stand after a CR makes one line end of the two, as it does
  // for the client.
  int32_t pieceLine = firstLine;
  std::string joined;
  if (firstLine > 0 && ends_[static_cast<size_t>(firstLine) - 1] == LineEnd::CR) {
    pieceLine = firstLine - 1;
    joined = line(pieceLine) + '\r';
  }
  joined += std::string_view(line(firstLine)).substr(0, firstByte);
  joined += text;
  joined += std::string_view(line(lastLine)).substr(lastByte);
  const LineEnd lastEnd = ends_[static_cast<size_t>(lastLine)];
  joined += lineEndText(lastEnd);
  SplitText split = splitLines(joined);
  if (lastEnd != LineEnd::NONE) {  // the empty start of the line after the piece
    split.lines.pop_back();
    split.ends.pop_back();
  }
  const std::vector<std::string>& replacement = split.lines;

  for (int32_t i = pieceLine; i <= lastLine; ++i) textBytes_ -= line(i).size() + 1;
  std::vector<CompiledLine> compiled;
  compiled.reserve(replacement.size());
  for (const std::string& newLine : replacement) {
    compiled.push_back(compile(newLine));
    textBytes_ += newLine.size() + 1;
  }
  const auto first = static_cast<ptrdiff_t>(pieceLine);
  const auto last = static_cast<ptrdiff_t>(lastLine) + 1;
  lines_.erase(lines_.begin() + first, lines_.begin() + last);
  lines_.insert(lines_.begin() + first, std::make_move_iterator(split.lines.begin()),
                std::make_move_iterator(split.lines.end()));
  ends_.erase(ends_.begin() + first, ends_.begin() + last);
  ends_.insert(ends_.begin() + first, split.ends.begin(), split.ends.end());
  compiled_.erase(compiled_.begin() + first, compiled_.begin() + last);
  compiled_.insert(compiled_.begin() + first, std::make_move_iterator(compiled.begin()),
                   std::make_move_iterator(compiled.end()));
}
