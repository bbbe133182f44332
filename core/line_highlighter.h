// Display spans of one editor line: what each byte is to the compiler, for the editor's colours.
// The line is read by the compiler's own functions (the line classifier, the command parser's
// step, the header token reader), so a colour never claims what the compiler would not do.
// The console program never calls this.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "core/compile_session.h"

enum SpanKind : uint8_t {
  SPAN_PLAIN,            // blanks between items; what the compiler would stop at with an error
  SPAN_LINE_KEYWORD,     // ch1..ch9, { and } between items, op, cr, sn and their ( , )
  SPAN_LINE_COMMENT,     // "//" and the rest of the line
  SPAN_BLOCK_COMMENT,    // "/*" ... "*/" as the classifier crosses it, and a lone "*/"
  SPAN_COMMAND_STRING,   // the quotes of a command string and the blanks in it
  SPAN_NOTE,             // note letters, rests, accidentals
  SPAN_NUMBER,           // numbers, lengths, dots, the ':' of a duration
  SPAN_PARAMETER,        // t v @ $ q o l n < > (the command's letter; its value is a number)
  SPAN_TIE_TUPLET,       // & and the braces of a tuplet
  SPAN_HEADER_ARGUMENT,  // op keywords, cr and sn texts with their quotes
  SPAN_IGNORED,          // bytes the compiler never reads: behind the line's end (a carriage
                         // return, EDITOR_LINE_MAX bytes) or behind a NUL where a header
                         // command looks for its next token; show them as skipped, like comments
};

// A run of bytes of one kind: byte offsets into the line.
struct DisplaySpan {
  int32_t start;
  int32_t length;
  SpanKind kind;
  bool operator==(const DisplaySpan&) const = default;
};

// Where a header command stands when its line ends: the compiler reads its tokens on from the
// next line.
enum HeaderPhase : uint8_t {
  HEADER_NONE,
  HEADER_OPEN,        // behind op, cr or sn: '(' comes next
  HEADER_OP_LIST,     // inside op( ... ): a keyword, ',' or ')'
  HEADER_TEXT_START,  // behind cr( or sn(: '"' or ')'
  HEADER_TEXT_NEXT,   // behind a text piece's closing quote: '"' (a further piece) or ')'
};

// What one line hands to the next. The first line of a score starts from the default value.
struct DisplayLineState {
  bool inBlockComment = false;  // the reader's CompileSession::inBlockComment
  HeaderPhase headerPhase = HEADER_NONE;
  LineKind header = KIND_UNKNOWN;  // KIND_OP, KIND_CR or KIND_SN while headerPhase is set
  int32_t textLength = 0;          // bytes of the cr or sn text so far
  bool operator==(const DisplayLineState&) const = default;
};

// The state as one non-negative int (for QSyntaxHighlighter's block state) and back; a negative
// value (Qt's "no state yet") reads as the default state.
int32_t packDisplayLineState(const DisplayLineState& state);
DisplayLineState unpackDisplayLineState(int32_t packed);

// Highlights editor lines one after the other. It owns a scratch compile session (about 130 KB)
// that the compiler's functions read the line from; use one highlighter per thread.
class LineHighlighter {
 public:
  LineHighlighter();
  ~LineHighlighter();
  LineHighlighter(const LineHighlighter&) = delete;
  LineHighlighter& operator=(const LineHighlighter&) = delete;

  // Replaces `spans` with the spans of `line` (an editor line without its line end), which
  // start at 0, follow one another without gaps and end at line.size(), with no two neighbours
  // of the same kind. `atStart` is the state the previous line ended in; the result is the
  // state this one ends in: its inBlockComment is the reader's after this line. Never fails:
  // where the compiler would stop with an error the bytes are SPAN_PLAIN and the line goes on
  // (an item it does not know: that byte; a command: what the parser read of it; a header
  // command: the rest of the line, and the command ends).
  DisplayLineState highlightLine(std::string_view line, const DisplayLineState& atStart,
                                 std::vector<DisplaySpan>& spans);

 private:
  std::unique_ptr<CompileSession> session_;
  std::unique_ptr<uint8_t[]> workArea_;
};
