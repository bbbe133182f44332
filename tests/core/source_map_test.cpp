// The source map: positions of every event and the channel blocks, counted by hand on small
// scores; on random scores every position inside its channel's command strings and growing
// with the events; and a compilation that records a map writing and saying exactly what one
// without it does.
#include "core/source_map.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/random_score.h"
#include "tests/support/source_map_check.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

struct MappedCompile {
  MappedCompile(const std::string& source, Flavour flavour = FLAVOUR_EDITOR,
                bool compiledData = false)
      : compile(std::make_unique<MemoryCompile>(flavour, source, compiledData)),
        map(std::make_unique<SourceMap>()) {
    compile->host.sourceMapStorage = map.get();
    result = compile->run();
  }
  std::unique_ptr<MemoryCompile> compile;
  std::unique_ptr<SourceMap> map;
  int32_t result = 0;
};

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines(1);
  for (char c : text) {
    if (c == '\n') {
      lines.emplace_back();
    } else {
      lines.back() += c;
    }
  }
  return lines;
}

// Each event of the channel as "line:column text", the text being the bytes its position spans.
std::vector<std::string> eventTexts(const std::string& source, const SourceMap& map, int channel) {
  const std::vector<std::string> lines = splitLines(source);
  std::vector<std::string> texts;
  for (const SourcePosition& p : map.positions[channelIndex(channel)]) {
    texts.push_back(std::to_string(p.line) + ":" + std::to_string(p.column) + " " +
                    lines.at(static_cast<size_t>(p.line)).substr(p.column, p.length));
  }
  return texts;
}

std::string blockText(const ChannelBlock& b) {
  const auto point = [](SourcePoint p) {
    return p.line == SOURCE_END_LINE ? std::string("end")
                                     : std::to_string(p.line) + ":" + std::to_string(p.column);
  };
  return "ch" + std::to_string(b.channel) + " " + point(b.open) + "-" + point(b.close);
}

std::vector<std::string> blockTexts(const SourceMap& map) {
  std::vector<std::string> texts;
  for (const ChannelBlock& b : map.blocks) texts.push_back(blockText(b));
  return texts;
}

using Texts = std::vector<std::string>;

TEST(SourceMapTest, EveryCommandThatAppendsAnEventIsItsPosition) {
  const std::string score = "ch1 { \"t150 v12 c+8. r d:20 n60 @5 $64 q7 l8 e\" }";
  MappedCompile c(score);
  ASSERT_EQ(c.result, 0);
  EXPECT_EQ(eventTexts(score, *c.map, 1),
            (Texts{"0:7 t150", "0:12 v12", "0:16 c+8.", "0:21 r", "0:23 d:20", "0:28 n60",
                   "0:32 @5", "0:35 $64", "0:39 q7", "0:45 e"}));
  EXPECT_EQ(c.map->events[0].size(), 2 * c.map->positions[0].size());
  EXPECT_EQ(blockTexts(*c.map), Texts{"ch1 0:4-0:48"});
}

TEST(SourceMapTest, TupletNotesStandAtTheirOwnItemsAndTiesAtTheirSign) {
  const std::string score = "ch1 { \"{c e16 n40 <g}4 & c\" }";
  MappedCompile c(score);
  ASSERT_EQ(c.result, 0);
  EXPECT_EQ(eventTexts(score, *c.map, 1),
            (Texts{"0:8 c", "0:10 e16", "0:14 n40", "0:19 g", "0:23 &", "0:25 c"}));
  // The events beside them: the tuplet's notes of 8 units each in item order (g after `<` in
  // octave 3), the tie, and c of octave 3 for the default quarter.
  EXPECT_EQ(hex(c.map->events[0]), hex(bytes({49, 8, 53, 8, 40, 8, 44, 8, 251, 0, 37, 32})));
}

TEST(SourceMapTest, ChannelsOpenedTwiceAroundHeaderCommandsAndComments) {
  const std::string score =
      "ch1 { \"c4&c8\" \"d\" }\n"
      "op(q7def) /* { ch2 } */\n"
      "cr(\"x\") ch2 {\n"
      " \"t120 e\" }\n"
      "ch1{\"f\"} sn(\"y\")";
  MappedCompile c(score);
  ASSERT_EQ(c.result, 0);
  EXPECT_EQ(eventTexts(score, *c.map, 1), (Texts{"0:7 c4", "0:9 &", "0:10 c8", "0:15 d", "4:5 f"}));
  EXPECT_EQ(eventTexts(score, *c.map, 2), (Texts{"3:2 t120", "3:7 e"}));
  EXPECT_EQ(blockTexts(*c.map), (Texts{"ch1 0:4-0:18", "ch2 2:12-3:10", "ch1 4:3-4:7"}));
  // op(q7def) came before the writer: every track starts with gate step 6.
  EXPECT_EQ(c.map->startGate[0], GATE_STEP_Q7);
  EXPECT_EQ(c.map->startGate[1], GATE_STEP_Q7);
}

TEST(SourceMapTest, IgnoredBracesMakeNoBlockAndAnOpenBlockRunsToTheEnd) {
  const std::string score =
      "{ }\n"                 // no channel named yet: opens nothing
      "ch1 { { \"c\" }  }\n"  // the inner `{` and the second `}` do nothing
      "ch2 { \"d\"";
  MappedCompile c(score);
  ASSERT_EQ(c.result, 0);
  EXPECT_EQ(blockTexts(*c.map), (Texts{"ch1 1:4-1:12", "ch2 2:4-end"}));
  EXPECT_TRUE(c.map->blocks[1].holds({2, 5}));
  EXPECT_TRUE(c.map->blocks[1].holds({1000, 0}));
  EXPECT_FALSE(c.map->blocks[0].holds({1, 4}));  // before its `{`
  EXPECT_TRUE(c.map->blocks[0].holds({1, 12}));  // before its `}`
  EXPECT_FALSE(c.map->blocks[0].holds({1, 13}));
}

TEST(SourceMapTest, AFailedCompilationKeepsThePositionsOfWhatWasAppended) {
  const std::string score = "ch1 { \"c d\" }\nch1 { \"e v99\" }";
  MappedCompile c(score);
  EXPECT_EQ(c.result, ERROR_VELOCITY);
  EXPECT_EQ(eventTexts(score, *c.map, 1), (Texts{"0:7 c", "0:9 d", "1:7 e"}));
  EXPECT_EQ(c.map->events[0].size(), 6u);
}

TEST(SourceMapTest, EachCompilationStartsAFreshMap) {
  auto compile = std::make_unique<MemoryCompile>(FLAVOUR_EDITOR, "ch3 { \"c d e\" }");
  SourceMap map;
  compile->host.sourceMapStorage = &map;
  ASSERT_EQ(compile->run(), 0);
  compile->host.replaceSource("ch1 { \"c\" }");
  ASSERT_EQ(compile->run(), 0);
  EXPECT_EQ(map.eventCount(1), 1);
  EXPECT_EQ(map.eventCount(3), 0);
  EXPECT_TRUE(map.events[2].empty());
  EXPECT_EQ(blockTexts(map), Texts{"ch1 0:4-0:10"});
  // A host that asks for no map gets none, and the session holds none after a compilation.
  compile->host.sourceMapStorage = nullptr;
  compile->host.replaceSource("ch2 { \"c\" }");
  ASSERT_EQ(compile->run(), 0);
  EXPECT_EQ(map.eventCount(1), 1);
  EXPECT_EQ(compile->session.sourceMap, nullptr);
}

struct Outcome {
  int32_t result;
  std::string transcript;
  std::string output;
  bool operator==(const Outcome&) const = default;
};

Outcome outcomeOf(const MemoryCompile& c, int32_t result) {
  return {result, c.host.transcript, c.host.outputKept ? hex(c.host.kept) : "-"};
}

Outcome compileWithout(const std::string& source, Flavour flavour, bool compiledData) {
  auto c = std::make_unique<MemoryCompile>(flavour, source, compiledData);
  const int32_t result = c->run();
  return outcomeOf(*c, result);
}

// The strings of a random score, as it wrote them.
std::vector<MappedString> stringsOf(const RandomScore& score) {
  std::vector<MappedString> strings;
  for (const RandomScore::CommandString& s : score.strings) {
    strings.push_back({s.channel, s.line, s.open, s.close});
  }
  return strings;
}

TEST(SourceMapTest, RandomScoresMapInsideTheirStringsAndWriteWhatTheyWroteWithoutAMap) {
  RandomScoreWriter writer(19);
  int clean = 0;
  int events = 0;
  constexpr int SCORES = 400;
  for (int i = 0; i < SCORES; ++i) {
    const RandomScore score = writer.next();
    SCOPED_TRACE(score.text);
    const Flavour flavour = i % 4 == 3 ? FLAVOUR_CONSOLE : FLAVOUR_EDITOR;
    const bool compiledData = i % 5 == 4;
    MappedCompile c(score.text, flavour, compiledData);
    clean += c.result == 0 ? 1 : 0;
    for (const auto& positions : c.map->positions) events += static_cast<int>(positions.size());
    ASSERT_EQ(checkSourceMap(stringsOf(score), *c.map), "");
    // The fuzzer's view of the strings, found in the bytes alone, holds the same map.
    ASSERT_EQ(checkSourceMap(quotedStretches(score.text, *c.map, flavour), *c.map), "");
    ASSERT_EQ(outcomeOf(*c.compile, c.result), compileWithout(score.text, flavour, compiledData));
  }
  // The scores must reach the writers, or the comparison above proves little.
  EXPECT_GT(clean, SCORES * 9 / 10);
  EXPECT_GT(events, SCORES * 10);
}

}  // namespace
