// Notes that sound shorter than they are written, as other programs play staccato: a note
// shortened within a length the gate can shorten is written at that length with a gate step
// (`q4 c16`, not `c32r32`); a longer one, which sounds whole whatever the gate, keeps its rest;
// a grace note before the beat takes the grid unit nearest its time.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/import/import_helpers.h"
#include "tests/support/test_support.h"

namespace {

using namespace import_testing;

constexpr int64_t LEAD_IN = 240;
constexpr int64_t UNIT = 15;  // a grid unit in the compiled file's ticks

TEST(ImportArticulation, StaccatoIsAGateStepAndAGraceNoteTakesTheNearestUnit) {
#ifndef LILYPOND_PATH
  FAIL() << "lilypond is missing: run scripts/install-deps test (Debian package lilypond)";
#else
  std::string midi;
  ASSERT_TRUE(lilypondMidi(R"(\version "2.24.0"
\score { \new Staff \relative c'' { \time 4/4
  c16-. d-. e-. f-. g8 r8 c8-. r8 r4 | \grace d16 c4 e c c } \midi { } }
)",
                           midi))
      << midi;
  const ImportResult imported = importBytes(midi);
  ASSERT_TRUE(imported.ok) << japanese(imported.error);
  EXPECT_EQ(commandStringLines(imported),
            (std::vector<std::string>{
                "  \"l16 o4 t60 q4 v12 cdef v11 g8r8 q8 v12 >cr4.r32. v11 d64\"  // 小節 1",
                "  \"o5 c4 e4 c4 c4\"  // 小節 2"}));
  // Every note at its own time, but the grace note, within a unit; the staccato ones sound their
  // half exactly.
  const MidiFacts source = readFacts(midi);
  const MidiFacts got = playedAfterImport(imported);
  ASSERT_EQ(got.notes.size(), source.notes.size());
  const double scale = 480.0 / source.division;
  for (size_t i = 0; i < got.notes.size(); ++i) {
    SCOPED_TRACE("note " + std::to_string(i));
    const auto [channel, key, on, off, velocity] = source.notes[i];
    const bool grace = on * 32 % source.division != 0 || off * 32 % source.division != 0;
    EXPECT_EQ(std::get<1>(got.notes[i]), key);
    const double wantOn = LEAD_IN + on * scale, wantOff = LEAD_IN + off * scale;
    EXPECT_LE(std::abs(std::get<2>(got.notes[i]) - wantOn), grace ? UNIT / 2 : 0);
    EXPECT_LE(std::abs(std::get<3>(got.notes[i]) - wantOff), grace ? UNIT / 2 : 0);
  }
#endif
}

}  // namespace
