#include "core/line_highlighter.h"

#include <gtest/gtest.h>

#include <random>

#include "core/command_parser.h"
#include "core/header_commands.h"
#include "core/source_lines.h"
#include "tests/support/line_helpers.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

constexpr char KIND_LETTERS[] = "PKLBSNDATHI";  // order matches SpanKind

// The spans of a line written out: kind letter ':' bytes, '|' between spans; a NUL shows as
// "\0", a carriage return as "\r".
std::string render(std::string_view line, const std::vector<DisplaySpan>& spans) {
  std::string out;
  for (const DisplaySpan& span : spans) {
    if (!out.empty()) out += '|';
    out += KIND_LETTERS[span.kind];
    out += ':';
    for (char c : line.substr(span.start, span.length)) {
      out += c == 0 ? std::string("\\0") : c == '\r' ? std::string("\\r") : std::string(1, c);
    }
  }
  return out;
}

class LineHighlighterTest : public testing::Test {
 protected:
  // The spans of `line` from `atStart`, written out; the state the line ends in is `after`.
  std::string spansOf(std::string_view line, DisplayLineState atStart = {}) {
    after = highlighter.highlightLine(line, atStart, spans);
    return render(line, spans);
  }
  DisplayLineState inComment() {
    DisplayLineState state;
    state.inBlockComment = true;
    return state;
  }

  LineHighlighter highlighter;
  std::vector<DisplaySpan> spans;
  DisplayLineState after;
};

TEST_F(LineHighlighterTest, CommandStringsShowEachCommandsParts) {
  EXPECT_EQ(spansOf("ch1 { \"l8 c#4. r16 v12 {ce-g}4 & D+:12 o5<>$64 @3 q7 n60 t120\" }"),
            "K:ch1|P: |K:{|P: |S:\"|A:l|D:8|S: |N:c#|D:4.|S: |N:r|D:16|S: |A:v|D:12|S: |T:{|N:ce-g|"
            "T:}|D:4|S: |T:&|S: |N:D+|D::12|S: |A:o|D:5|A:<>$|D:64|S: |A:@|D:3|S: |A:q|D:7|S: |"
            "A:n|D:60|S: |A:t|D:120|S:\"|P: |K:}");
  EXPECT_FALSE(after.inBlockComment);
  // Each command the parser refuses is plain, the rest goes on being read.
  EXPECT_EQ(
      spansOf("\"v300 x && c {c e x g}4 o9\"ch2"),
      "S:\"|P:v300|S: |P:x|S: |P:&|T:&|S: |N:c|S: |P:{c e x|S: |N:g|P:}4|S: |P:o9|S:\"|K:ch2");
}

TEST_F(LineHighlighterTest, StringNotClosedOnItsLineHidesNoComment) {
  EXPECT_EQ(spansOf("ch1 \"cde /* x"), "K:ch1|P: \"|N:cde|S: |P:/*|S: |P:x");
  EXPECT_FALSE(after.inBlockComment);
  EXPECT_EQ(spansOf("\"a\" /* \"b\" */ ch3"), "S:\"|N:a|S:\"|P: |B:/* \"b\" */|P: |K:ch3");
}

TEST_F(LineHighlighterTest, CommentsEndWhereTheClassifierEndsThem) {
  EXPECT_EQ(spansOf("/*/ ch1"), "B:/*/ ch1");
  EXPECT_TRUE(after.inBlockComment);
  EXPECT_EQ(spansOf("/**/ ch1"), "B:/**/ ch1");  // the byte behind "/*" is stepped over
  EXPECT_TRUE(after.inBlockComment);
  EXPECT_EQ(spansOf("//*/ ch1"), "L://*/ ch1");
  EXPECT_FALSE(after.inBlockComment);
  EXPECT_EQ(spansOf("//*/ ch4 {", inComment()), "B://*/|P: |K:ch4|P: |K:{");
  EXPECT_FALSE(after.inBlockComment);
  EXPECT_EQ(spansOf("/*/ ch5", inComment()), "B:/*/ ch5");
  EXPECT_TRUE(after.inBlockComment);
  EXPECT_EQ(spansOf("op*/ ch7", inComment()), "B:op*/ ch7");
  EXPECT_TRUE(after.inBlockComment);
  EXPECT_EQ(spansOf("a */ch2 { \"c\" } // end", inComment()),
            "B:a */|K:ch2|P: |K:{|P: |S:\"|N:c|S:\"|P: |K:}|P: |L:// end");
  EXPECT_FALSE(after.inBlockComment);
  EXPECT_EQ(spansOf("*/ ch1 /*"), "B:*/|P: |K:ch1|P: |B:/*");
  EXPECT_TRUE(after.inBlockComment);
}

TEST_F(LineHighlighterTest, NulIsCommentTextInsideACommentAndAnUnknownItemOutside) {
  using namespace std::string_literals;
  EXPECT_EQ(spansOf("a\0b*/ch6"s, inComment()), "B:a\\0b*/|K:ch6");
  EXPECT_EQ(spansOf("ch1\0{"s), "K:ch1|P:\\0|K:{");
  EXPECT_EQ(spansOf("\"c\0d\""s), "S:\"|N:c|P:\\0|N:d|S:\"");
}

TEST_F(LineHighlighterTest, BytesBehindTheLinesEndAreIgnored) {
  // A carriage return ends the line, also inside a comment.
  EXPECT_EQ(spansOf("ch1\r{ /*"), "K:ch1|I:\\r{ /*");
  EXPECT_FALSE(after.inBlockComment);
  EXPECT_EQ(spansOf("a\r*/", inComment()), "B:a|I:\\r*/");
  EXPECT_TRUE(after.inBlockComment);
  // The reader takes EDITOR_LINE_MAX bytes: a "*/" split by the limit does not close.
  const std::string blanks(EDITOR_LINE_MAX - 1, ' ');
  EXPECT_EQ(spansOf(blanks + "*/ ch1", inComment()), "B:" + blanks + "*|I:/ ch1");
  EXPECT_TRUE(after.inBlockComment);
  EXPECT_EQ(spansOf(std::string(EDITOR_LINE_MAX - 2, ' ') + "/*x"),
            "P:" + std::string(EDITOR_LINE_MAX - 2, ' ') + "|B:/*|I:x");
  EXPECT_TRUE(after.inBlockComment);
  EXPECT_EQ(spansOf(std::string(EDITOR_LINE_MAX, 'c')), "P:" + std::string(EDITOR_LINE_MAX, 'c'));
}

TEST_F(LineHighlighterTest, UnknownItemsArePlainAndTheLineGoesOn) {
  EXPECT_EQ(spansOf("x ch1 ch0 ch10 CH2"), "P:x |K:ch1|P: ch0 |K:ch1|P:0 CH2");
  EXPECT_EQ(spansOf("ch1 ch"), "K:ch1|P: ch");
}

TEST_F(LineHighlighterTest, HeaderCommandsOnOneLine) {
  EXPECT_EQ(spansOf("op(q7def, AutoLR) ch1"), "K:op(|H:q7def|K:,|P: |H:AutoLR|K:)|P: |K:ch1");
  EXPECT_EQ(spansOf("cr(\"(c) me\") sn()"), "K:cr(|H:\"(c) me\"|K:)|P: |K:sn()");
  // The byte behind a further piece's quote joins the text unexamined, a quote too.
  EXPECT_EQ(spansOf("sn(\"a\"\"\" /* \")"), "K:sn(|H:\"a\"\"\" /* \"|K:)");
  EXPECT_FALSE(after.inBlockComment);
  // An error leaves the rest of the line plain and ends the command.
  EXPECT_EQ(spansOf("op(q7def, foo) ch1 /*"), "K:op(|H:q7def|K:,|P: foo) ch1 /*");
  EXPECT_EQ(after, DisplayLineState{});
  EXPECT_EQ(spansOf("cr(\"" + std::string(COPYRIGHT_MAX + 1, 'x') + "\") ch1"),
            "K:cr(|H:\"" + std::string(COPYRIGHT_MAX, 'x') + "|P:x\") ch1");
  EXPECT_EQ(spansOf("sn(\"open"), "K:sn(|P:\"open");
  EXPECT_EQ(spansOf("cr x"), "K:cr|P: x");
}

TEST_F(LineHighlighterTest, HeaderCommandsRunOnAcrossLines) {
  EXPECT_EQ(spansOf("sn ( "), "K:sn|P: |K:(|P: ");
  DisplayLineState state = after;
  EXPECT_EQ(state.headerPhase, HEADER_TEXT_START);
  EXPECT_EQ(spansOf("\"a\"", state), "H:\"a\"");
  state = after;
  EXPECT_EQ(state.headerPhase, HEADER_TEXT_NEXT);
  EXPECT_EQ(spansOf("\"/* b\" ) /* c", state), "H:\"/* b\"|P: |K:)|P: |B:/* c");
  EXPECT_EQ(after.headerPhase, HEADER_NONE);
  EXPECT_TRUE(after.inBlockComment);

  // A NUL where a token could start ends the line for the token reader.
  using namespace std::string_literals;
  EXPECT_EQ(spansOf("op(\0q7def)"s), "K:op(|I:\\0q7def)");
  EXPECT_EQ(after.headerPhase, HEADER_OP_LIST);
  EXPECT_EQ(spansOf("manulr ) ch2", after), "H:manulr|P: |K:)|P: |K:ch2");
}

TEST(DisplayLineState, PacksIntoOneNonNegativeInt) {
  DisplayLineState state;
  EXPECT_EQ(unpackDisplayLineState(-1), state);
  EXPECT_EQ(unpackDisplayLineState(packDisplayLineState(state)), state);
  for (LineKind header : {KIND_OP, KIND_CR, KIND_SN}) {
    for (HeaderPhase phase : {HEADER_OPEN, HEADER_OP_LIST, HEADER_TEXT_START, HEADER_TEXT_NEXT}) {
      state = {false, phase, header, SEQUENCE_NAME_MAX};
      EXPECT_GE(packDisplayLineState(state), 0);
      EXPECT_EQ(unpackDisplayLineState(packDisplayLineState(state)), state);
    }
  }
  state = {true, HEADER_NONE, KIND_UNKNOWN, 0};
  EXPECT_EQ(unpackDisplayLineState(packDisplayLineState(state)), state);
}

// ---------------------------------------------------------------------------------------------
// The compiler's own reading of a score, for comparison: the editor's line reader, the classifier
// with the block-comment state carried from line to line, parseCommandString() for command
// strings and the header commands reading their tokens over the following lines. Where the
// compiler would stop, it goes on as the highlighter does: an unknown item is stepped over byte
// by byte, a refused command string ends at its first quote or the line's end. A failed header
// command ends the comparison at the line it started on.
struct CompilerReading {
  std::vector<std::string> lines;               // the editor lines, as the host splits them
  std::vector<std::vector<bool>> commentBytes;  // per line: what the classifier skips as comment
  std::vector<bool> inCommentAfter;             // per line: inBlockComment after reading it
  size_t comparableLines = 0;                   // lines before a failed header command
  struct StringRead {
    size_t line;
    int32_t from;  // the opening quote
    int32_t to;    // behind the closing quote, or the line's end
    bool accepted;
  };
  std::vector<StringRead> strings;
};

int32_t lineEndFrom(const CompileSession& s, int32_t at) {
  while (s.lineBuffer[at] != '\r') ++at;
  return at;
}

CompilerReading readLikeTheCompiler(const std::string& source) {
  CompilerReading r;
  MemoryHost host(FLAVOUR_EDITOR, source);
  for (int32_t i = 0; i < host.sourceLineCount(); ++i) r.lines.emplace_back(host.sourceLine(i));
  r.commentBytes.resize(r.lines.size());
  for (size_t i = 0; i < r.lines.size(); ++i) r.commentBytes[i].assign(r.lines[i].size(), false);
  r.inCommentAfter.assign(r.lines.size(), false);
  r.comparableLines = r.lines.size();

  auto session = std::make_unique<CompileSession>();
  CompileSession& s = *session;
  host.prepare(s, false);
  resetSession(s);
  auto area = std::make_unique<uint8_t[]>(WORK_AREA_BYTES);
  s.workArea[0] = area.get();
  s.openChannel = 1;
  auto mark = [&](int32_t from, int32_t to) {
    std::vector<bool>& bytes = r.commentBytes[s.sourceLineIndex - 1];
    for (int32_t at = from; at < to; ++at) bytes[at] = true;
  };
  while (readSourceLine(s) > 0) {
    s.lineCursor = 0;
    for (;;) {
      const bool inComment = s.inBlockComment;
      while (!inComment && (cursorByte(s) == ' ' || cursorByte(s) == '\t')) ++s.lineCursor;
      const int32_t from = s.lineCursor;
      const int32_t kind = classifyLineItem(s);
      const int32_t to = s.lineCursor;
      if (inComment || kind == KIND_COMMENT || kind == KIND_COMMENT_END) mark(from, to);
      if (kind == KIND_END_OF_LINE) {
        if (!inComment && s.inBlockComment) mark(from, to);
        if (!inComment && !s.inBlockComment && to > from && s.lineBuffer[from] == '/') {
          mark(from, lineEndFrom(s, from));
        }
        r.inCommentAfter[s.sourceLineIndex - 1] = s.inBlockComment;
        break;
      }
      if (kind == KIND_COMMAND_STRING) {
        const int32_t end = lineEndFrom(s, to);
        int32_t quote = to;
        while (quote < end && s.lineBuffer[quote] != '"') ++quote;
        s.workLength[0] = 0;
        const bool accepted = parseCommandString(s) == 0;
        // No command reads past a quote: the string ends at the first one behind its opening.
        if (accepted) {
          EXPECT_EQ(s.lineCursor, quote + 1);
        } else {
          EXPECT_LE(s.lineCursor, quote);
        }
        s.lineCursor = quote < end ? quote + 1 : end;
        r.strings.push_back(
            {static_cast<size_t>(s.sourceLineIndex - 1), from, s.lineCursor, accepted});
      } else if (kind == KIND_OP || kind == KIND_CR || kind == KIND_SN) {
        const size_t startLine = static_cast<size_t>(s.sourceLineIndex - 1);
        const int32_t result = kind == KIND_OP   ? runOpCommand(s)
                               : kind == KIND_CR ? runCrCommand(s)
                                                 : runSnCommand(s);
        if (result != 0) {
          r.comparableLines = startLine;
          return r;
        }
      } else if (kind == KIND_UNKNOWN) {
        s.lineCursor = std::max(to, from + 1);
      }
    }
  }
  return r;
}

// Random lines of score pieces, damaged ones and stray bytes, with blanks between them.
std::string randomScore(std::mt19937& random) {
  static const char* const PIECES[] = {
      "ch1",
      "ch9",
      "ch0",
      "ch",
      "{",
      "}",
      "\"l8 cde#f.r4\"",
      "\"{c e g}4 &c\"",
      "\"t120 v12 @5 $64\"",
      "\"o5<c>d q7 n60 e:12\"",
      "\"",
      "\"c\"\"d\"",
      "\"v300 x\"",
      "\"{cx}\"",
      "//",
      "// text",
      "/*",
      "*/",
      "/*/",
      "//*/",
      "/**/",
      "op*/",
      "op(q7def)",
      "op(",
      "q8def",
      ")",
      "op(autolr,",
      "cr(\"(c) me\")",
      "sn(",
      "\"title\"",
      "\"a\"\"\" /* \")",
      "cr(\"x\" \"y\")",
      "sn()",
      "cr",
      "x",
      "*",
      "/",
      "\t",
      "\r",
      "\x82\xa0",
  };
  const size_t pieceCount = sizeof PIECES / sizeof PIECES[0];
  std::string score;
  const int lines = 1 + static_cast<int>(random() % 12);
  for (int n = 0; n < lines; ++n) {
    std::string line;
    if (random() % 8 == 0) {  // a header command over three lines, with comment keywords
      static const char* const RUNS[][3] = {
          {"op(", " q7def , autolr", ") ch1 /* x"},
          {"sn ( ", "\"a /* b\"", "\"//\" ) */ ch2"},
          {"cr(", "", "\"c\"\"\" /* \") //"},
      };
      const auto& run = RUNS[random() % 3];
      score += std::string(run[0]) + "\n" + run[1] + "\n" + run[2];
    }
    if (random() % 40 == 0) line.assign(EDITOR_LINE_MAX - 3 + random() % 6, ' ');
    const int pieces = static_cast<int>(random() % 8);
    for (int p = 0; p < pieces; ++p) {
      const size_t pick = random() % (pieceCount + 2);
      if (pick == pieceCount) {
        line += '\0';
      } else if (pick == pieceCount + 1) {
        line += static_cast<char>(random() % 256);
      } else {
        line += PIECES[pick];
      }
      if (random() % 2 == 0) line += ' ';
    }
    score += line;
    score += '\n';
  }
  return score;
}

}  // namespace

// Random scores: the spans tile every line in order, the comment spans are what the compiler
// skips as comments, the block-comment state after each line is the reader's, and command strings
// show an error exactly where the parser refuses them.
TEST(LineHighlighterProperty, AgreesWithTheCompilersReadingOfRandomScores) {
  std::mt19937 random(20250301);
  LineHighlighter highlighter;
  std::vector<DisplaySpan> spans;
  size_t comparedLines = 0;
  size_t comparedStrings = 0;
  size_t comparedInHeader = 0;
  for (int n = 0; n < 4000; ++n) {
    const CompilerReading reading = readLikeTheCompiler(randomScore(random));
    DisplayLineState state;
    std::vector<std::vector<DisplaySpan>> lineSpans;
    for (size_t i = 0; i < reading.lines.size(); ++i) {
      const std::string& line = reading.lines[i];
      SCOPED_TRACE(testing::Message() << "score " << n << " line " << i + 1 << ": "
                                      << hex(Bytes(line.begin(), line.end())));
      const bool inHeader = state.headerPhase != HEADER_NONE;
      state = highlighter.highlightLine(line, state, spans);
      lineSpans.push_back(spans);
      int32_t at = 0;
      for (size_t k = 0; k < spans.size(); ++k) {
        ASSERT_EQ(spans[k].start, at);
        ASSERT_GT(spans[k].length, 0);
        if (k > 0) {
          ASSERT_NE(spans[k].kind, spans[k - 1].kind);
        }
        at += spans[k].length;
      }
      ASSERT_EQ(at, static_cast<int32_t>(line.size()));
      if (i >= reading.comparableLines) continue;
      std::vector<bool> comment(line.size(), false);
      for (const DisplaySpan& span : spans) {
        const bool isComment = span.kind == SPAN_LINE_COMMENT || span.kind == SPAN_BLOCK_COMMENT;
        for (int32_t b = span.start; b < span.start + span.length; ++b) comment[b] = isComment;
        if (span.start + span.length > EDITOR_LINE_MAX) {
          ASSERT_EQ(span.kind, SPAN_IGNORED);
        }
      }
      ASSERT_EQ(comment, reading.commentBytes[i]);
      ASSERT_EQ(state.inBlockComment, reading.inCommentAfter[i]);
      ++comparedLines;
      if (inHeader) ++comparedInHeader;
    }
    for (const CompilerReading::StringRead& read : reading.strings) {
      if (read.line >= reading.comparableLines) continue;
      bool plain = false;
      for (const DisplaySpan& span : lineSpans[read.line]) {
        if (span.start + span.length <= read.from || span.start >= read.to) continue;
        plain = plain || span.kind == SPAN_PLAIN;
      }
      EXPECT_EQ(plain, !read.accepted) << "score " << n << " line " << read.line + 1 << ": "
                                       << render(reading.lines[read.line], lineSpans[read.line]);
      ++comparedStrings;
    }
  }
  // The scores must exercise the comparison, not end it at their first line.
  EXPECT_GT(comparedLines, 10000u);
  EXPECT_GT(comparedStrings, 3000u);
  EXPECT_GT(comparedInHeader, 100u);
}
