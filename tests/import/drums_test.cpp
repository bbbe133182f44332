// Another program's drums: hits at one time stand in a 128th tuplet behind a rest
// (`{r n19}128`), every hit keeps its own velocity (a further level one unit earlier), hits at the
// very start and hits of one unit are all kept, and a hit only shortened at the next one is
// counted as shortened, not as moved.
#include <gtest/gtest.h>

#include "tests/import/import_helpers.h"
#include "tests/import/smf_builder.h"
#include "tests/support/test_support.h"

namespace {

using namespace import_testing;

constexpr int64_t Q = 480;
constexpr int64_t LEAD_IN = 240;
constexpr int KICK = 36, SNARE = 38, HAT = 42, CRASH = 49;

// (key, onset, velocity) of each hit, in onset order, then key.
std::vector<std::tuple<int, int64_t, int>> hits(const std::vector<Note>& notes,
                                                int64_t scaleNum = 1, int64_t scaleDen = 1,
                                                int64_t offset = 0) {
  std::vector<std::tuple<int, int64_t, int>> out;
  for (const auto& [channel, key, on, off, velocity] : notes) {
    out.emplace_back(key, on * scaleNum / scaleDen + offset, velocity);
  }
  std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) {
    return std::tie(std::get<1>(a), std::get<0>(a)) < std::tie(std::get<1>(b), std::get<0>(b));
  });
  return out;
}

// Hats at 60 over a kick at 103 and a snare at 95: each hit keeps its own level, and the hats
// that sound with another hit join it in a tuplet opened by a rest.
TEST(ImportDrums, HitsAtOneTimeKeepTheirOwnVelocity) {
  SmfBuilder smf(0, 480);
  smf.track();
  for (int i = 0; i < 4; ++i) smf.note(9, HAT, i * Q / 2, (i + 1) * Q / 2, 60);
  smf.note(9, KICK, Q / 2, Q, 103).note(9, SNARE, Q, 3 * Q / 2, 95);
  const ImportResult imported = importBytes(smf.bytes());
  ASSERT_TRUE(imported.ok);
  EXPECT_EQ(commandStringLines(imported),
            std::vector<std::string>{
                "  \"l8 o1 v8 f#16.&f#64.{r n19}128 v13 c16.&c64. v8 {r n19}128 v12 n15 v8 n19\"  "
                "// 小節 1"});
  const MidiFacts got = playedAfterImport(imported);
  const std::vector<std::tuple<int, int64_t, int>> want = {
      {HAT, LEAD_IN, 63},         {KICK, LEAD_IN + 240, 103}, {HAT, LEAD_IN + 240, 63},
      {SNARE, LEAD_IN + 480, 95}, {HAT, LEAD_IN + 480, 63},   {HAT, LEAD_IN + 720, 63}};
  EXPECT_EQ(hits(got.notes), want);
  EXPECT_EQ(reportedCount(imported, ImportText::VelocitiesMatched), 0);
  EXPECT_EQ(reportedCount(imported, ImportText::NotesMoved), 0);
  // The hats that sound with another hit, and the hits that lend them a unit.
  EXPECT_EQ(reportedCount(imported, ImportText::DrumsShortened), 4);
}

// Hits at one time at three levels, and a hit of one unit before hits at one time: no hit is
// lost and each keeps its own level; the hits of the third level sound one unit early, in a
// tuplet of their own, and are counted as moved.
TEST(ImportDrums, EveryHitKeepsItsLevelAndNoneIsLost) {
  SmfBuilder smf(0, 480);
  smf.track();
  smf.note(9, KICK, 0, Q / 2, 103);
  smf.note(9, HAT, Q / 2, Q / 2 + 15, 60);  // one unit
  smf.note(9, SNARE, Q / 2 + 15, Q, 95).note(9, HAT, Q / 2 + 15, Q, 80);
  smf.note(9, CRASH, Q, 2 * Q, 120).note(9, KICK, Q, 3 * Q / 2, 103);
  smf.note(9, HAT, Q, 3 * Q / 2, 60).note(9, HAT, 3 * Q / 2, 2 * Q, 60);
  const ImportResult imported = importBytes(smf.bytes());
  ASSERT_TRUE(imported.ok);
  EXPECT_EQ(commandStringLines(imported),
            std::vector<std::string>{"  \"l8 o1 v13 c16.&c64. v8 {r n19}128 v10 {r n19}128 v12 "
                                     "d16.&d128 v8 {r n19}128 v15 {r n26}128 v13 n13 v8 n19\"  "
                                     "// 小節 1"});
  const std::vector<std::tuple<int, int64_t, int>> want = {
      {KICK, LEAD_IN, 103},        {HAT, LEAD_IN + 240, 63}, {SNARE, LEAD_IN + 255, 95},
      {HAT, LEAD_IN + 255, 79},    {HAT, LEAD_IN + 465, 63}, {KICK, LEAD_IN + 480, 103},
      {CRASH, LEAD_IN + 480, 119}, {HAT, LEAD_IN + 720, 63}};
  EXPECT_EQ(hits(playedAfterImport(imported).notes), want);
  EXPECT_EQ(reportedCount(imported, ImportText::VelocitiesMatched), 0);
  EXPECT_EQ(reportedCount(imported, ImportText::NotesMoved), 1);
}

// A hit of one unit at the very start with hits at one time behind it: nothing before can lend
// it a unit, so it opens the tuplet of the hits that join it, which take its level; it is kept.
TEST(ImportDrums, AHitOfOneUnitAtTheStartOpensTheTupletOfTheHitsBehindIt) {
  SmfBuilder smf(0, 480);
  smf.track();
  smf.note(9, HAT, 0, 15, 60);
  smf.note(9, SNARE, 15, Q, 95).note(9, CRASH, 15, Q, 120);
  const ImportResult imported = importBytes(smf.bytes());
  ASSERT_TRUE(imported.ok);
  EXPECT_EQ(commandStringLines(imported),
            std::vector<std::string>{"  \"l4 o1 v8 {n19 n26}128 v12 d:31\"  // 小節 1"});
  const std::vector<std::tuple<int, int64_t, int>> want = {
      {HAT, LEAD_IN, 63}, {SNARE, LEAD_IN + 15, 95}, {CRASH, LEAD_IN + 15, 63}};
  EXPECT_EQ(hits(playedAfterImport(imported).notes), want);
  EXPECT_EQ(reportedCount(imported, ImportText::VelocitiesMatched), 1);
}

// A groove on the grid whose hits ring over the next ones: every hit stays where it is, and the
// report counts them as shortened only.
TEST(ImportDrums, HitsOnlyShortenedAreNotCountedAsMoved) {
  SmfBuilder smf(0, 96);
  smf.track();
  for (int i = 0; i < 8; ++i) smf.note(9, i % 2 ? HAT : KICK, i * 48, i * 48 + 1536, 79);
  const ImportResult imported = importBytes(smf.bytes());
  ASSERT_TRUE(imported.ok);
  EXPECT_EQ(reportedCount(imported, ImportText::NotesMoved), 0);
  EXPECT_EQ(reportedCount(imported, ImportText::DrumsShortened), 7);
  EXPECT_EQ(hits(playedAfterImport(imported).notes),
            hits(readFacts(smf.bytes()).notes, 5, 1, LEAD_IN));
}

// LilyPond's kick/snare/hi-hat groove opening with a crash over the kick: no hit is lost; the
// crash, which nothing before the start can carry, follows the kick by one grid unit.
TEST(ImportDrums, ALilyPondGrooveKeepsEveryHitAndTheCrashAtTheStart) {
#ifndef LILYPOND_PATH
  FAIL() << "lilypond is missing: run scripts/install-deps test (Debian package lilypond)";
#else
  std::string midi;
  ASSERT_TRUE(lilypondMidi(R"(\version "2.24.0"
\score {
  \new DrumStaff \drummode { \tempo 4 = 100
    << { cymc4 hh8 hh hh hh hh hh | hh hh hh hh hh hh hh hh }
    \\ { bd4 sn8 bd bd4 sn | bd4 sn8 bd bd4 sn } >> }
  \midi { }
}
)",
                           midi))
      << midi;
  const ImportResult imported = importBytes(midi);
  ASSERT_TRUE(imported.ok) << japanese(imported.error);
  SCOPED_TRACE(imported.text);
  auto want = hits(readFacts(midi).notes, 5, 4, LEAD_IN);  // 384 a quarter to 480
  for (auto& [key, on, velocity] : want) {
    velocity = 87;               // LilyPond's 90, the nearest level
    if (key == CRASH) on += 15;  // one unit behind the kick it sounds with
  }
  std::sort(want.begin(), want.end(), [](const auto& a, const auto& b) {
    return std::tie(std::get<1>(a), std::get<0>(a)) < std::tie(std::get<1>(b), std::get<0>(b));
  });
  EXPECT_EQ(hits(playedAfterImport(imported).notes), want);
  EXPECT_EQ(imported.report.front().values, (std::vector<std::string>{"1", "12"}));  // moved
  EXPECT_EQ(reportedCount(imported, ImportText::ZeroLengthDropped), 0);
  // Bar 1: crash and kick, then the hats with snare, kick, kick, nothing and snare.
  EXPECT_EQ(commandStringLines(imported).front(),
            "  \"l8 o1 t100 v11 {n13 n26}128r8.r32.{r n19}128 d16.&d64.{r n19}128c16.&c64.{r "
            "n19}128 n13 f#16.&f#64.{r n19}128 n15 f#16.&f#64.{r n19}128\"  // 小節 1");
#endif
}

}  // namespace
