#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

constexpr int UNCHECKED = -1;

std::vector<std::string> messagesStartingWith(const MemoryHost& host,
                                              std::initializer_list<std::string> prefixes) {
  std::vector<std::string> found;
  for (const std::string& m : host.messages) {
    for (const std::string& p : prefixes) {
      if (m.rfind(p, 0) == 0) {
        found.push_back(m);
        break;
      }
    }
  }
  return found;
}

std::string pattern(size_t n) {
  std::string text;
  for (size_t i = 0; i < n; ++i) text += static_cast<char>('A' + i % 26);
  return text;
}

std::string crEcho(const std::string& text) {
  return " [copyright]:\"" + text + "\" (" + std::to_string(text.size()) + " byte)\n";
}
std::string snEcho(const std::string& text) {
  return " [sname]:\"" + text + "\" (" + std::to_string(text.size()) + " byte)\n";
}

TEST(OpCommand, KeywordsListsAndErrors) {
  struct Case {
    std::string source;
    int32_t result;
    std::vector<std::string> applied;
    bool q7Default, autoPan;
    std::vector<bool> autoPanCalls;
    int column;  // failures: cursor where the command stopped
  };
  const Case cases[] = {
      {"op(q7def)", 0, {"q7def"}, true, false, {}, UNCHECKED},
      {"op(Q7DEF)", 0, {"q7def"}, true, false, {}, UNCHECKED},
      {"op(q7def,autolr)", 0, {"q7def", "autolr"}, true, true, {true}, UNCHECKED},
      {"op( q7def \tAutoLR )", 0, {"q7def", "autolr"}, true, true, {true}, UNCHECKED},
      {"op(autolr,,manulr)", 0, {"autolr", "manulr"}, false, false, {true, false}, UNCHECKED},
      {"op(\r\n  q7def\r\n,\r\n\tMANULR\r\n)\r\n",
       0,
       {"q7def", "manulr"},
       true,
       false,
       {false},
       UNCHECKED},
      {"op\r\n(\r\nq8def)", 0, {"q8def"}, false, false, {}, UNCHECKED},
      {"op(q7def)op(q8def)", 0, {"q7def", "q8def"}, false, false, {}, UNCHECKED},
      {"op()", 0, {}, false, false, {}, UNCHECKED},
      {"op(,)", 0, {}, false, false, {}, UNCHECKED},
      {"op(q7def  \x1a  manulr)", 0, {"q7def", "manulr"}, true, false, {false}, UNCHECKED},
      {"op(q7def autolr bogus)", 23, {"q7def", "autolr"}, true, true, {true}, 21},
      {"op(q7de)", 23, {}, false, false, {}, 7},
      {"op(q7def(", 23, {}, false, false, {}, 9},
      {"op(q7defq7defq7defq7def)", 23, {}, false, false, {}, 23},
      {"op q7def", -1, {}, false, false, {}, 8},
      {"op\r\n", -1, {}, false, false, {}, UNCHECKED},
      {"op(q7def\r\n\r\n", 22, {"q7def"}, true, false, {}, UNCHECKED},
      {"op(", 22, {}, false, false, {}, UNCHECKED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    MemoryCompile compile(FLAVOUR_CONSOLE, c.source);
    EXPECT_EQ(compile.run(), c.result);
    std::vector<std::string> echoes;
    for (const std::string& k : c.applied) echoes.push_back(" [option]:" + k + " ON\n");
    EXPECT_EQ(messagesStartingWith(compile.host, {" [option]:"}), echoes);
    EXPECT_EQ(compile.session.q7Default, c.q7Default);
    EXPECT_EQ(compile.session.autoPan, c.autoPan);
    EXPECT_EQ(compile.host.autoPanCalls, c.autoPanCalls);
    if (c.column != UNCHECKED) {
      EXPECT_EQ(compile.session.lineCursor, c.column);
    }
  }
}

// Between header tokens a NUL ends the line like a carriage return: the rest is skipped.
TEST(HeaderTokens, NulEndsTheLineBetweenTokens) {
  using namespace std::string_literals;
  MemoryCompile op(FLAVOUR_CONSOLE, "op(q7def\0autolr\r\nmanulr)"s);
  EXPECT_EQ(op.run(), 0);
  EXPECT_EQ(messagesStartingWith(op.host, {" [option]:"}),
            (std::vector<std::string>{" [option]:q7def ON\n", " [option]:manulr ON\n"}));
  EXPECT_EQ(op.host.autoPanCalls, std::vector<bool>{false});

  MemoryCompile cr(FLAVOUR_CONSOLE, "cr(\0\"xyz\"\r\n\"abc\")"s);
  EXPECT_EQ(cr.run(), 0);
  EXPECT_EQ(messagesStartingWith(cr.host, {" [copyright]:"}),
            std::vector<std::string>{crEcho("abc")});
}

// The default gate shows in a short note's note-off delta: c16 is 120 ticks, note 72 (48h).
TEST(OpCommand, DefaultGateReachesEveryChannelAndPersists) {
  const std::string full = "48 4F 78 48 00 00";   // gate 7: sounds all 120 ticks
  const std::string seven = "48 4F 69 48 00 0F";  // gate 6: 105 on, 15 off
  struct Case {
    bool q7Before;
    std::string source;
    std::string noteBytes;
    bool q7After;
  };
  const Case cases[] = {
      {false, "ch1{\"c16\"}ch9{\"c16\"}", full, false},
      {false, "ch1{\"c16\"}ch9{\"c16\"}\r\nop(q7def)", seven, true},
      {true, "ch1{\"c16\"}ch9{\"c16\"}", seven, true},
      {true, "op(q8def)\r\nch1{\"c16\"}ch9{\"c16\"}", full, false},
      {false, "op(q8def q7def)ch1{\"c16\"}ch9{\"c16\"}", seven, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    MemoryCompile compile(FLAVOUR_EDITOR, c.source);
    compile.session.q7Default = c.q7Before;
    ASSERT_EQ(compile.run(), 0);
    const std::string midi = hex(compile.host.kept);
    const size_t first = midi.find(c.noteBytes);
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(midi.find(c.noteBytes, first + 1), std::string::npos);  // both channels
    EXPECT_EQ(compile.session.q7Default, c.q7After);
    for (int32_t gate : compile.session.gate) EXPECT_EQ(gate, c.q7After ? 6 : 7);
  }
}

TEST(TextCommands, CollectJoinAndFail) {
  const std::string t63 = pattern(63), t64 = pattern(64), t127 = pattern(127), t128 = pattern(128);
  struct Case {
    std::string source;
    int32_t result;
    bool sn;
    bool present;
    std::string text;  // kept text when the result is 0
    std::vector<std::string> echoes;
    int line, column;  // where a failure stopped
  };
  const Case cases[] = {
      {"cr(\"abc\")", 0, false, true, "abc", {crEcho("abc")}, UNCHECKED, UNCHECKED},
      {"cr ( \"abc\" )", 0, false, true, "abc", {crEcho("abc")}, UNCHECKED, UNCHECKED},
      {"cr(\"" + t63 + "\")", 0, false, true, t63, {crEcho(t63)}, UNCHECKED, UNCHECKED},
      {"cr(\"" + t64 + "\")", 25, false, false, "", {" [copyright]:\"" + t64 + "<- MAX\n"}, 1, 68},
      {"cr(\"first\")cr(\"second\")",
       0,
       false,
       true,
       "second",
       {crEcho("first"), crEcho("second")},
       UNCHECKED,
       UNCHECKED},
      {"cr(\"ab\" \"cd\")", 0, false, true, "abcd", {crEcho("abcd")}, UNCHECKED, UNCHECKED},
      {"cr(\"abc\"\r\n  \"def\"\r\n)",
       0,
       false,
       true,
       "abcdef",
       {crEcho("abcdef")},
       UNCHECKED,
       UNCHECKED},
      {"cr(\"ab\" \"\"\")", 0, false, true, "ab\"", {crEcho("ab\"")}, UNCHECKED, UNCHECKED},
      {"cr()", 0, false, false, "", {}, UNCHECKED, UNCHECKED},
      {"cr(\"\")", 0, false, false, "", {}, UNCHECKED, UNCHECKED},
      {"cr(\"abc\")cr(\"\")", 0, false, true, "", {crEcho("abc")}, UNCHECKED, UNCHECKED},
      {"cr(\"abc\r\n\")", -1, false, false, "", {}, 1, 7},
      {"cr(\"abc\x1a\")", -1, false, false, "", {}, 1, 7},
      {"cr(\"ab\" \"\r\n", -1, false, false, "", {}, 1, 9},
      {"cr(\"ab\"\r\n\"cd\" x)", -1, false, false, "", {}, 2, 6},
      {"cr(\"" + t64.substr(0, 40) + "\"\r\n\"" + t64.substr(40) + "\")",
       25,
       false,
       false,
       "",
       {" [copyright]:\"" + t64 + "<- MAX\n"},
       2,
       25},
      {"cr \"abc\"", -1, false, false, "", {}, 1, 4},
      {"cr(abc)", -1, false, false, "", {}, 1, 6},
      {"cr(\"abc\" x)", -1, false, false, "", {}, UNCHECKED, UNCHECKED},
      {"cr(", -1, false, false, "", {}, UNCHECKED, UNCHECKED},
      {"cr(\"abc\"", 24, false, false, "", {}, UNCHECKED, UNCHECKED},
      {"sn(\"abc\")", 0, true, true, "abc", {snEcho("abc")}, UNCHECKED, UNCHECKED},
      {"sn(\"" + t127 + "\")", 0, true, true, t127, {snEcho(t127)}, UNCHECKED, UNCHECKED},
      {"sn(\"" + t128 + "\")", 27, true, false, "", {"[sname]:\"" + t128 + "<- MAX\n"}, 1, 132},
      {"sn(\"ab\"\r\n\"cd\")", 0, true, true, "abcd", {snEcho("abcd")}, UNCHECKED, UNCHECKED},
      {"sn(\"abc\"\r\n", 26, true, false, "", {}, UNCHECKED, UNCHECKED},
      {"sn(\"abc\r\n\")", -1, true, false, "", {}, 1, 7},
      {"sn()", 0, true, false, "", {}, UNCHECKED, UNCHECKED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    MemoryCompile compile(FLAVOUR_CONSOLE, c.source);
    EXPECT_EQ(compile.run(), c.result);
    const CompileSession& s = compile.session;
    EXPECT_EQ(messagesStartingWith(compile.host, {" [copyright]:", " [sname]:", "[sname]:"}),
              c.echoes);
    EXPECT_EQ(c.sn ? s.hasSequenceName : s.hasCopyright, c.present);
    EXPECT_FALSE(c.sn ? s.hasCopyright : s.hasSequenceName);
    if (c.result == 0) {
      const uint8_t* text = c.sn ? s.sequenceNameText : s.copyrightText;
      const int32_t length = c.sn ? s.sequenceNameLength : s.copyrightLength;
      ASSERT_EQ(length, static_cast<int32_t>(c.text.size()));
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(text), length), c.text);
    }
    if (c.line != UNCHECKED) {
      EXPECT_EQ(s.lineNumber, c.line);
    }
    if (c.column != UNCHECKED) {
      EXPECT_EQ(s.lineCursor, c.column);
    }
  }
}

TEST(TextCommands, EchoLinesInBothFlavours) {
  const std::string t64 = pattern(64), t128 = pattern(128);
  const std::string sjis = "\x82\xa0\x93\xfa";  // code page 932 for "あ日"
  struct Case {
    Flavour flavour;
    std::string source;
    std::string echo;
  };
  const Case cases[] = {
      {FLAVOUR_CONSOLE, "op(q7def)", " [option]:q7def ON\n"},
      {FLAVOUR_EDITOR, "op(Q7def)", " [制御命令]:q7defに設定"},
      {FLAVOUR_EDITOR, "op(manulr)", " [制御命令]:manulrに設定"},
      {FLAVOUR_CONSOLE, "cr(\"ab c\")", " [copyright]:\"ab c\" (4 byte)\n"},
      {FLAVOUR_EDITOR, "cr(\"ab c\")", " [著作情報]:\"ab c\" (4 byte)"},
      {FLAVOUR_CONSOLE, "cr(\"" + t64 + "\")", " [copyright]:\"" + t64 + "<- MAX\n"},
      {FLAVOUR_EDITOR, "cr(\"" + t64 + "\")", " [著作情報]:\"" + t64 + "<- MAX"},
      {FLAVOUR_CONSOLE, "sn(\"xyz\")", " [sname]:\"xyz\" (3 byte)\n"},
      {FLAVOUR_EDITOR, "sn(\"xyz\")", " [シーケンス名]:\"xyz\" (3 byte)"},
      {FLAVOUR_CONSOLE, "sn(\"" + t128 + "\")", "[sname]:\"" + t128 + "<- MAX\n"},
      {FLAVOUR_EDITOR, "sn(\"" + t128 + "\")", " [シーケンス名]:\"" + t128 + "<- MAX"},
      {FLAVOUR_CONSOLE, "cr(\"" + sjis + "\")", " [copyright]:\"" + sjis + "\" (4 byte)\n"},
      {FLAVOUR_EDITOR, "cr(\"" + sjis + "\")", " [著作情報]:\"あ日\" (4 byte)"},
      {FLAVOUR_CONSOLE, "sn(\"" + sjis + "\")", " [sname]:\"" + sjis + "\" (4 byte)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    MemoryCompile compile(c.flavour, c.source + "\r\n");
    compile.run();
    ASSERT_FALSE(compile.host.messages.empty());
    EXPECT_EQ(compile.host.messages[0], c.echo);
  }
}

TEST(TextCommands, RawBytesAreKeptUnconverted) {
  const std::string sjis = "\x82\xa0\x93\xfa\xff\x80";
  for (Flavour flavour : {FLAVOUR_CONSOLE, FLAVOUR_EDITOR}) {
    MemoryCompile compile(flavour, "cr(\"" + sjis + "\")sn(\"" + sjis + "\")\r\n");
    ASSERT_EQ(compile.run(), 0);
    const CompileSession& s = compile.session;
    ASSERT_EQ(s.copyrightLength, 6);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.copyrightText), 6), sjis);
    ASSERT_EQ(s.sequenceNameLength, 6);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.sequenceNameText), 6), sjis);
  }
}

TEST(TextCommands, OversizedInputsFailCleanly) {
  MemoryCompile cr(FLAVOUR_EDITOR, "cr(\"" + std::string(10000, 'x') + "\")\r\n");
  EXPECT_EQ(cr.run(), 25);
  EXPECT_EQ(messagesStartingWith(cr.host, {" [著作情報]:"}),
            std::vector<std::string>{" [著作情報]:\"" + std::string(64, 'x') + "<- MAX"});
  MemoryCompile sn(FLAVOUR_EDITOR, "sn(\"" + std::string(10000, 'y') + "\")\r\n");
  EXPECT_EQ(sn.run(), 27);
  MemoryCompile op(FLAVOUR_EDITOR, "op(" + std::string(10000, 'q') + ")\r\n");
  EXPECT_EQ(op.run(), 23);
}

}  // namespace
