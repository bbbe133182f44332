#include "core/source_lines.h"

#include <gtest/gtest.h>

#include <random>

#include "core/diagnostics.h"
#include "tests/support/line_helpers.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

// Classifies one line item by item until kind 0 or -1 (or a header command), stepping over a
// command string's body as the parser would. Kinds are written one character each, '-' for -1;
// `items` leaves out the steps over single bytes inside a block comment.
struct Classified {
  std::string kinds;
  std::string items;
  int32_t cursor;
  int32_t named;
  bool inComment;
};

using Classifier = int32_t (*)(CompileSession&);

Classified classify(const std::string& text, bool inComment, bool withCr,
                    Classifier classifier = classifyLineItemStep) {
  BareSession b(FLAVOUR_CONSOLE);
  b.setLine(withCr ? text + "\r" : text);
  b.s->inBlockComment = inComment;
  Classified out{"", "", 0, 0, false};
  for (int guard = 0; guard < 4100; ++guard) {
    const bool commentBefore = b.s->inBlockComment;
    const int32_t kind = classifier(*b.s);
    out.kinds += kind < 0 ? '-' : static_cast<char>('0' + kind);
    if (!(commentBefore && kind == KIND_COMMENT)) out.items += out.kinds.back();
    if (kind == KIND_COMMAND_STRING) {
      const size_t close = text.find('"', b.s->lineCursor);
      b.s->lineCursor = static_cast<int32_t>(close == std::string::npos ? text.size() : close + 1);
    }
    if (kind <= 0 || kind >= KIND_OP) break;
  }
  out.cursor = b.s->lineCursor;
  out.named = b.s->namedChannel;
  out.inComment = b.s->inBlockComment;
  return out;
}

struct ClassifyCase {
  const char* text;
  bool inComment;
  bool withCr;
  const char* kinds;
  int32_t cursor;
  int32_t named;
  bool inCommentAfter;
};

}  // namespace

TEST(ClassifyLineItem, KindsCursorAndChannelPerLine) {
  const ClassifyCase cases[] = {
      {"", false, true, "0", 0, 0, false},
      {" \t \t", false, true, "0", 4, 0, false},
      {"ch1{\"cde\"}", false, true, "12340", 10, 1, false},
      {"ch1 {  \"cde\"  }", false, true, "12340", 15, 1, false},
      {"ch9 { } ch2 {", false, true, "124120", 13, 2, false},
      {"ch1ch2", false, true, "110", 6, 2, false},
      {"// ch1 { x", false, true, "0", 2, 0, false},
      {"//* x", false, true, "0", 2, 0, false},
      {"CH1", false, true, "-", 0, 0, false},
      {"Ch1", false, true, "-", 0, 0, false},
      {"Op(q7def)", false, true, "-", 0, 0, false},
      {"SN", false, true, "-", 0, 0, false},
      {"op(x)", false, true, "7", 2, 0, false},
      {"  \tcr(x)", false, true, "8", 5, 0, false},
      {"sn(x)", false, true, "9", 2, 0, false},
      {"ch0", false, true, "-", 2, 0, false},
      {"chA", false, true, "-", 2, 0, false},
      {"ch 1", false, true, "-", 2, 0, false},
      {"ch", false, true, "0", 2, 0, false},
      {"ch1 ch", false, true, "10", 6, 1, false},
      {"ch10", false, true, "1-", 3, 1, false},
      {"ch1\r ch2", false, true, "10", 3, 1, false},
      {"}", false, true, "40", 1, 0, false},
      {"*/", false, true, "60", 2, 0, false},
      {"/* a", false, true, "550", 4, 0, true},
      {"/**/", false, true, "550", 4, 0, true},
      {"/* */", false, true, "560", 5, 0, false},
      {"/*/", false, true, "50", 3, 0, true},
      {"/* \" */ ch2", false, true, "55610", 11, 2, false},
      // Inside a comment a keyword is stepped over and the later keywords are tried behind it.
      {"", true, true, "0", 0, 0, true},
      {"   ", true, true, "0", 3, 0, true},
      {"ab", true, true, "550", 2, 0, true},
      {"ch*/ch3", true, true, "610", 7, 3, false},
      {"//*/ ch4", true, true, "610", 8, 4, false},
      {"/*/ ch5", true, true, "550", 7, 0, true},
      // A keyword after "*/" in the table does not reach back: "op" then "*/" stays open.
      {"op*/ ch7", true, true, "5550", 8, 0, true},
      {"ch//*/", true, true, "550", 6, 0, true},
      {"{*/ ch8", true, true, "610", 7, 8, false},
      // A line stored without a carriage return (ended by byte 26) ends in its NUL.
      {"ch1", false, false, "1-", 3, 1, false},
      {"ab", true, false, "550", 2, 0, true},
  };
  for (const ClassifyCase& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << '"' << c.text << "\" comment=" << c.inComment << " cr=" << c.withCr);
    const Classified got = classify(c.text, c.inComment, c.withCr);
    EXPECT_EQ(got.kinds, c.kinds);
    EXPECT_EQ(got.cursor, c.cursor);
    EXPECT_EQ(got.named, c.named);
    EXPECT_EQ(got.inComment, c.inCommentAfter);
    // The whole classifier crosses a block comment in one call and ends where the steps end.
    const Classified fast = classify(c.text, c.inComment, c.withCr, classifyLineItem);
    EXPECT_EQ(fast.kinds, got.items);
    EXPECT_EQ(fast.cursor, c.cursor);
    EXPECT_EQ(fast.named, c.named);
    EXPECT_EQ(fast.inComment, c.inCommentAfter);
  }
}

// Random lines made of keyword bytes, blanks, NULs and others, inside and outside a block
// comment: crossing the comment in one call must end exactly where the single steps end.
TEST(ClassifyLineItem, BlockCommentFastPathMatchesTheStepsOnRandomLines) {
  static const char ALPHABET[] = "//**chrsnop{}\" \t\0\ra1\x82";
  std::mt19937 random(20240607);
  for (int n = 0; n < 20000; ++n) {
    const size_t length = n % 50 == 0 ? 1990 + random() % 10 : random() % 40;
    std::string text;
    for (size_t i = 0; i < length; ++i) text += ALPHABET[random() % (sizeof ALPHABET - 1)];
    const bool inComment = random() % 4 != 0;
    const bool withCr = random() % 8 != 0;
    const Classified steps = classify(text, inComment, withCr);
    const Classified fast = classify(text, inComment, withCr, classifyLineItem);
    ASSERT_EQ(fast.kinds, steps.items) << hex(Bytes(text.begin(), text.end()));
    ASSERT_EQ(fast.cursor, steps.cursor) << hex(Bytes(text.begin(), text.end()));
    ASSERT_EQ(fast.named, steps.named);
    ASSERT_EQ(fast.inComment, steps.inComment);
  }
}

TEST(ClassifyLineItem, ScanLimitEndsTheLine) {
  // 2000 blanks and no carriage return: the cursor reaches the scan limit, which is the end.
  const Classified got = classify(std::string(2000, ' '), false, false);
  EXPECT_EQ(got.kinds, "0");
  EXPECT_EQ(got.cursor, 2000);
}

TEST(ClassifyLineItem, NulInsideCommentOnALineWithCarriageReturnIsSkipped) {
  // The line has its carriage return, so that is its end; the NUL is one more comment byte.
  const Classified got = classify(std::string("a\0b*/ ch6", 9), true, true);
  EXPECT_EQ(got.kinds, "555610");
  EXPECT_EQ(got.named, 6);
  EXPECT_FALSE(got.inComment);
}

TEST(ChannelBlocks, OpenCloseAndPendingChannel) {
  BareSession b(FLAVOUR_CONSOLE);
  CompileSession& s = *b.s;
  EXPECT_EQ(closeChannelBlock(s), -1);
  EXPECT_EQ(openChannelBlock(s, 3), 0);
  EXPECT_EQ(openChannelBlock(s, 5), -1);
  EXPECT_EQ(s.openChannel, 3);
  EXPECT_EQ(closeChannelBlock(s), 0);
  EXPECT_EQ(s.openChannel, 0);

  // A second "{" while ch1 is open is ignored; the ch2 named meanwhile opens with the next "{".
  EventCompile e(
      "ch1 { \"c\" ch2 { \"d\" }\r\n{ \"e\" }\r\n/* a\r\nb */ ch3 { \"f\" }\r\n"
      "/**/ ch4 { \"g\" }\r\n*/ ch5 { \"a\" }\r\n{ \"b\"\r\n/* open");
  EXPECT_EQ(e.result, 0);
  EXPECT_EQ(hex(e.events(1)), "31 20 33 20");
  EXPECT_EQ(hex(e.events(2)), "35 20");
  EXPECT_EQ(hex(e.events(3)), "36 20");
  EXPECT_EQ(hex(e.events(4)), "");
  EXPECT_EQ(hex(e.events(5)), "3A 20 3C 20");

  EventCompile beforeCh("{ \"v10\" }");
  EXPECT_EQ(beforeCh.result, ERROR_CHANNEL_NOT_OPEN);
}

namespace {

struct ReadResult {
  int32_t length;
  std::string image;  // the buffer up to and including the first NUL at or behind `length`
  int32_t lineNumber;
};

ReadResult readOne(BareSession& b) {
  const int32_t length = readSourceLine(*b.s);
  ReadResult r{length, "", b.s->lineNumber};
  if (length >= 0) {
    size_t end = static_cast<size_t>(length);
    while (b.s->lineBuffer[end] != 0) ++end;
    r.image.assign(reinterpret_cast<const char*>(b.s->lineBuffer), end + 1);
  }
  return r;
}

}  // namespace

TEST(ReadSourceLine, ConsoleLineEndsAndTerminators) {
  using namespace std::string_literals;
  struct Case {
    std::string source;
    std::vector<std::pair<int32_t, std::string>> lines;  // length, image; the last one is 0
  };
  const Case cases[] = {
      {"ab\r\ncd\r\n", {{3, "ab\r\0"s}, {3, "cd\r\0"s}, {0, "\r\0"s}}},
      {"ab\ncd\n", {{3, "ab\r\0"s}, {3, "cd\r\0"s}, {0, "\r\0"s}}},
      {"ab\r\n\r\n\n", {{3, "ab\r\0"s}, {1, "\r\0"s}, {1, "\r\0"s}, {0, "\r\0"s}}},
      {"a\rb\r\n", {{4, "a\rb\r\0"s}, {0, "\r\0"s}}},
      {"a\r\r\n", {{3, "a\r\r\0"s}, {0, "\r\0"s}}},
      {"ab", {{2, "ab\r\0"s}, {0, "\r\0"s}}},
      {"ab\x1A"
       "cd",
       {{2, "ab\0"s}, {2, "cd\r\0"s}, {0, "\r\0"s}}},
      {"\x1A\n", {{0, "\0"s}, {1, "\r\0"s}, {0, "\r\0"s}}},
      {"a\0b\n"s, {{4, "a\0b\r\0"s}, {0, "\r\0"s}}},
      {"", {{0, "\r\0"s}}},
  };
  for (const Case& c : cases) {
    for (int32_t chunk : {1 << 30, 1, 3}) {
      SCOPED_TRACE(testing::Message()
                   << hex(Bytes(c.source.begin(), c.source.end())) << " chunk " << chunk);
      BareSession b(FLAVOUR_CONSOLE, c.source);
      b.host.readChunk = chunk;
      for (size_t i = 0; i < c.lines.size(); ++i) {
        const ReadResult r = readOne(b);
        EXPECT_EQ(r.length, c.lines[i].first) << "line " << i + 1;
        EXPECT_EQ(r.image, c.lines[i].second) << "line " << i + 1;
        EXPECT_EQ(r.lineNumber, static_cast<int32_t>(i + 1));
      }
      EXPECT_TRUE(b.host.messages.empty());
    }
  }
}

TEST(ReadSourceLine, ConsoleLineLengthLimit) {
  struct Case {
    size_t characters;
    const char* end;
    int32_t length;  // -1: refused with "work area over!"
  };
  const Case cases[] = {
      {1998, "\r\n", 1999}, {1999, "\r\n", -1}, {1998, "\n", 1999},   {1999, "\n", -1},
      {1999, "", 1999},     {2000, "", -1},     {1999, "\x1A", 1999}, {2000, "\x1A", -1},
  };
  for (const Case& c : cases) {
    for (int32_t chunk : {1 << 30, 1}) {
      SCOPED_TRACE(testing::Message()
                   << c.characters << " + " << std::strlen(c.end) << " end bytes, chunk " << chunk);
      BareSession b(FLAVOUR_CONSOLE, std::string(c.characters, 'x') + c.end);
      b.host.readChunk = chunk;
      EXPECT_EQ(readSourceLine(*b.s), c.length);
      EXPECT_EQ(b.host.messages, c.length < 0 ? std::vector<std::string>{"work area over!\n"}
                                              : std::vector<std::string>{});
      if (c.length > 0) {
        EXPECT_EQ(b.s->lineBuffer[c.characters], c.end[0] == 26 ? 0 : '\r');
      }
    }
  }
}

TEST(ReadSourceLine, ConsoleLineCountLimit) {
  // 999999 lines end in a line end, so the read behind the last one is line 1000000.
  BareSession b(FLAVOUR_CONSOLE, rep(999999, "\r\n"));
  int32_t ones = 0;
  while (readSourceLine(*b.s) == 1) ++ones;
  EXPECT_EQ(ones, 999999);
  EXPECT_EQ(b.host.messages, std::vector<std::string>{"**** line over(MAX:999999 line) ****\n"
                                                      "**** compile stopped. ****\n"});

  // In a compilation the limit stops it, as the message says: nothing is kept.
  MemoryCompile c(FLAVOUR_CONSOLE,
                  rep(999998, "\r\n") + "ch1{\"c\"}\r\n" + "ch2{\"d\"}\r\n" + "ch3{\"e\"}\r\n");
  EXPECT_EQ(c.run(), ERROR_FAILED);
  EXPECT_EQ(printed(c.host),
            "**** line over(MAX:999999 line) ****\n**** compile stopped. ****\n"
            "compile stopped!\n");
  EXPECT_FALSE(c.host.outputKept);
}

TEST(ReadSourceLine, EditorLinesAndLongLineWarning) {
  const std::string source =
      "ab\r\n\r\n" + std::string(1998, 'x') + "\r\n" + std::string(1999, 'y') + "\r\ncd";
  BareSession b(FLAVOUR_EDITOR, source);
  const std::pair<int32_t, std::string> expected[] = {
      {3, std::string("ab\r\0", 4)},
      {1, std::string("\r\0", 2)},
      {1999, std::string(1998, 'x') + std::string("\r\0", 2)},
      {1999, std::string(1998, 'y') + std::string("\r\0", 2)},
      {3, std::string("cd\r\0", 4)},
      {0, std::string("\0", 1)},
      {0, std::string("\0", 1)},
  };
  for (size_t i = 0; i < std::size(expected); ++i) {
    const ReadResult r = readOne(b);
    EXPECT_EQ(r.length, expected[i].first) << "read " << i + 1;
    EXPECT_EQ(r.image, expected[i].second) << "read " << i + 1;
    EXPECT_EQ(r.lineNumber, static_cast<int32_t>(i + 1));
    EXPECT_EQ(b.s->sourceLineIndex, static_cast<int32_t>(i + 1));
    if (i == 2) {
      EXPECT_TRUE(b.host.messages.empty());
    }
  }
  EXPECT_EQ(b.host.messages, std::vector<std::string>{" [警告] line (00004) : １行 2000 Byte以内"});

  // The warning shows the number the line is about to get, in five digits.
  BareSession far(FLAVOUR_EDITOR, std::string(2500, ' '));
  far.s->lineNumber = 123455;
  EXPECT_EQ(readSourceLine(*far.s), 1999);
  EXPECT_EQ(far.host.messages,
            std::vector<std::string>{" [警告] line (23456) : １行 2000 Byte以内"});
}

TEST(ConsoleCompile, LineEndsAndLimitsInTheDriver) {
  const std::string ch1 = " -> ch1  size(2 byte)  Track Tick (480)\n";
  const std::string ch2 = " -> ch2  size(2 byte)  Track Tick (480)\n";
  const std::string done = " ** complete! **\n";
  const std::string decipher = "\nIt isn't possible to decipher.\ncompile stopped!\n";
  struct Case {
    std::string source;
    int32_t result;
    std::string out;
  };
  const Case cases[] = {
      {"", 0, done},
      {"\r\n\r\n", 0, done},
      {"\n\n \n", 0, done},
      {"ch1{\"c\"}\n\nch2{\"d\"}", 0, ch1 + ch2 + done},
      {"ch1{\"c\"}\r\n\x1A"
       "ch2{\"d\"}\r\n",
       0, ch1 + done},
      {"ch1{\"c\"}\x1A", 1, "line (1) : ch1{\"c\"}\n" + decipher},
      {"/* a\x1A"
       "b */ ch1{\"c\"}\r\n",
       0, ch1 + done},
      {"ch1{\"c\"}\r ch2{\"d\"}\r\n", 0, ch1 + done},
      {"ch1{\"c\"}\r\n" + std::string(1999, ' ') + "\r\nch2{\"d\"}\r\n", ERROR_FAILED,
       "work area over!\ncompile stopped!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(
        hex(Bytes(c.source.begin(), c.source.begin() + std::min<size_t>(40, c.source.size()))));
    MemoryCompile m(FLAVOUR_CONSOLE, c.source);
    EXPECT_EQ(m.run(), c.result);
    EXPECT_EQ(printed(m.host), c.out);
    EXPECT_EQ(m.host.outputKept, c.result == 0);
    if (c.out == done) {
      EXPECT_TRUE(m.host.kept.empty());  // an empty score gives an empty file
    }
  }
}

TEST(ConsoleCompile, LfOnlySourceMatchesItsCrLfTwin) {
  const std::string scores[] = {
      "// twin\r\ncr(\r\n\"Copy\" \"right\")\r\nsn( \"Song\" )\r\n\r\nop(q7def,\r\nautolr)\r\n"
      "ch1 { \"t120 o4 l8 cdef\" }\r\n/* block\r\ncomment */ ch2 {\r\n\"v12 @5 {cde}4 r4\"\r\n"
      "}\r\n\r\nch3 { \"g2\" }",
      "ch1 {\r\n\"cde\"\r\n\r\n\"g2 x\" }\r\n",
  };
  for (const std::string& crlf : scores) {
    std::string lf;
    for (size_t i = 0; i < crlf.size(); ++i) {
      if (!(crlf[i] == '\r' && i + 1 < crlf.size() && crlf[i + 1] == '\n')) lf += crlf[i];
    }
    MemoryCompile a(FLAVOUR_CONSOLE, crlf);
    MemoryCompile b(FLAVOUR_CONSOLE, lf);
    const int32_t result = a.run();
    EXPECT_EQ(b.run(), result);
    EXPECT_EQ(b.host.transcript, a.host.transcript);
    EXPECT_EQ(b.host.output.bytes(), a.host.output.bytes());
    EXPECT_EQ(b.host.kept, a.host.kept);
  }
  // The twins above are a success and a failure, not two alike failures.
  MemoryCompile good(FLAVOUR_CONSOLE, scores[0]);
  EXPECT_EQ(good.run(), 0);
  EXPECT_FALSE(good.host.kept.empty());
  MemoryCompile bad(FLAVOUR_CONSOLE, scores[1]);
  EXPECT_EQ(bad.run(), ERROR_UNKNOWN_COMMAND);
  EXPECT_EQ(printed(bad.host),
            "line (4) : \"g2 x\" }\r\n\nIt isn't possible to decipher.\ncompile stopped!\n");
}
