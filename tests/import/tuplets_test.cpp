// Other programs' tuplets, whose notes fall beside the grid, come back as a musician writes them:
// `{cde}4` groups that start on the beat, at every division from 96 to 1000 ticks a quarter, from
// python3-mido and LilyPond.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/import/import_helpers.h"
#include "tests/import/smf_builder.h"
#include "tests/support/test_support.h"

namespace {

using namespace import_testing;
using testing_support::readFile;
using testing_support::runCommand;
using testing_support::TempDir;

constexpr int64_t LEAD_IN = 240;
constexpr double UNIT = 15;  // a grid unit in the compiled file's ticks

// The score's lines that hold a command string (not the header's).
// Every note of the file comes back with its key, within a grid unit of its own start and end.
void expectWithinAUnit(const std::string& midi, const ImportResult& imported) {
  const MidiFacts source = readFacts(midi);
  const MidiFacts got = playedAfterImport(imported);
  ASSERT_EQ(got.notes.size(), source.notes.size());
  for (size_t i = 0; i < got.notes.size(); ++i) {
    const auto [channel, key, on, off, velocity] = source.notes[i];
    SCOPED_TRACE("note " + std::to_string(i));
    EXPECT_EQ(std::get<1>(got.notes[i]), key);
    const double scale = 480.0 / source.division;
    EXPECT_LT(std::abs(std::get<2>(got.notes[i]) - LEAD_IN - on * scale), UNIT);
    EXPECT_LT(std::abs(std::get<3>(got.notes[i]) - LEAD_IN - off * scale), UNIT);
  }
}

TEST(ImportTuplets, TripletsQuintupletsAndSextupletsAtEveryDivisionAreWrittenAsTuplets) {
  for (const int division : {96, 120, 192, 384, 480, 960, 1000}) {
    SCOPED_TRACE(division);
    std::string midi;
    ASSERT_TRUE(midoFile("mido_tuplets_" + std::to_string(division) + ".mid", midi)) << midi;
    const ImportResult imported = importBytes(midi);
    ASSERT_TRUE(imported.ok) << japanese(imported.error);
    EXPECT_EQ(commandStringLines(imported),
              (std::vector<std::string>{"  \"l2 o3 v11 {cde}4 {fga}4 {bag}4 {fed}4\"  // 小節 1",
                                        "  \"o3 {ceg} >c\"  // 小節 2",
                                        "  \"o4 {c<bagf}4 {efgfed}4 c\"  // 小節 3"}));
    expectWithinAUnit(midi, imported);
  }
}

TEST(ImportTuplets, LilyPondTupletsAreWrittenAsTuplets) {
#ifndef LILYPOND_PATH
  FAIL() << "lilypond is missing: run scripts/install-deps test (Debian package lilypond)";
#else
  TempDir dir;
  testing_support::writeFile(dir.file("tune.ly"), R"(\version "2.24.0"
\score {
  \relative c' { \time 2/4 \tempo 4 = 80 \tuplet 3/2 { d8 e fis } g4 |
    \tuplet 3/2 { a8 g fis } \tuplet 3/2 { e d cis } | \tuplet 5/4 { d16 e fis g a } b4 | d,2 | }
  \midi { }
}
)");
  const testing_support::RunResult run =
      runCommand("cd " + dir.path() + " && " LILYPOND_PATH " -s tune.ly 2>&1");
  ASSERT_EQ(run.status, 0) << run.out;
  std::string midi;
  ASSERT_TRUE(readFile(dir.file("tune.midi"), midi));
  const ImportResult imported = importBytes(midi);
  ASSERT_TRUE(imported.ok) << japanese(imported.error);
  EXPECT_EQ(commandStringLines(imported),
            (std::vector<std::string>{"  \"l4 o3 t80 v11 {def#} g\"  // 小節 1",
                                      "  \"o3 {agf#} {edc#}\"  // 小節 2",
                                      "  \"o3 {def#ga} b\"  // 小節 3", "  \"o3 d2\"  // 小節 4"}));
  expectWithinAUnit(midi, imported);
#endif
}

// A triplet at 384 a quarter whose first note is one level louder keeps one level for the group;
// one whose accent is more than a level louder keeps every velocity and is no tuplet.
TEST(ImportTuplets, ATupletKeepsOneLevelOnlyWhenItsLevelsDifferByOneStep) {
  for (const int accent : {95, 111}) {
    SCOPED_TRACE(accent);
    SmfBuilder smf(0, 384);
    smf.track().note(0, 60, 0, 128, accent).note(0, 62, 128, 256, 87).note(0, 64, 256, 384, 87);
    smf.note(0, 65, 384, 768, 87);
    const ImportResult imported = importBytes(smf.bytes());
    ASSERT_TRUE(imported.ok);
    SCOPED_TRACE(imported.text);
    const bool tuplet = accent == 95;
    EXPECT_EQ(imported.text.find("{cde}") != std::string::npos, tuplet);
    EXPECT_EQ(reportedCount(imported, ImportText::TupletLevelsJoined), tuplet ? 2 : 0);
    const MidiFacts got = playedAfterImport(imported);
    ASSERT_EQ(got.notes.size(), 4u);
    EXPECT_EQ(std::get<4>(got.notes[1]), tuplet ? 95 : 87);
  }
}

// A played triplet whose notes end up to nearly a grid unit beside their split points (one
// unit is 15 ticks at 480 a quarter) is still one, the first note's end as the others'.
TEST(ImportTuplets, APlayedTripletEndingNearlyAUnitOffIsStillATriplet) {
  for (const int64_t firstOff : {146, 174}) {
    SCOPED_TRACE(firstOff);
    SmfBuilder smf(0, 480);
    smf.track().note(0, 60, 0, firstOff).note(0, 62, 160, 320).note(0, 64, 320, 480);
    smf.note(0, 65, 480, 960);
    const ImportResult imported = importBytes(smf.bytes());
    ASSERT_TRUE(imported.ok);
    EXPECT_NE(imported.text.find("{cde}"), std::string::npos) << imported.text;
    EXPECT_EQ(playedAfterImport(imported).notes.size(), 4u);
  }
}

}  // namespace
