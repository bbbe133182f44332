#include "lsp/quick_fixes.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "core/command_parser.h"
#include "core/compile_session.h"
#include "core/diagnostics.h"
#include "core/header_commands.h"
#include "core/score_encoding.h"

namespace {

// A number's allowed values and the error its command stops with outside them. `digitOnly`
// commands read one digit; the others read a number (':' behind a note).
struct NumberRange {
  int32_t code;
  int32_t low;
  int32_t high;
  bool digitOnly;
};

constexpr NumberRange NUMBER_RANGES[] = {
    {ERROR_NOTE_NUMBER, 0, EVENT_NOTE_LAST, false}, {ERROR_OCTAVE, 0, OCTAVE_MAX, true},
    {ERROR_PROGRAM, 0, PROGRAM_MAX, false},         {ERROR_VELOCITY, 0, VELOCITY_LEVEL_MAX, false},
    {ERROR_TEMPO, TEMPO_MIN, TEMPO_MAX, false},     {ERROR_DURATION, DURATION_MIN, BYTE_MAX, false},
    {ERROR_GATE, GATE_MIN, GATE_MAX, true},         {ERROR_PAN, 0, PAN_MAX, false},
};

const char* pick(Language language, const char* english, const char* japanese) {
  return language == Language::JAPANESE ? japanese : english;
}

// The bytes after the first of a UTF-8 character.
constexpr unsigned UTF8_CONTINUATION_MASK = 0xC0;
constexpr unsigned UTF8_CONTINUATION = 0x80;

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

// number command: letter (number | digit)   duration: note ... ':' number
// The digits of the command from `start` are replaced by the nearest allowed value.
std::optional<QuickFix> clampNumber(const ScoreText& text, const Diagnostic& diagnostic,
                                    const NumberRange& range, Language language) {
  const std::string& bytes = text.compileLine(diagnostic.line);
  const auto start = static_cast<size_t>(diagnostic.commandStart);
  size_t digits = start;
  if (range.code == ERROR_DURATION) {
    digits = bytes.find(':', digits);
    if (digits == std::string::npos) return std::nullopt;
  }
  ++digits;  // the command's letter or ':'
  size_t end = digits;
  while (end < bytes.size() && isDigit(bytes[end]) && (!range.digitOnly || end == digits)) ++end;
  if (end == digits) return std::nullopt;  // no number: no nearest value to give
  int64_t value = 0;
  for (size_t i = digits; i < end; ++i)
    value = std::min<int64_t>(value * 10 + (bytes[i] - '0'), BYTE_MAX + 1);
  const int64_t clamped = std::clamp<int64_t>(value, range.low, range.high);
  if (clamped == value) return std::nullopt;
  const std::string before = bytes.substr(start, end - start);
  QuickFix fix{diagnostic.line, digits, end, std::to_string(clamped), {}};
  const std::string after = bytes.substr(start, digits - start) + fix.newText;
  fix.title = formatText(pick(language, "Change %s to %s", "%s を %s に直す"), before.c_str(),
                         after.c_str());
  return fix;
}

// "&&": the '&'s behind the first one go.
std::optional<QuickFix> oneTie(const ScoreText& text, const Diagnostic& diagnostic,
                               Language language) {
  const std::string& bytes = text.compileLine(diagnostic.line);
  const size_t first = static_cast<size_t>(diagnostic.commandStart);
  if (first >= bytes.size() || bytes[first] != '&') return std::nullopt;
  size_t end = first + 1;
  while (end < bytes.size() && bytes[end] == '&') ++end;
  if (end == first + 1) return std::nullopt;
  return QuickFix{diagnostic.line, first + 1, end, "",
                  pick(language, "Change && to &", "&& を & に直す")};
}

// A header command stops for its ')' only at the end of the score: the ')' goes behind the
// score's last byte that is not blank.
std::optional<QuickFix> closingParenthesis(const ScoreText& text, Language language) {
  for (int32_t line = text.lineCount() - 1; line >= 0; --line) {
    const std::string& bytes = text.compileLine(line);
    size_t end = bytes.size();
    while (end > 0 && isBlank(bytes[end - 1])) --end;
    if (end == 0) continue;
    return QuickFix{line, end, end, ")",
                    pick(language, "Add the missing ')'", "足りない ')' を補う")};
  }
  return std::nullopt;
}

// The text failed at the byte one beyond its limit, just before the pointer: from that byte up
// to the last quote of the line before its ')' (further pieces on the line included) goes.
std::optional<QuickFix> cutText(const ScoreText& text, const Diagnostic& diagnostic, int32_t limit,
                                Language language) {
  const std::string& bytes = text.compileLine(diagnostic.line);
  const auto commandEnd = static_cast<size_t>(diagnostic.commandEnd);
  if (commandEnd == 0 || commandEnd > bytes.size()) return std::nullopt;
  const size_t from = commandEnd - 1;
  const size_t close = bytes.find(')', from);
  const size_t quote = close == std::string::npos ? bytes.find('"', from) : bytes.rfind('"', close);
  if (quote == std::string::npos || quote < from) return std::nullopt;
  // A character of several bytes that straddles the limit goes whole.
  size_t start = from;
  if (text.encoding() == TextEncoding::Utf8) {
    while (start > 0 &&
           (static_cast<unsigned char>(bytes[start]) & UTF8_CONTINUATION_MASK) == UTF8_CONTINUATION)
      --start;
  } else {
    start = text.compileByteOf(diagnostic.line, text.textByteOfCompileByte(diagnostic.line, from));
  }
  return QuickFix{
      diagnostic.line, start, quote, "",
      formatText(pick(language, "Cut the text to %d bytes", "文字列を %d Byte に切り詰める"),
                 static_cast<int>(limit))};
}

// The edits that turn one word into the other, each byte inserted, removed or replaced.
size_t editDistance(std::string_view from, std::string_view to) {
  std::vector<size_t> row(to.size() + 1);
  for (size_t j = 0; j <= to.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= from.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= to.size(); ++j) {
      const size_t above = row[j];
      row[j] =
          std::min({row[j] + 1, row[j - 1] + 1, diagonal + (from[i - 1] == to[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[to.size()];
}

// The bytes that end a word of a header command, besides the line's end.
bool endsWord(char c) {
  return isBlank(c) || c == '\n' || c == ',' || c == ')' || c == '(';
}

// op keyword: the pointer stands behind the unknown word (the compiler reads its first
// OP_TOKEN_MAX bytes); the whole word becomes the keyword of the table nearest to it.
std::optional<QuickFix> nearestKeyword(const ScoreText& text, const Diagnostic& diagnostic,
                                       Language language) {
  const std::string& bytes = text.compileLine(diagnostic.line);
  size_t start = std::min(static_cast<size_t>(std::max(diagnostic.pointer, 0)), bytes.size());
  size_t end = start;
  while (start > 0 && !endsWord(bytes[start - 1])) --start;
  while (end < bytes.size() && !endsWord(bytes[end])) ++end;
  if (start == end) return std::nullopt;
  std::string word = bytes.substr(start, end - start);
  std::string lower = word;
  for (char& c : lower) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  const char* nearest = OP_KEYWORDS[0];
  for (const char* keyword : OP_KEYWORDS) {
    if (editDistance(lower, keyword) < editDistance(lower, nearest)) nearest = keyword;
  }
  return QuickFix{
      diagnostic.line, start, end, nearest,
      formatText(pick(language, "Change %s to %s", "%s を %s に直す"), word.c_str(), nearest)};
}

// A character code page 932 cannot hold (the compiler reads its one '?' byte) becomes the one
// the converter would write in its place, or goes when there is none.
std::optional<QuickFix> encodableCharacter(const Diagnostic& diagnostic, Language language) {
  const auto column = static_cast<size_t>(diagnostic.commandStart);
  std::string shown;
  appendUtf8(shown, diagnostic.character);
  const char32_t nearest = nearestCp932Character(diagnostic.character);
  if (nearest == 0) {
    return QuickFix{diagnostic.line, column, column + 1, "",
                    formatText(pick(language, "Remove %s", "%s を取り除く"), shown.c_str())};
  }
  std::string replacement;
  appendUtf8(replacement, nearest);
  return QuickFix{diagnostic.line, column, column + 1, replacement,
                  formatText(pick(language, "Replace %s with %s", "%s を %s に置き換える"),
                             shown.c_str(), replacement.c_str())};
}

}  // namespace

std::optional<QuickFix> quickFixOf(const ScoreText& text, const Diagnostic& diagnostic,
                                   Language language) {
  if (!diagnostic.error()) return std::nullopt;
  // The missing ')' is found at the end of the score, where the reader may stand past the last
  // line.
  if (diagnostic.code == ERROR_OP_PAREN || diagnostic.code == ERROR_CR_PAREN ||
      diagnostic.code == ERROR_SN_PAREN)
    return closingParenthesis(text, language);
  if (diagnostic.line < 0 || diagnostic.line >= text.lineCount()) return std::nullopt;
  for (const NumberRange& range : NUMBER_RANGES) {
    if (range.code == diagnostic.code) return clampNumber(text, diagnostic, range, language);
  }
  switch (diagnostic.code) {
    case ERROR_TIE_REPEATED:
      return oneTie(text, diagnostic, language);
    case ERROR_CR_LENGTH:
      return cutText(text, diagnostic, COPYRIGHT_MAX, language);
    case ERROR_SN_LENGTH:
      return cutText(text, diagnostic, SEQUENCE_NAME_MAX, language);
    case ERROR_OP_KEYWORD:
      return nearestKeyword(text, diagnostic, language);
    case DIAGNOSTIC_UNENCODABLE:
      return encodableCharacter(diagnostic, language);
    default:
      return std::nullopt;
  }
}
