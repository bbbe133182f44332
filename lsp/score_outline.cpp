#include "lsp/score_outline.h"

#include <optional>
#include <string_view>

const char* const SEMANTIC_TOKEN_TYPES[TOKEN_TYPE_COUNT] = {
    "keyword", "comment", "string", "enumMember", "number", "function", "operator", "parameter"};

SemanticTokenType tokenTypeOf(SpanKind kind) {
  switch (kind) {
    case SPAN_PLAIN:
      return TOKEN_TYPE_COUNT;
    case SPAN_LINE_KEYWORD:
      return TOKEN_KEYWORD;
    case SPAN_LINE_COMMENT:
    case SPAN_BLOCK_COMMENT:
    case SPAN_IGNORED:
      return TOKEN_COMMENT;
    case SPAN_COMMAND_STRING:
      return TOKEN_STRING;
    case SPAN_NOTE:
      return TOKEN_NOTE;
    case SPAN_NUMBER:
      return TOKEN_NUMBER;
    case SPAN_PARAMETER:
      return TOKEN_FUNCTION;
    case SPAN_TIE_TUPLET:
      return TOKEN_OPERATOR;
    case SPAN_HEADER_ARGUMENT:
      return TOKEN_PARAMETER;
  }
  return TOKEN_TYPE_COUNT;
}

namespace {

// What the outline is in the middle of while it reads the lines.
struct OutlineReader {
  const ScoreText& text;
  std::vector<ScoreSymbol>& symbols;
  std::vector<ScoreFold>& folds;

  std::optional<ScoreSymbol> channel;  // the ch keyword that names the next block
  std::optional<ScoreSymbol> block;    // the open block
  std::optional<ScoreSymbol> header;   // the header command being read
  std::optional<int32_t> commentStart;

  std::string textBetween(int32_t line, size_t from, size_t to) const {
    const size_t a = text.textByteOfCompileByte(line, from);
    const size_t b = text.textByteOfCompileByte(line, to);
    return text.line(line).substr(a, b - a);
  }

  void endHeader(int32_t line, size_t column) {
    header->range.endLine = line;
    header->range.endColumn = column;
    symbols.push_back(std::move(*header));
    header.reset();
  }

  // One keyword of a line-keyword span: "chN", "{", "}", "op", "cr", "sn", "(", ",", ")".
  void keyword(int32_t line, size_t at, std::string_view word) {
    const ScoreRange here{line, at, line, at + word.size()};
    if (word == "(" || word == ",") return;
    if (word == ")") {
      if (header) endHeader(line, at + 1);
      return;
    }
    if (word == "op" || word == "cr" || word == "sn") {
      if (header) endHeader(here.line, here.column);
      header = ScoreSymbol{ScoreSymbol::HEADER_COMMAND, std::string(word), {}, here, here};
      return;
    }
    if (word.starts_with("ch")) {
      channel = ScoreSymbol{ScoreSymbol::CHANNEL_BLOCK, std::string(word), {}, here, here};
      return;
    }
    if (word == "{" && !block) {
      block = channel ? *channel : ScoreSymbol{ScoreSymbol::CHANNEL_BLOCK, "{", {}, here, here};
      channel.reset();
    } else if (word == "}" && block) {
      block->range.endLine = line;
      block->range.endColumn = at + 1;
      if (line > block->range.line) folds.push_back({false, block->range.line, line});
      symbols.push_back(std::move(*block));
      block.reset();
    }
  }

  void span(int32_t line, const std::string& bytes, const DisplaySpan& span) {
    const auto start = static_cast<size_t>(span.start);
    const auto end = start + static_cast<size_t>(span.length);
    if (span.kind == SPAN_HEADER_ARGUMENT && header) {
      if (!header->detail.empty()) header->detail += ' ';
      header->detail += textBetween(line, start, end);
    }
    if (span.kind != SPAN_LINE_KEYWORD) return;
    for (size_t at = start; at < end;) {
      size_t length = 1;
      if (end - at >= 3 && bytes.compare(at, 2, "ch") == 0) {
        length = 3;
      } else if (end - at >= 2 &&
                 (bytes.compare(at, 2, "op") == 0 || bytes.compare(at, 2, "cr") == 0 ||
                  bytes.compare(at, 2, "sn") == 0)) {
        length = 2;
      }
      keyword(line, at, std::string_view(bytes).substr(at, length));
      at += length;
    }
  }

  void finish(int32_t lastLine) {
    const size_t end = text.compileLine(lastLine).size();
    if (header) endHeader(lastLine, end);
    if (block) {
      block->range.endLine = lastLine;
      block->range.endColumn = end;
      if (lastLine > block->range.line) folds.push_back({false, block->range.line, lastLine});
      symbols.push_back(std::move(*block));
    }
    if (commentStart && lastLine > *commentStart) folds.push_back({true, *commentStart, lastLine});
  }
};

}  // namespace

void ScoreOutline::build(const ScoreText& text, const LineHighlights& highlights) {
  states_.clear();
  symbols_.clear();
  folds_.clear();
  states_.reserve(static_cast<size_t>(text.lineCount()) + 1);
  OutlineReader reader{text, symbols_, folds_, {}, {}, {}, {}};
  for (int32_t line = 0; line < text.lineCount(); ++line) {
    const DisplayLineState& state = highlights.startState(line);
    states_.push_back(state);
    const std::string& bytes = text.compileLine(line);
    const DisplayLineState& next = highlights.startState(line + 1);
    for (const DisplaySpan& span : highlights.spans(line)) reader.span(line, bytes, span);
    // A header command whose line ended it early (it failed) is over with its line.
    if (reader.header && next.headerPhase == HEADER_NONE) reader.endHeader(line, bytes.size());
    if (!state.inBlockComment && next.inBlockComment) reader.commentStart = line;
    if (state.inBlockComment && !next.inBlockComment && reader.commentStart) {
      if (line > *reader.commentStart) folds_.push_back({true, *reader.commentStart, line});
      reader.commentStart.reset();
    }
  }
  states_.push_back(highlights.startState(text.lineCount()));
  reader.finish(text.lineCount() - 1);
}
