// Another program's drums: hits at one time stand in a 128th tuplet behind a rest
// (`{r n19}128`), every hit keeps its own velocity, hits at the very start are all kept, and a
// hit only shortened at the next one is counted as shortened, not as moved.
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
  EXPECT_EQ(commandStringLines(imported).front().rfind(
                "  \"l8 o1 t100 v11 {n13 n26}128r8.r32.{r n19}128 ", 0),
            0u);
#endif
}

}  // namespace
