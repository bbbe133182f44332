#include "core/diagnostics.h"

#include <gtest/gtest.h>

#include <climits>

#include "tests/support/line_helpers.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

using Lines = std::vector<std::string>;

std::string reported(Flavour flavour, int32_t code) {
  BareSession b(flavour);
  reportError(*b.s, code);
  EXPECT_EQ(b.host.messages.size(), 1u);
  return b.host.messages.empty() ? "" : b.host.messages[0];
}

}  // namespace

// The texts are the programs' promised output, written out here rather than read from the
// table, so that a changed byte in the table fails.
TEST(Diagnostics, EveryCodeTextInBothFlavours) {
  const struct {
    int32_t code;
    const char* editor;
    const char* console;
  } texts[] = {
      {1, "解読できない命令があります", "\nIt isn't possible to decipher.\n"},
      {10, "& は連続で並べられません", "\n&  can not continuation\n"},
      {11, "& を単独では利用できません", "\n&  single\n"},
      {12, "命令 N? の範囲は 0～96", "\ncode 'N?' (0 to 96)\n"},
      {13, "命令 O? の範囲は 0～7", "\ncode 'O?' (0 to 7)\n"},
      {14, "命令 L? で不可数値を使用", "\ncode 'L?' value error\n"},
      {15, "命令 @? の範囲は 0～127", "\ncode '@?' (0 to 127)\n"},
      {16, "命令 V? の範囲は 0～16", "\ncode 'V?' (0 to 16)\n"},
      {17, "命令 T? の範囲は 10～250", "\ncode 'T?' (10 to 250)\n"},
      {18, "命令 :  の範囲は 1～255", "\ncode ':'  (1 to 255)\n"},
      {19, "命令 Q? の範囲は 1～8", "\ncode 'Q?' (1 to 8)\n"},
      {20, "命令 {} 連符指定に誤りがある", "\ncode {} error\n"},
      {21, "命令 $? の範囲は 0～127", "\ncode '$?' (0 to 127)\n"},
      {22, "op は ')'で終わる必要があります", "\nop ')' not found\n"},
      {23, "op で 該当する制御命令はありません", "\nop :: command not found\n"},
      {24, "cr は ')'で終わる必要があります", "\ncr ')' not found\n"},
      {25, "文字列は63Byteまで(超過違反)", "\n string > 63 Byte (over flow)\n"},
      {26, "sn は ')'で終わる必要があります", "\nsn ')' not found\n"},
      {27, "文字列は127Byteまで(超過違反)", "\n string > 127 Byte(over flow)\n"},
      {999, "ch をオープンしていません", "\nch  not open\n"},
  };
  for (const auto& t : texts) {
    SCOPED_TRACE(t.code);
    EXPECT_EQ(reported(FLAVOUR_CONSOLE, t.code), t.console);
    EXPECT_EQ(reported(FLAVOUR_EDITOR, t.code), std::string(" *** ") + t.editor + " *** ");
  }
  for (int32_t other : {-1, 2, 9, 28, 998, 1000, -999, INT32_MIN, INT32_MAX}) {
    SCOPED_TRACE(other);
    EXPECT_EQ(reported(FLAVOUR_CONSOLE, other), "\n other error\n");
    EXPECT_EQ(reported(FLAVOUR_EDITOR, other), " *** その他のエラー発生 *** ");
  }
}

TEST(Diagnostics, FormatLineNumberKeepsFiveDigits) {
  const std::pair<int32_t, const char*> cases[] = {
      {0, "00000"},       {1, "00001"},         {7, "00007"},      {12345, "12345"},
      {99999, "99999"},   {100000, "00000"},    {123456, "23456"}, {999999, "99999"},
      {1000007, "00007"}, {INT32_MAX, "83647"},
  };
  for (const auto& [n, text] : cases) EXPECT_EQ(formatLineNumber(n), text) << n;
}

TEST(Diagnostics, FailingLineReportShapes) {
  using namespace std::string_literals;
  struct Case {
    Flavour flavour;
    int32_t lineNumber;
    std::string line;  // buffer bytes before the NUL
    int32_t cursor;
    Lines expected;
  };
  const std::string pad(20, ' ');
  const Case cases[] = {
      {FLAVOUR_CONSOLE, 7, "x\r", 0, {"line (7) : x\r\n"}},
      {FLAVOUR_CONSOLE, 123456, "ab\r", 1, {"line (123456) : ab\r\n"}},
      {FLAVOUR_CONSOLE, 3, "ab", 2, {"line (3) : ab\n"}},
      {FLAVOUR_EDITOR, 7, "x\r", 0, {"ERR -> line [00007]:x", pad + "?"}},
      {FLAVOUR_EDITOR, 100000, "ab\r", 1, {"ERR -> line [00000]:ab", pad + " ?"}},
      {FLAVOUR_EDITOR, 123456, "abcdef\r", 5, {"ERR -> line [23456]:abcdef", pad + "     ?"}},
      {FLAVOUR_EDITOR, 1, "ab", 2, {"ERR -> line [00001]:ab", pad + "  ?"}},
      // The pointer counts bytes: the double-byte character takes two columns.
      {FLAVOUR_EDITOR, 12, "\x82\xa0x\r", 2, {"ERR -> line [00012]:あx", pad + "  ?"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.flavour << " line " << c.lineNumber);
    BareSession b(c.flavour);
    b.setLine(c.line);
    b.s->lineNumber = c.lineNumber;
    b.s->lineCursor = c.cursor;
    reportFailingLine(*b.s);
    EXPECT_EQ(b.host.messages, c.expected);
  }
}

TEST(Diagnostics, ReportsInACompilation) {
  const std::string line12 = "ch1 { \"c d v20 e\" }";
  MemoryCompile editor(FLAVOUR_EDITOR, rep(11, "\r\n") + line12 + "\r\n");
  EXPECT_EQ(editor.run(), ERROR_VELOCITY);
  EXPECT_EQ(editor.host.messages,
            (Lines{"ERR -> line [00012]:" + line12, std::string(34, ' ') + "?",
                   " *** 命令 V? の範囲は 0～16 *** "}));
  EXPECT_EQ(editor.host.alerts, Lines{"compile stopped!"});
  EXPECT_FALSE(editor.host.outputOpened);

  MemoryCompile console(FLAVOUR_CONSOLE, rep(11, "\r\n") + line12 + "\r\n");
  EXPECT_EQ(console.run(), ERROR_VELOCITY);
  EXPECT_EQ(printed(console.host),
            "line (12) : " + line12 + "\r\n\ncode 'V?' (0 to 16)\n" + "compile stopped!\n");
  EXPECT_FALSE(console.host.outputOpened);

  // Column 1, and "?" under the byte after "ch".
  const std::pair<std::string, std::string> pointers[] = {
      {"x", std::string(20, ' ') + "?"},
      {"ch0 {", std::string(22, ' ') + "?"},
      {"  chA", std::string(24, ' ') + "?"},
      {"/*\x82\xa0*/ x", std::string(27, ' ') + "?"},
  };
  for (const auto& [source, pointer] : pointers) {
    MemoryCompile m(FLAVOUR_EDITOR, source);
    EXPECT_EQ(m.run(), ERROR_UNKNOWN_COMMAND);
    ASSERT_EQ(m.host.messages.size(), 3u) << source;
    EXPECT_EQ(m.host.messages[1], pointer) << source;
    EXPECT_EQ(m.host.messages[2], " *** 解読できない命令があります *** ");
  }
}

// A host that shows quoted score bytes its own way, and counts how often it was asked.
class MarkingHost : public MemoryHost {
 public:
  using MemoryHost::MemoryHost;
  std::string displayText(std::string_view bytes) override {
    ++displayCalls;
    return "<" + std::string(bytes) + ">";
  }
  int32_t displayCalls = 0;
};

int32_t compileWith(MemoryHost& host) {
  CompileSession session;
  host.attach(session);
  host.prepare(session, false);
  return compileSource(session);
}

// The editor's host decides how quoted score bytes read (its score may be UTF-8); the console
// prints them as they are and never asks.
TEST(Diagnostics, QuotedScoreBytesComeFromTheEditorHost) {
  const std::string score =
      "cr(\"\xE8\x91\x97\")\r\nsn(\"\xE6\x9B\xB2\")\r\nch1 { \"c\" } \xE3\x81\x82\r\n";
  MarkingHost editor(FLAVOUR_EDITOR, score);
  EXPECT_EQ(compileWith(editor), ERROR_UNKNOWN_COMMAND);
  EXPECT_EQ(editor.messages,
            (Lines{" [著作情報]:\"<\xE8\x91\x97>\" (3 byte)",
                   " [シーケンス名]:\"<\xE6\x9B\xB2>\" (3 byte)",
                   "ERR -> line [00003]:<ch1 { \"c\" } \xE3\x81\x82>", std::string(32, ' ') + "?",
                   " *** 解読できない命令があります *** "}));
  EXPECT_EQ(editor.displayCalls, 3);

  MarkingHost console(FLAVOUR_CONSOLE, score);
  EXPECT_EQ(compileWith(console), ERROR_UNKNOWN_COMMAND);
  EXPECT_EQ(printed(console),
            " [copyright]:\"\xE8\x91\x97\" (3 byte)\n [sname]:\"\xE6\x9B\xB2\" (3 byte)\n"
            "line (3) : ch1 { \"c\" } \xE3\x81\x82\r\n\nIt isn't possible to decipher.\n"
            "compile stopped!\n");
  EXPECT_EQ(console.displayCalls, 0);
}

// The failure the host is handed names the failing command from its first byte to the pointer,
// and the line by its index, in both flavours, for every kind of item that can fail.
TEST(Diagnostics, StructuredFailureNamesTheFailingCommand) {
  const struct {
    std::string line;
    int32_t code;
    int32_t commandStart;
    int32_t pointer;
  } cases[] = {
      {"ch1 { \"c d v99 e\" }", ERROR_VELOCITY, 11, 14},
      {"ch1 { \"c {ceg}x\" }", ERROR_UNKNOWN_COMMAND, 14, 14},
      {"ch1 { \"c {ce\" }", ERROR_TUPLET, 9, 12},
      {"ch1 { \"o9\" }", ERROR_OCTAVE, 7, 8},
      {"  op(nothing)", ERROR_OP_KEYWORD, 2, 12},
      {"  zz", ERROR_UNKNOWN_COMMAND, 2, 2},
  };
  for (const auto& c : cases) {
    for (Flavour flavour : {FLAVOUR_EDITOR, FLAVOUR_CONSOLE}) {
      SCOPED_TRACE(testing::Message() << c.line << " flavour " << flavour);
      MemoryCompile m(flavour, rep(100002, "\r\n") + c.line + "\r\n");
      EXPECT_EQ(m.run(), c.code);
      ASSERT_EQ(m.host.diagnostics.size(), 1u);
      const Diagnostic& f = m.host.diagnostics[0];
      EXPECT_EQ(f.kind, DiagnosticKind::ERROR);
      EXPECT_EQ(f.code, c.code);
      EXPECT_EQ(f.line, 100002);
      EXPECT_EQ(f.lineNumber, 100003);
      EXPECT_EQ(f.commandStart, c.commandStart);
      EXPECT_EQ(f.commandEnd, std::max(c.pointer, c.commandStart + 1));
      EXPECT_EQ(f.pointer, c.pointer);
      // The code's text without the frame of its report.
      const std::string words = diagnosticText(f, flavour);
      EXPECT_EQ(flavour == FLAVOUR_EDITOR ? words : "\n" + words + "\n",
                errorText(c.code, flavour));
    }
  }
  MemoryCompile clean(FLAVOUR_EDITOR, "ch1 { \"c\" }\r\n");
  EXPECT_EQ(clean.run(), 0);
  EXPECT_TRUE(clean.host.diagnostics.empty());
}

// In the editor the pointer stands under its character as the pane's fixed-pitch font shows
// it: a host whose score is UTF-8 counts the bytes before it as code page 932 would.
class WideColumnsHost : public MemoryHost {
 public:
  using MemoryHost::MemoryHost;
  int32_t displayColumns(std::string_view bytes) override {
    int32_t columns = 0;
    for (unsigned char byte : bytes) columns += byte < 0x80 ? 1 : (byte >= 0xC0 ? 2 : 0);
    return columns;
  }
};

TEST(Diagnostics, PointerColumnsComeFromTheEditorHost) {
  WideColumnsHost editor(FLAVOUR_EDITOR, "/*\xE6\x9B\xB2*/ ch1 { \"v99\" }\r\n");
  EXPECT_EQ(compileWith(editor), ERROR_VELOCITY);
  ASSERT_GE(editor.messages.size(), 2u);
  EXPECT_EQ(editor.messages[1], std::string(20 + 17, ' ') + "?");
}

TEST(Diagnostics, FiveDigitLineNumbersInACompilation) {
  MemoryCompile far(FLAVOUR_EDITOR, rep(123455, "\r\n") + "x");
  EXPECT_EQ(far.run(), ERROR_UNKNOWN_COMMAND);
  ASSERT_FALSE(far.host.messages.empty());
  EXPECT_EQ(far.host.messages[0], "ERR -> line [23456]:x");

  MemoryCompile wrap(FLAVOUR_EDITOR, rep(99999, "\r\n") + "x");
  EXPECT_EQ(wrap.run(), ERROR_UNKNOWN_COMMAND);
  ASSERT_FALSE(wrap.host.messages.empty());
  EXPECT_EQ(wrap.host.messages[0], "ERR -> line [00000]:x");

  MemoryCompile console(FLAVOUR_CONSOLE, rep(123455, "\n") + "x\n");
  EXPECT_EQ(console.run(), ERROR_UNKNOWN_COMMAND);
  EXPECT_EQ(printed(console.host),
            "line (123456) : x\r\n\nIt isn't possible to decipher.\ncompile stopped!\n");
}

TEST(Diagnostics, WriterCodeIsReportedWithoutALine) {
  MemoryCompile console(FLAVOUR_CONSOLE, "ch1 { \"&\" }\r\n");
  EXPECT_EQ(console.run(), 1);
  EXPECT_EQ(printed(console.host), "[error] &  single(ch1)\n&  single\n");
  EXPECT_FALSE(console.host.outputKept);

  MemoryCompile editor(FLAVOUR_EDITOR, "ch1 { \"&\" }\r\n");
  EXPECT_EQ(editor.run(), 1);
  EXPECT_EQ(editor.host.messages,
            (Lines{"[エラー] & 記号が単独で存在(ch1)", " *** & を単独では利用できません *** "}));
  EXPECT_EQ(editor.host.alerts, Lines{"compile stopped!"});
}

TEST(Diagnostics, BinaryGarbageGivesCodeOneAndNoCrash) {
  using namespace std::string_literals;
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  std::string high;
  for (int i = 128; i < 256; ++i) high += static_cast<char>(i);
  const std::string decipher = "\nIt isn't possible to decipher.\ncompile stopped!\n";
  const std::pair<std::string, std::string> cases[] = {
      {"\0"s, "line (1) : \n" + decipher},
      {"\0\0\0\r\n"s, "line (1) : \n" + decipher},
      {all, "line (1) : \n" + decipher},
      {high, "line (1) : " + high + "\r\n" + decipher},
      {"\x80\xff\r\n", "line (1) : \x80\xff\r\n" + decipher},
      {"ch1 { \"c\x80\" }\r\n", "line (1) : ch1 { \"c\x80\" }\r\n" + decipher},
      {"ch1 { \"c\0d\" }\r\n"s, "line (1) : ch1 { \"c\n" + decipher},
      {"// \x82\xa0\xff\0 x\r\n/* \x90\xfe\xff */ ch1 { \"c\" }\r\n"s,
       " -> ch1  size(2 byte)  Track Tick (480)\n ** complete! **\n"},
  };
  for (const auto& [source, out] : cases) {
    SCOPED_TRACE(hex(Bytes(source.begin(), source.begin() + std::min<size_t>(24, source.size()))));
    MemoryCompile m(FLAVOUR_CONSOLE, source);
    EXPECT_EQ(m.run(), out.find("decipher") == std::string::npos ? 0 : 1);
    EXPECT_EQ(printed(m.host), out);
  }
  for (const std::string& source : {all, high, "\x82\xa0"s, "\xff\xfe\x81"s}) {
    MemoryCompile m(FLAVOUR_EDITOR, source);
    EXPECT_EQ(m.run(), ERROR_UNKNOWN_COMMAND);
    ASSERT_EQ(m.host.messages.size(), 3u);
    EXPECT_EQ(m.host.messages[0].rfind("ERR -> line [00001]:", 0), 0u);
    EXPECT_EQ(m.host.messages[1], std::string(20, ' ') + "?");
  }
  MemoryCompile kana(FLAVOUR_EDITOR, "\x82\xa0");
  kana.run();
  EXPECT_EQ(kana.host.messages[0], "ERR -> line [00001]:あ");
}
