// The score as the editor's highlighting reads it (core/line_highlighter.h), line after line:
// the semantic tokens, the state each line starts in, and the outline made of the line keywords
// (the channel blocks and the header commands) and of the block comments.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/line_highlighter.h"
#include "lsp/line_highlights.h"
#include "lsp/score_text.h"

// Semantic token types; order matches SEMANTIC_TOKEN_TYPES (the legend).
enum SemanticTokenType : uint32_t {
  TOKEN_KEYWORD,    // ch1..ch9, braces of a block, op cr sn and their ( , )
  TOKEN_COMMENT,    // comments and the bytes the compiler never reads
  TOKEN_STRING,     // a command string's quotes and blanks
  TOKEN_NOTE,       // notes, rests, accidentals
  TOKEN_NUMBER,     // numbers, lengths, dots, ':'
  TOKEN_FUNCTION,   // parameter commands t v @ $ q o l n < >
  TOKEN_OPERATOR,   // ties and tuplet braces
  TOKEN_PARAMETER,  // op keywords, cr and sn texts
  TOKEN_TYPE_COUNT,
};
extern const char* const SEMANTIC_TOKEN_TYPES[TOKEN_TYPE_COUNT];

// The token type of a span kind; TOKEN_TYPE_COUNT for plain bytes, which get no token.
SemanticTokenType tokenTypeOf(SpanKind kind);

// A region of the score in compile bytes: from (line, column) up to (endLine, endColumn).
struct ScoreRange {
  int32_t line = 0;
  size_t column = 0;
  int32_t endLine = 0;
  size_t endColumn = 0;
};

struct ScoreSymbol {
  enum Kind { CHANNEL_BLOCK, HEADER_COMMAND };
  Kind kind = CHANNEL_BLOCK;
  std::string name;      // "ch1" .. "ch9", "op", "cr", "sn"
  std::string detail;    // a header command's arguments as the text shows them
  ScoreRange range;      // the whole block or command
  ScoreRange selection;  // its keyword
};

struct ScoreFold {
  bool comment = false;  // a block comment, else a channel block
  int32_t startLine = 0;
  int32_t endLine = 0;
};

class ScoreOutline {
 public:
  // Reads every line of the text from its highlights, which are in step with it.
  void build(const ScoreText& text, const LineHighlights& highlights);

  // The state line `line` starts in; one more entry for the end of the text.
  const std::vector<DisplayLineState>& lineStates() const { return states_; }
  const std::vector<ScoreSymbol>& symbols() const { return symbols_; }
  const std::vector<ScoreFold>& folds() const { return folds_; }

 private:
  std::vector<DisplayLineState> states_;
  std::vector<ScoreSymbol> symbols_;
  std::vector<ScoreFold> folds_;
};
