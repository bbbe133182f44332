// Notes of a key with flats are written with `-` as the file's key signature says, from where it
// stands: LilyPond's E-flat minor turning to E major, and abc2midi's B-flat major.
#include <gtest/gtest.h>

#include "tests/import/import_helpers.h"
#include "tests/support/test_support.h"

namespace {

using namespace import_testing;
using testing_support::readFile;
using testing_support::runCommand;
using testing_support::TempDir;
using testing_support::writeFile;

TEST(ImportSpelling, LilyPondsFlatKeyIsWrittenWithFlatsUntilTheKeyChanges) {
#ifndef LILYPOND_PATH
  FAIL() << "lilypond is missing: run scripts/install-deps test (Debian package lilypond)";
#else
  std::string midi;
  ASSERT_TRUE(lilypondMidi(R"(\version "2.24.0"
\score {
  \relative c' { \key ees \minor \time 4/4 ees8 ges bes ees des bes ges f | ees4 aes ges2 |
    \key e \major e8 gis b e dis b gis fis | e1 | }
  \midi { }
}
)",
                           midi))
      << midi;
  const ImportResult imported = importBytes(midi);
  ASSERT_TRUE(imported.ok) << japanese(imported.error);
  EXPECT_EQ(
      commandStringLines(imported),
      (std::vector<std::string>{
          "  \"l8 o3 t60 v11 e-g- b->e- d-<b- g-f\"  // 小節 1", "  \"o3 e-4 a-4 g-2\"  // 小節 2",
          "  \"o3 eg# b>e d#<b g#f#\"  // 小節 3", "  \"o3 e1\"  // 小節 4"}));
  const MidiFacts source = readFacts(midi);
  const MidiFacts got = playedAfterImport(imported);
  ASSERT_EQ(got.notes.size(), source.notes.size());
  for (size_t i = 0; i < got.notes.size(); ++i) {
    EXPECT_EQ(std::get<1>(got.notes[i]), std::get<1>(source.notes[i])) << i;
  }
#endif
}

TEST(ImportSpelling, Abc2midisFlatKeyIsWrittenWithFlats) {
#ifndef ABC2MIDI_PATH
  FAIL() << "abc2midi is missing: run scripts/install-deps test (Debian package abcmidi)";
#else
  TempDir dir;
  writeFile(dir.file("flat.abc"),
            "X:1\nT:Flat\nM:4/4\nL:1/8\nQ:1/4=90\nK:Bb\nBcde fgab | B4 E4 |]\n");
  const testing_support::RunResult run =
      runCommand(std::string(ABC2MIDI_PATH) + " " + dir.file("flat.abc") + " -o " +
                 dir.file("flat.mid") + " 2>&1");
  ASSERT_EQ(run.status, 0) << run.out;
  std::string midi;
  ASSERT_TRUE(readFile(dir.file("flat.mid"), midi));
  const ImportResult imported = importBytes(midi);
  ASSERT_TRUE(imported.ok) << japanese(imported.error);
  EXPECT_EQ(
      commandStringLines(imported),
      (std::vector<std::string>{"  \"l8 o3 t90 v13 b- v10 >c de- v12 f v10 g ab-\"  // 小節 1",
                                "  \"o3 v13 b-2 v12 e-2\"  // 小節 2"}));
#endif
}

}  // namespace
