// Parts come back in the file's order, and a line stays in one voice: a LilyPond string quartet
// whose first staff must be ch1, and a melody played legato whose overlaps are trimmed rather
// than split over two channels.
#include <gtest/gtest.h>

#include "tests/import/import_helpers.h"
#include "tests/support/test_support.h"

namespace {

using namespace import_testing;
using testing_support::readFile;
using testing_support::runCommand;
using testing_support::TempDir;
using testing_support::writeFile;

constexpr int64_t LEAD_IN = 240;

int64_t nearestFine(int64_t tick, int division) {
  return LEAD_IN + (tick * 64 + division) / (2 * division) * 15;
}

const char QUARTET[] = R"(\version "2.24.0"
\score {
  \new StaffGroup <<
    \new Staff \with { midiInstrument = "violin" } \relative c'' {
      \time 4/4 \tempo 4 = 96 e4 d c d | e e e2 | d4 d d2 | e4 g g2 | }
    \new Staff \with { midiInstrument = "violin" } \relative c'' {
      c4 b a b | c c c2 | b4 b b2 | c4 e e2 | }
    \new Staff \with { midiInstrument = "viola" } \relative c' {
      \clef alto g4 g e g | g g g2 | g4 g g2 | g4 c c2 | }
    \new Staff \with { midiInstrument = "cello" } \relative c {
      \clef bass c4 g a g | c c c2 | g4 g g2 | c4 c, c2 | }
  >>
  \midi { }
}
)";

// LilyPond gives each staff a track and MIDI channel from the top, the first staff channel 1
// (0 on the wire), which then plays on ch1; each channel holds its own staff's notes.
TEST(ImportPartsAndVoices, AQuartetComesBackInTheFilesOrder) {
#ifndef LILYPOND_PATH
  FAIL() << "lilypond is missing: run scripts/install-deps test (Debian package lilypond)";
#else
  std::string midi;
  ASSERT_TRUE(lilypondMidi(QUARTET, midi)) << midi;
  const ImportResult imported = importBytes(midi);
  ASSERT_TRUE(imported.ok) << japanese(imported.error);
  SCOPED_TRACE(imported.text);
  const MidiFacts source = readFacts(midi);
  std::vector<Note> want;
  for (const auto& [channel, key, on, off, velocity] : source.notes) {
    const int level = std::clamp((velocity + 5) / 8, 1, 16);
    want.emplace_back(channel + 1, key, nearestFine(on, source.division),
                      nearestFine(off, source.division), level * 8 - 1);
  }
  std::sort(want.begin(), want.end());
  EXPECT_EQ(playedAfterImport(imported).notes, want);
  EXPECT_EQ(imported.voices, 4);
  EXPECT_EQ(imported.text.rfind("ch1 {\n  \"l4 o4 @40 t96 v12 e d c d\"  // 小節 1\n", 0), 0u);
  EXPECT_NE(imported.text.find("ch4 {\n  \"l4 o2 @42 c <g a g\"  // 小節 1\n"), std::string::npos);
#endif
}

// A one-voice line played with onsets beside the beat and notes held into the next: every
// overlap is trimmed where the next note starts, and the line stays on ch1.
TEST(ImportPartsAndVoices, ALegatoLineStaysInOneVoice) {
  std::string midi;
  ASSERT_TRUE(midoFile("mido_played.mid", midi)) << midi;
  const ImportResult imported = importBytes(midi);
  ASSERT_TRUE(imported.ok) << japanese(imported.error);
  SCOPED_TRACE(imported.text);
  EXPECT_EQ(imported.voices, 1);
  const MidiFacts source = readFacts(midi);
  const MidiFacts got = playedAfterImport(imported);
  ASSERT_EQ(got.notes.size(), source.notes.size());
  std::vector<Note> line = source.notes;  // one key at a time: onset order is the line
  std::sort(line.begin(), line.end(),
            [](const Note& a, const Note& b) { return std::get<2>(a) < std::get<2>(b); });
  std::vector<Note> heard = got.notes;
  std::sort(heard.begin(), heard.end(),
            [](const Note& a, const Note& b) { return std::get<2>(a) < std::get<2>(b); });
  int trimmed = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    SCOPED_TRACE("note " + std::to_string(i));
    const auto [channel, key, on, off, velocity] = line[i];
    EXPECT_EQ(std::get<0>(heard[i]), 1);
    EXPECT_EQ(std::get<1>(heard[i]), key);
    EXPECT_EQ(std::get<2>(heard[i]), nearestFine(on, 480));
    const int64_t next = i + 1 < line.size() ? nearestFine(std::get<2>(line[i + 1]), 480) : -1;
    if (next >= 0 && nearestFine(off, 480) > next) {
      EXPECT_EQ(std::get<3>(heard[i]), next);
      ++trimmed;
    } else {
      EXPECT_TRUE(std::get<3>(heard[i]) == nearestFine(off, 480) ||
                  std::get<3>(heard[i]) == LEAD_IN + off)
          << std::get<3>(heard[i]);
    }
  }
  EXPECT_GT(trimmed, 20);
  EXPECT_EQ(reportedCount(imported, ImportText::LegatoTrimmed), trimmed);
}

}  // namespace
