// Display spans of one editor line: the line put into a scratch session as the editor's line
// reader puts it, then walked item by item with the classifier, command by command with the
// command parser's step, token by token with the header token reader.
#include "core/line_highlighter.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/command_parser.h"
#include "core/header_commands.h"
#include "core/source_lines.h"

namespace {

constexpr uint8_t CR = 13;
constexpr int32_t HIGHLIGHT_CHANNEL = 1;  // commands are read as inside this channel's block

// What a byte of a command the parser accepted shows as. The parser decided where the command
// ends; inside it every byte has one meaning.
constexpr std::array<SpanKind, 256> COMMAND_BYTE_KINDS = [] {
  std::array<SpanKind, 256> kinds{};
  kinds.fill(SPAN_COMMAND_STRING);
  auto set = [&](const char* bytes, SpanKind kind) {
    for (; *bytes != 0; ++bytes) kinds[static_cast<uint8_t>(*bytes)] = kind;
  };
  set("abcdefgrABCDEFGR#+-", SPAN_NOTE);
  set("0123456789.:", SPAN_NUMBER);
  set("tvqolnTVQOLN@$<>", SPAN_PARAMETER);
  set("&{}", SPAN_TIE_TUPLET);
  return kinds;
}();

struct LineWalk {
  CompileSession& session;
  std::vector<DisplaySpan>& spans;
  DisplayLineState state;
  int32_t end;  // the line's end as the compiler sees it: its first carriage return

  int32_t& cursor() { return session.lineCursor; }
  uint8_t byte() const { return cursorByte(session); }

  void emit(int32_t from, int32_t to, SpanKind kind) {
    if (to <= from) return;
    if (!spans.empty() && spans.back().kind == kind &&
        spans.back().start + spans.back().length == from) {
      spans.back().length += to - from;
      return;
    }
    spans.push_back({from, to - from, kind});
  }
  void skipBlanks() {
    const int32_t from = cursor();
    while (cursor() < end && (byte() == ' ' || byte() == '\t')) ++cursor();
    emit(from, cursor(), SPAN_PLAIN);
  }
  bool quoteAhead(int32_t from) const {
    return from < end && std::memchr(session.lineBuffer + from, '"', end - from) != nullptr;
  }
  // A header command failed: the rest of the line is plain and the command is over.
  bool headerFailed(int32_t from) {
    emit(from, end, SPAN_PLAIN);
    cursor() = end;
    state.headerPhase = HEADER_NONE;
    state.header = KIND_UNKNOWN;
    return false;
  }
};

// command string: '"' command* '"'
// Each command is the parser's step; one that fails is plain and the walk goes on behind what
// the step read (at least one byte). No step reads past a quote, so the string ends at the first
// quote behind the opening one, or at the line's end (an error: the opening quote is plain).
void walkCommandString(LineWalk& w, int32_t quote) {
  w.emit(quote, quote + 1, w.quoteAhead(w.cursor()) ? SPAN_COMMAND_STRING : SPAN_PLAIN);
  w.session.workLength[channelIndex(HIGHLIGHT_CHANNEL)] = 0;  // a line cannot fill the area
  while (w.cursor() < w.end) {
    const int32_t from = w.cursor();
    const int32_t result = parseCommandStep(w.session);
    if (result == COMMAND_STRING_CLOSED) {
      w.emit(from, w.cursor(), SPAN_COMMAND_STRING);
      return;
    }
    if (result != 0) {
      w.cursor() = std::max(w.cursor(), from + 1);
      w.emit(from, w.cursor(), SPAN_PLAIN);
      continue;
    }
    for (int32_t at = from; at < w.cursor(); ++at) {
      w.emit(at, at + 1, COMMAND_BYTE_KINDS[w.session.lineBuffer[at]]);
    }
  }
}

int32_t textMax(LineKind header) {
  return header == KIND_CR ? COPYRIGHT_MAX : SEQUENCE_NAME_MAX;
}

// text piece: text '"', the cursor on the text. Bytes other than '"' up to the line's end (a
// carriage return; a NUL is text); the text may not grow beyond the command's limit.
bool walkTextPiece(LineWalk& w, int32_t pieceStart) {
  const int32_t max = textMax(w.state.header);
  if (!w.quoteAhead(w.cursor())) return w.headerFailed(pieceStart);
  while (w.byte() != '"') {
    if (++w.state.textLength > max) {
      w.emit(pieceStart, w.cursor(), SPAN_HEADER_ARGUMENT);
      return w.headerFailed(w.cursor());
    }
    ++w.cursor();
  }
  ++w.cursor();
  w.emit(pieceStart, w.cursor(), SPAN_HEADER_ARGUMENT);
  w.state.headerPhase = HEADER_TEXT_NEXT;
  return true;
}

// One header token in the current phase, read by the compiler's token reader; false when the
// command failed.
bool walkHeaderToken(LineWalk& w) {
  uint8_t token[SEQUENCE_NAME_MAX + 1];
  const bool op = w.state.header == KIND_OP;
  const int32_t from = w.cursor();
  const int32_t length =
      readHeaderToken(w.session, token, op ? OP_TOKEN_MAX : textMax(w.state.header));
  const uint8_t first = token[0];
  auto keyword = [&](HeaderPhase next) {
    w.emit(from, w.cursor(), SPAN_LINE_KEYWORD);
    w.state.headerPhase = next;
    return true;
  };
  switch (w.state.headerPhase) {
    case HEADER_OPEN:
      if (first != '(') return w.headerFailed(from);
      w.state.textLength = 0;
      return keyword(op ? HEADER_OP_LIST : HEADER_TEXT_START);
    case HEADER_OP_LIST:
      if (first == ')') return keyword(HEADER_NONE);
      if (first == ',') return keyword(HEADER_OP_LIST);
      if (!isOpKeyword(std::string_view(reinterpret_cast<const char*>(token), length))) {
        return w.headerFailed(from);
      }
      w.emit(from, w.cursor(), SPAN_HEADER_ARGUMENT);
      return true;
    case HEADER_TEXT_START:
    case HEADER_TEXT_NEXT:
      if (first == ')') return keyword(HEADER_NONE);
      if (first != '"') return w.headerFailed(from);
      if (w.state.headerPhase == HEADER_TEXT_NEXT) {
        // A further piece: the byte behind its quote joins the text unexamined.
        if (w.cursor() >= w.end) return w.headerFailed(from);
        if (++w.state.textLength > textMax(w.state.header)) return w.headerFailed(from);
        ++w.cursor();
      }
      return walkTextPiece(w, from);
    case HEADER_NONE:
      break;
  }
  return w.headerFailed(from);
}

// header command: the tokens behind op, cr or sn, on this line and the next ones. A carriage
// return or a NUL where a token could start ends the line; what stands behind a NUL is never
// read. True when the command ended on this line and the line goes on behind it.
bool walkHeader(LineWalk& w) {
  for (;;) {
    w.skipBlanks();
    if (w.cursor() >= w.end || w.byte() == 0) {
      w.emit(w.cursor(), w.end, SPAN_IGNORED);
      w.cursor() = w.end;
      return false;
    }
    if (!walkHeaderToken(w)) return false;
    if (w.state.headerPhase == HEADER_NONE) {
      w.state.header = KIND_UNKNOWN;
      return true;
    }
  }
}

// line: item* end of line, each item from the classifier.
void walkLine(LineWalk& w) {
  if (w.state.headerPhase != HEADER_NONE && !walkHeader(w)) return;
  for (;;) {
    const bool inComment = w.session.inBlockComment;
    if (!inComment) w.skipBlanks();
    const int32_t from = w.cursor();
    const int32_t kind = classifyLineItem(w.session);
    const int32_t to = w.cursor();
    if (inComment) {
      w.emit(from, to, SPAN_BLOCK_COMMENT);
      if (kind == KIND_END_OF_LINE) return;
      continue;
    }
    switch (kind) {
      case KIND_END_OF_LINE:
        if (w.session.inBlockComment) {
          w.emit(from, to, SPAN_BLOCK_COMMENT);  // "/*" at the end of the line
        } else if (to > from && w.session.lineBuffer[from] == '/') {
          w.emit(from, w.end, SPAN_LINE_COMMENT);
          w.cursor() = w.end;
        } else {
          w.emit(from, to, SPAN_PLAIN);  // "ch" at the end of the line does nothing
        }
        return;
      case KIND_CHANNEL_NAME:
      case KIND_BLOCK_OPEN:
      case KIND_BLOCK_CLOSE:
        w.emit(from, to, SPAN_LINE_KEYWORD);
        break;
      case KIND_COMMENT:
      case KIND_COMMENT_END:
        w.emit(from, to, SPAN_BLOCK_COMMENT);
        break;
      case KIND_COMMAND_STRING:
        walkCommandString(w, from);
        break;
      case KIND_OP:
      case KIND_CR:
      case KIND_SN:
        w.emit(from, to, SPAN_LINE_KEYWORD);
        w.state.header = static_cast<LineKind>(kind);
        w.state.headerPhase = HEADER_OPEN;
        if (!walkHeader(w)) return;
        break;
      default:
        w.cursor() = std::max(to, from + 1);
        w.emit(from, w.cursor(), SPAN_PLAIN);
        break;
    }
  }
}

}  // namespace

int32_t packDisplayLineState(const DisplayLineState& state) {
  const int32_t header = state.header == KIND_UNKNOWN ? 0 : state.header - KIND_OP + 1;
  return (state.textLength << 6) | (header << 4) | (state.headerPhase << 1) |
         (state.inBlockComment ? 1 : 0);
}

DisplayLineState unpackDisplayLineState(int32_t packed) {
  DisplayLineState state;
  if (packed < 0) return state;
  state.inBlockComment = (packed & 1) != 0;
  state.headerPhase = static_cast<HeaderPhase>((packed >> 1) & 7);
  const int32_t header = (packed >> 4) & 3;
  state.header = header == 0 ? KIND_UNKNOWN : static_cast<LineKind>(KIND_OP + header - 1);
  state.textLength = packed >> 6;
  return state;
}

LineHighlighter::LineHighlighter()
    : session_(std::make_unique<CompileSession>()),
      workArea_(std::make_unique<uint8_t[]>(WORK_AREA_BYTES)) {
  CompileSession& session = *session_;
  session.openChannel = HIGHLIGHT_CHANNEL;
  session.workArea[channelIndex(HIGHLIGHT_CHANNEL)] = workArea_.get();
  for (int32_t k = 0; k < CHANNEL_COUNT; ++k) {
    session.octave[k] = DEFAULT_OCTAVE;
    session.lengthIndex[k] = DEFAULT_LENGTH_INDEX;
  }
}

LineHighlighter::~LineHighlighter() = default;

DisplayLineState LineHighlighter::highlightLine(std::string_view line,
                                                const DisplayLineState& atStart,
                                                std::vector<DisplaySpan>& spans) {
  // The line as the editor's line reader stores it: at most EDITOR_LINE_MAX bytes, a carriage
  // return, a NUL.
  CompileSession& session = *session_;
  const int32_t taken = static_cast<int32_t>(std::min<size_t>(line.size(), EDITOR_LINE_MAX));
  std::memcpy(session.lineBuffer, line.data(), static_cast<size_t>(taken));
  session.lineBuffer[taken] = CR;
  session.lineBuffer[taken + 1] = 0;
  session.lineLength = taken + 1;
  session.lineCursor = 0;
  session.inBlockComment = atStart.inBlockComment;
  const auto* lineEnd =
      static_cast<const uint8_t*>(std::memchr(session.lineBuffer, CR, static_cast<size_t>(taken)));
  const int32_t end =
      lineEnd == nullptr ? taken : static_cast<int32_t>(lineEnd - session.lineBuffer);

  spans.clear();
  LineWalk walk{session, spans, atStart, end};
  walkLine(walk);
  walk.emit(walk.cursor(), static_cast<int32_t>(line.size()), SPAN_IGNORED);
  walk.state.inBlockComment = session.inBlockComment;
  return walk.state;
}
