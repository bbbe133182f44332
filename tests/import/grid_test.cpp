// Opt-in transcription of played input: `--grid` snaps onsets and ends to a grid of straight or
// triplet notes, `--steady-velocity` absorbs changes of one level; without them the import stays
// exact on the compiler's grid.
#include <gtest/gtest.h>

#include "tests/import/import_helpers.h"
#include "tests/import/smf_builder.h"
#include "tests/support/test_support.h"

namespace {

using namespace import_testing;

constexpr int64_t LEAD_IN = 240;

ImportResult importWith(const std::string& midi, ImportOptions options) {
  return importMidi(reinterpret_cast<const uint8_t*>(midi.data()), midi.size(), ScoreEncoding::Utf8,
                    options);
}

// mido's legato line, played beside the beat, on a grid of eighths with steady velocities: every
// note on its eighth, and a `v` only where the level moves by more than one.
TEST(ImportGrid, APlayedLineOnAnEighthGrid) {
  std::string midi;
  ASSERT_TRUE(midoFile("mido_played.mid", midi)) << midi;
  ImportOptions options;
  options.grid = 8;
  options.steadyVelocity = true;
  const ImportResult imported = importWith(midi, options);
  ASSERT_TRUE(imported.ok);
  EXPECT_EQ(commandStringLines(imported),
            (std::vector<std::string>{"  \"l8 o3 v8 cd e v11 f v8 g v10 f e v8 d\"  // 小節 1",
                                      "  \"o3 c v10 d ef gf ed\"  // 小節 2",
                                      "  \"o4 cd ef v8 g v10 f ed\"  // 小節 3",
                                      "  \"o4 cd v8 e v10 f gf v8 ed\"  // 小節 4",
                                      "  \"o3 v11 c v8 d v10 ef gf ed\"  // 小節 5"}));
  const MidiFacts got = playedAfterImport(imported);
  ASSERT_EQ(got.notes.size(), 40u);
  for (size_t i = 0; i < got.notes.size(); ++i) {
    EXPECT_EQ(std::get<2>(got.notes[i]) % 240, LEAD_IN % 240) << i;
  }
  EXPECT_EQ(reportedCount(imported, ImportText::NotesSnapped), 40);
  EXPECT_EQ(reportedCount(imported, ImportText::VelocitiesSteadied), 16);
  // Without the options the line keeps its own times.
  EXPECT_EQ(reportedCount(importWith(midi, {}), ImportText::NotesSnapped), 0);
}

// Eighth-note triplets played up to 20 ticks beside their time, more than a grid unit: on a grid
// of eighth triplets they become tuplets; on the compiler's grid they do not.
TEST(ImportGrid, PlayedTripletsOnATripletGrid) {
  SmfBuilder smf(0, 480);
  smf.track();
  const int jitter[] = {0, 20, -9, 5, -20, 8, 18, -7, 3, -4, 19, -11};  // a grid unit is 15
  for (int i = 0; i < 12; ++i) {
    const int64_t on = i * 160 + jitter[i];
    smf.note(0, 60 + i % 5, on, i * 160 + 150, 87);
  }
  ImportOptions options;
  options.grid = 8;
  options.gridTriplets = true;
  const ImportResult snapped = importWith(smf.bytes(), options);
  ASSERT_TRUE(snapped.ok);
  EXPECT_EQ(commandStringLines(snapped),
            std::vector<std::string>{"  \"l4 o3 v11 {cc#d} {d#ec} {c#dd#} {ecc#}\"  // 小節 1"});
  const ImportResult exact = importWith(smf.bytes(), {});
  EXPECT_EQ(std::count(exact.text.begin(), exact.text.end(), '{'), 1) << exact.text;  // ch1 {
}

// The program takes the options and refuses a grid of no note value.
TEST(ImportGrid, TheProgramTakesTheGridAndRefusesOthers) {
  testing_support::TempDir dir;
  SmfBuilder smf(0, 480);
  smf.track().note(0, 60, 3, 470).note(0, 62, 481, 955);
  testing_support::writeFile(dir.file("played.mid"), smf.bytes());
  const testing_support::RunResult ok = testing_support::runCommand(
      "cd " + dir.path() +
      " && " TARVK32_IMPORT_PATH " played.mid --grid 16t --steady-velocity --encoding utf-8 2>&1");
  EXPECT_EQ(ok.status, 0);
  EXPECT_NE(ok.out.find("\"l4 o3 c d\""), std::string::npos) << ok.out;
  EXPECT_NE(ok.out.find("tarvk32-import: notes snapped to the grid of --grid: 2\n"),
            std::string::npos);
  for (const char* bad : {"7", "16x", "t", "128"}) {
    const testing_support::RunResult refused = testing_support::runCommand(
        "cd " + dir.path() + " && " TARVK32_IMPORT_PATH " played.mid --grid " + bad + " 2>&1");
    EXPECT_EQ(refused.status, 1) << bad;
    EXPECT_EQ(refused.out,
              std::string("tarvk32-import: ") + bad +
                  ": grid must be 1, 2, 4, 8, 16, 32 or 64, with t for triplets (8t)\n");
  }
}

}  // namespace
