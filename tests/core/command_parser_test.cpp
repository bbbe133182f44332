#include "core/command_parser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

constexpr int UNCHECKED = -1;

// One command string in channel 1's block: ch1{"<body>"}. Default octave 4, length 32 units.
struct StringCase {
  std::string body;
  int32_t result;
  Bytes events;  // channel 1, also after an error
  int column;    // failures: index into body where scanning stopped
};

const std::string PREFIX = "ch1{\"";

void checkCases(const std::vector<StringCase>& cases) {
  for (const StringCase& c : cases) {
    SCOPED_TRACE("body: " + c.body);
    EventCompile compile(PREFIX + c.body + "\"}\r\n");
    EXPECT_EQ(compile.result, c.result);
    EXPECT_EQ(hex(compile.events(1)), hex(c.events));
    if (c.column != UNCHECKED) {
      EXPECT_EQ(compile.cursor(), int(PREFIX.size()) + c.column);
    }
  }
}

TEST(CommandString, NotesRestsAndLengths) {
  checkCases({
      {"c", 0, {49, 32}, UNCHECKED},
      {"C", 0, {49, 32}, UNCHECKED},
      {"c8.", 0, {49, 24}, UNCHECKED},
      {"a+2", 0, {59, 64}, UNCHECKED},
      {"c:100", 0, {49, 100}, UNCHECKED},
      {"d:1 e:255", 0, {51, 1, 53, 255}, UNCHECKED},
      {"n60", 0, {60, 32}, UNCHECKED},
      {"N96 n1", 0, {96, 32, 1, 32}, UNCHECKED},
      {"n0", 0, {0, 32}, UNCHECKED},
      {"r r16. R1.", 0, {0, 32, 0, 12, 0, 192}, UNCHECKED},
      {"c1 c2. c32. c64 c64. c128", 0, {49, 128, 49, 96, 49, 6, 49, 2, 49, 3, 49, 1}, UNCHECKED},
      {"c3 c0 c256", 0, {49, 32, 49, 32, 49, 32}, UNCHECKED},
      {"l8 c3 e", 0, {49, 16, 53, 16}, UNCHECKED},
      {"L16.c l1.r", 0, {49, 12, 0, 192}, UNCHECKED},
      {"l8 n5", 0, {5, 16}, UNCHECKED},
      {"b+ c- e# d- f+", 0, {49, 32, 60, 32, 54, 32, 50, 32, 55, 32}, UNCHECKED},
      {"o0c o7b O5G", 0, {1, 32, 96, 32, 68, 32}, UNCHECKED},
      {"o7>b o0<c", 0, {96, 32, 1, 32}, UNCHECKED},
      {"<c >>c", 0, {37, 32, 61, 32}, UNCHECKED},
      {"c\td e", 0, {49, 32, 51, 32, 53, 32}, UNCHECKED},
      {"", 0, {}, UNCHECKED},
  });
}

TEST(CommandString, ParameterEvents) {
  checkCases({
      {"q1 Q8", 0, {250, 0, 250, 7}, UNCHECKED},
      {"v0 V16", 0, {253, 0, 253, 16}, UNCHECKED},
      {"t10 T250", 0, {252, 10, 252, 250}, UNCHECKED},
      {"@0 @127", 0, {254, 0, 254, 127}, UNCHECKED},
      {"$0 $127", 0, {249, 0, 249, 127}, UNCHECKED},
      {"c&c", 0, {49, 32, 251, 0, 49, 32}, UNCHECKED},
      {"& &", 0, {251, 0, 251, 0}, UNCHECKED},
  });
}

TEST(CommandString, ErrorsStopAtTheirColumn) {
  checkCases({
      // value errors: behind the digits read
      {"n97", 12, {}, 3},
      {"n", 12, {}, 1},
      {"n99999", 12, {}, 6},
      {"v17", 16, {}, 3},
      {"v", 16, {}, 1},
      {"v256", 16, {}, 4},
      {"t9", 17, {}, 2},
      {"t251", 17, {}, 4},
      {"t", 17, {}, 1},
      {"$128", 21, {}, 4},
      {"$", 21, {}, 1},
      {"@128", 15, {}, 4},
      {"@", 15, {}, 1},
      {"c:0", 18, {}, 3},
      {"c:256", 18, {}, 5},
      {"c:", 18, {}, 2},
      {"c:65536", 18, {}, 7},
      {"c:99999999999999999999", 18, {}, 7},
      {"l3", 14, {}, 2},
      {"l0", 14, {}, 2},
      {"l", 14, {}, 1},
      {"l128.", 14, {}, 4},
      // O, Q and unknown bytes: on the byte
      {"o8", 13, {}, 1},
      {"ox", 13, {}, 1},
      {"o 5", 13, {}, 1},
      {"o", 13, {}, 1},
      {"q0", 19, {}, 1},
      {"q9", 19, {}, 1},
      {"q", 19, {}, 1},
      {"o45", 1, {}, 2},
      {"c128.", 1, {49, 32}, 4},
      {"l4..", 1, {}, 3},
      {"c#-", 1, {50, 32}, 2},
      {"&&", 10, {}, 1},
      {"c d x", 1, {49, 32, 51, 32}, 4},
      {"}", 1, {}, 0},
      {":", 1, {}, 0},
      {".", 1, {}, 0},
      {"5", 1, {}, 0},
      {"h", 1, {}, 0},
      {"\x82\xa0", 1, {}, 0},
      // a sixth digit stays in the text
      {"n000601", 1, {60, 32}, 6},
      {"c:000012", 1, {49, 1}, 7},
  });
}

TEST(CommandString, StringNotClosedOnItsLineFailsAtTheCarriageReturn) {
  EventCompile compile("ch1{\"cd\r\n\"}\r\n");
  EXPECT_EQ(compile.result, 1);
  EXPECT_EQ(hex(compile.events(1)), hex({49, 32, 51, 32}));
  EXPECT_EQ(compile.cursor(), 7);
  EXPECT_EQ(compile.compile->session.lineNumber, 1);
}

TEST(CommandString, OctaveAndLengthBelongToTheChannelAcrossStringsAndBlocks) {
  EventCompile compile("ch1{\"o5 l8\" \"c\"}\r\nch2{\"c\"}\r\nch1{\"d\"}\r\n");
  EXPECT_EQ(compile.result, 0);
  EXPECT_EQ(hex(compile.events(1)), hex({61, 16, 63, 16}));
  EXPECT_EQ(hex(compile.events(2)), hex({49, 32}));
}

TEST(CommandString, CommandsWithoutAnOpenChannel) {
  struct Case {
    const char* body;
    int32_t result;
  };
  const Case cases[] = {
      {"c", -1},     {"r", -1},   {"&", -1},     {"v10", 999}, {"n60", 999},
      {"t120", 999}, {"$5", 999}, {"c:10", 999}, {"<", 999},   {">", 999},
      {"l8", 999},   {"o4", 1},   {"q1", 1},     {"@5", 0},    {"@", 15},
      {"v17", 16},   {"o8", 13},  {"n97", 12},   {"{c}4", 20}, {"c:0", 18},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    EventCompile compile(std::string("\"") + c.body + "\"\r\n");
    EXPECT_EQ(compile.result, c.result);
    for (int channel = 1; channel <= 9; ++channel) EXPECT_TRUE(compile.events(channel).empty());
  }
}

TEST(Tuplet, DurationsAndItems) {
  checkCases({
      {"{cde}4", 0, {49, 11, 51, 11, 53, 10}, UNCHECKED},
      {"{cdefgab}8", 0, {49, 3, 51, 2, 53, 2, 54, 3, 56, 2, 58, 2, 60, 2}, UNCHECKED},
      {"{cdefg}2", 0, {49, 13, 51, 13, 53, 13, 54, 13, 56, 12}, UNCHECKED},
      {"{c}", 0, {49, 32}, UNCHECKED},
      {"l8{c}", 0, {49, 16}, UNCHECKED},
      {"{c}1.", 0, {49, 192}, UNCHECKED},
      {"{c d e}", 0, {49, 11, 51, 11, 53, 10}, UNCHECKED},
      {"{cde}8", 0, {49, 6, 51, 5, 53, 5}, UNCHECKED},
      {"{cde}  8", 0, {49, 6, 51, 5, 53, 5}, UNCHECKED},
      {"{c4 d16 e}8", 0, {49, 6, 51, 5, 53, 5}, UNCHECKED},
      {"{r8 c}", 0, {0, 16, 49, 16}, UNCHECKED},
      {"{cdefgab}128", 0, {49, 1, 51, 0, 53, 0, 54, 0, 56, 0, 58, 0, 60, 0}, UNCHECKED},
      {"{o5 cde}c", 0, {61, 11, 63, 11, 65, 10, 61, 32}, UNCHECKED},
      {"{o05c}", 0, {61, 32}, UNCHECKED},
      {"{>c<<c}c", 0, {61, 16, 37, 16, 37, 32}, UNCHECKED},
      {"o7{>c}o0{<c}", 0, {85, 32, 1, 32}, UNCHECKED},
      {"{r n60 c}", 0, {0, 11, 60, 11, 49, 10}, UNCHECKED},
      {"{n0N96}", 0, {0, 16, 96, 16}, UNCHECKED},
      {"{c+ d- b+ C-}", 0, {50, 8, 50, 8, 49, 8, 60, 8}, UNCHECKED},
      {"{q8 c q1}", 0, {49, 32}, UNCHECKED},
      {"{\tc}", 0, {49, 32}, UNCHECKED},
      {"{cde}\t8", 1, {49, 11, 51, 11, 53, 10}, 6},
      {"{cde}3", 0, {49, 11, 51, 11, 53, 10}, UNCHECKED},
  });
}

TEST(Tuplet, FailuresAreCode20) {
  checkCases({
      {"{}", 20, {}, UNCHECKED},
      {"{ }", 20, {}, UNCHECKED},
      {"{c d e }", 20, {}, UNCHECKED},
      {"{c:8 d}", 20, {}, UNCHECKED},
      {"{o9 c}", 20, {}, UNCHECKED},
      {"{o c}", 20, {}, UNCHECKED},
      {"{n97}", 20, {}, UNCHECKED},
      {"{n}", 20, {}, UNCHECKED},
      {"{q0c}", 20, {}, UNCHECKED},
      {"{q9c}", 20, {}, UNCHECKED},
      {"{cl8}", 20, {}, UNCHECKED},
      {"{c@1}", 20, {}, UNCHECKED},
      {"{cv1}", 20, {}, UNCHECKED},
      {"{ct99}", 20, {}, UNCHECKED},
      {"{c&d}", 20, {}, UNCHECKED},
      {"{c{d}}", 20, {}, UNCHECKED},
      {"{cx}", 20, {}, UNCHECKED},
      {"c{cd", 20, {49, 32}, UNCHECKED},
  });
}

TEST(Tuplet, NotClosedOnItsLine) {
  EventCompile compile("ch1{\"{cd\r\n}\"}\r\n");
  EXPECT_EQ(compile.result, 20);
  EXPECT_TRUE(compile.events(1).empty());
}

TEST(Tuplet, HoldsAtMost31Notes) {
  // 128 units over 31 notes: 4 each, remainder 4 spread with step 31 / 4 = 7.
  Bytes expected;
  for (int i = 0; i < 31; ++i) {
    expected.push_back(49);
    expected.push_back(i % 7 == 0 && i < 28 ? 5 : 4);
  }
  checkCases({
      {"{" + std::string(31, 'c') + "}1", 0, expected, UNCHECKED},
      {"{" + std::string(32, 'c') + "}1", 20, {}, UNCHECKED},
      {"{" + std::string(31, 'c') + " o5}1", 0, expected, UNCHECKED},  // o5 is no list entry
  });
}

// With channel 1 full, every command whose event is refused fails with -1 (a tuplet with 20).
TEST(CommandString, RefusedAppendsOnAFullChannel) {
  std::string fill = "ch1{\r\n";
  for (int left = 32000; left > 0; left -= 1600) fill += "\"" + std::string(1600, 'c') + "\"\r\n";
  const std::pair<const char*, int32_t> cases[] = {
      {"n1", -1}, {"q1", -1}, {"&", -1}, {"$1", -1}, {"t120", -1}, {"{c}", 20},
  };
  for (const auto& [body, result] : cases) {
    SCOPED_TRACE(body);
    MemoryCompile compile(FLAVOUR_CONSOLE, fill + "\"" + body + "\"}\r\n");
    EXPECT_EQ(compile.run(), result);
    EXPECT_EQ(compile.session.workLength[0], 64000);
  }
}

// The number readers on their own, with the cursor position they leave.
TEST(NumberReaders, ValuesAndCursor) {
  auto session = std::make_unique<CompileSession>();
  auto load = [&](const char* text) {
    std::memset(session->lineBuffer, 0, sizeof session->lineBuffer);
    std::memcpy(session->lineBuffer, text, std::strlen(text));
    session->lineCursor = 0;
  };
  struct Case {
    const char* text;
    int32_t number, numberCursor, length, lengthCursor;
  };
  const Case cases[] = {
      {"0", 0, 1, -1, 1},         {"007", 7, 3, -1, 3},       {"65535", 65535, 5, -1, 5},
      {"65536", 65535, 5, -1, 5}, {"99999", 65535, 5, -1, 5}, {"123456", 12345, 5, -1, 5},
      {"x", -1, 0, -1, 0},        {"", -1, 0, -1, 0},         {"1", 1, 1, 2, 1},
      {"1.", 1, 1, 1, 2},         {"2.", 2, 1, 3, 2},         {"4", 4, 1, 6, 1},
      {"4..", 4, 1, 5, 2},        {"8.", 8, 1, 7, 2},         {"16", 16, 2, 10, 2},
      {"32.", 32, 2, 11, 3},      {"64", 64, 2, 14, 2},       {"64.", 64, 2, 13, 3},
      {"128", 128, 3, 15, 3},     {"128.", 128, 3, -1, 3},    {"3.", 3, 1, -1, 1},
      {"256", 256, 3, -1, 3},     {"00008", 8, 5, 8, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    load(c.text);
    EXPECT_EQ(readNumber(*session), c.number);
    EXPECT_EQ(session->lineCursor, c.numberCursor);
    load(c.text);
    EXPECT_EQ(readLength(*session), c.length);
    EXPECT_EQ(session->lineCursor, c.lengthCursor);
  }
  int32_t value = 0;
  load("255");
  EXPECT_TRUE(readByteNumber(*session, value));
  EXPECT_EQ(value, 255);
  load("256");
  EXPECT_FALSE(readByteNumber(*session, value));
  load("x");
  EXPECT_TRUE(readByteNumber(*session, value));
  EXPECT_EQ(value, 255);
}

}  // namespace
