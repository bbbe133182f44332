// When the parts do not fit in nine channels, what is worth least goes: doublings first, then
// the voices of the fewest notes, a chord's inner voice before its bass; each dropped part is
// named. `--list` shows the parts and `--parts` keeps the chosen ones.
#include <gtest/gtest.h>

#include "tests/import/import_helpers.h"
#include "tests/import/smf_builder.h"
#include "tests/support/test_support.h"

namespace {

using namespace import_testing;
using testing_support::readFile;
using testing_support::runCommand;
using testing_support::TempDir;
using testing_support::writeFile;

constexpr int64_t Q = 480;

// The keys each compiled channel plays, in time order.
std::map<int, std::vector<int>> keysByChannel(const MidiFacts& facts) {
  std::vector<Note> notes = facts.notes;
  std::stable_sort(notes.begin(), notes.end(),
                   [](const Note& a, const Note& b) { return std::get<2>(a) < std::get<2>(b); });
  std::map<int, std::vector<int>> keys;
  for (const Note& n : notes) keys[std::get<0>(n)].push_back(std::get<1>(n));
  return keys;
}

std::string staff(const std::string& notes) {
  return "  \\new Staff { \\time 4/4 " + notes + " }\n";
}

// Fourteen staves: six melodies, six doublings of them (unison and octaves), and two short
// lines. The doublings go, the first staff is ch1, and every staff kept plays in file order.
TEST(ImportPartsChoice, FourteenStavesDropTheirDoublingsFirst) {
#ifndef LILYPOND_PATH
  FAIL() << "lilypond is missing: run scripts/install-deps test (Debian package lilypond)";
#else
  const char* const melodies[] = {"c''4 d'' e'' f'' g'' a'' b'' c'''",
                                  "e'4 f' g' a' b' c'' d'' e''",
                                  "g4 g a a b b c' c'",
                                  "c'4 b a g f e d c",
                                  "a'4 g' f' e' d' c' b a",
                                  "e4 e f f g g a a"};
  const char* const doublings[] = {
      "c''4 d'' e'' f'' g'' a'' b'' c'''", "e4 f g a b c' d' e'",    "g4 g a a b b c' c'",
      "c''4 b' a' g' f' e' d' c'",         "a'4 g' f' e' d' c' b a", "e,4 e, f, f, g, g, a, a,"};
  std::string ly = "\\version \"2.24.0\"\n\\score { <<\n";
  for (const char* m : melodies) ly += staff(m);
  for (const char* d : doublings) ly += staff(d);
  ly += staff("r1 c'2 d'2") + staff("r1 e2 f2") + ">> \\midi { } }\n";
  std::string midi;
  ASSERT_TRUE(lilypondMidi(ly, midi)) << midi;
  const ImportResult imported = importBytes(midi);
  ASSERT_TRUE(imported.ok) << japanese(imported.error);
  SCOPED_TRACE(imported.text);
  // The file's channels of the staves kept, in staff order (LilyPond leaves out channel 10).
  const std::map<int, std::vector<int>> source = keysByChannel(readFacts(midi));
  const std::map<int, std::vector<int>> got = keysByChannel(playedAfterImport(imported));
  const int kept[] = {0, 1, 2, 3, 4, 5, 13, 14};
  ASSERT_EQ(got.size(), 8u);
  for (int c = 1; c <= 8; ++c) EXPECT_EQ(got.at(c), source.at(kept[c - 1])) << "ch" << c;
  std::vector<std::string> dropped;
  for (const ImportMessage& m : imported.report) {
    if (m.kind == ImportText::NotesDropped) {
      dropped.push_back(formatImportMessage(m, ImportLanguage::English));
    }
  }
  EXPECT_EQ(
      dropped,
      (std::vector<std::string>{
          "notes of voices over 9 channels dropped: 8 of track 8, MIDI channel 7 (bar 1-2)",
          "notes of voices over 9 channels dropped: 8 of track 9, MIDI channel 8 (bar 1-2)",
          "notes of voices over 9 channels dropped: 8 of track 10, MIDI channel 9 (bar 1-2)",
          "notes of voices over 9 channels dropped: 8 of track 11, MIDI channel 11 (bar 1-2)",
          "notes of voices over 9 channels dropped: 8 of track 12, MIDI channel 12 (bar 1-2)",
          "notes of voices over 9 channels dropped: 8 of track 13, MIDI channel 13 (bar 1-2)"}));
#endif
}

// A part of three-note chords on the first track, then six single lines of more notes, a track
// each: nine voices for the eight channels that are not the drums'.
SmfBuilder chordAndSixLines() {
  SmfBuilder smf(1, 480);
  smf.track();
  for (int i = 0; i < 4; ++i) {
    for (const int key : {48, 55, 64}) smf.note(0, key + i, i * Q, (i + 1) * Q);
  }
  for (int part = 1; part <= 6; ++part) {
    smf.track();
    for (int i = 0; i < 6; ++i) smf.note(part, 70 + part, i * Q / 2, (i + 1) * Q / 2);
  }
  return smf;
}

// A part of three-note chords among six single lines of more notes: one voice must go, and it
// is the chord's inner voice, never its bass.
TEST(ImportPartsChoice, AChordsInnerVoiceGoesBeforeItsBass) {
  SmfBuilder smf = chordAndSixLines();
  const ImportResult imported = importBytes(smf.bytes());
  ASSERT_TRUE(imported.ok);
  SCOPED_TRACE(imported.text);
  EXPECT_EQ(imported.voices, 8);
  const std::map<int, std::vector<int>> got = keysByChannel(playedAfterImport(imported));
  EXPECT_EQ(got.at(1), (std::vector<int>{64, 65, 66, 67}));  // the chord's top
  EXPECT_EQ(got.at(2), (std::vector<int>{48, 49, 50, 51}));  // its bass
  EXPECT_EQ(japanese(imported.report.at(0)),
            "9 チャンネルに収まらない声部の音符 4 個を捨てました (トラック 1、MIDI チャンネル "
            "1、小節 1)");
}

// The parts as listed say which of them the import without a choice keeps: a chord part that
// loses its inner voice is kept, a line whose one voice goes is not, the drums always are.
TEST(ImportPartsChoice, TheListSaysWhichPartsTheImportKeeps) {
  SmfBuilder smf = chordAndSixLines();
  smf.track().note(7, 60, 0, Q);
  smf.track().note(9, 36, 0, Q).note(9, 38, Q, 2 * Q);
  const std::string midi = smf.bytes();
  std::vector<PartSummary> parts;
  ImportMessage error;
  ASSERT_TRUE(listParts(reinterpret_cast<const uint8_t*>(midi.data()), midi.size(), parts, error));
  std::vector<bool> kept;
  for (const PartSummary& p : parts) kept.push_back(p.keptByDefault);
  EXPECT_EQ(kept, (std::vector<bool>{true, true, true, true, true, true, true, false, true}));
  const ImportResult imported = importBytes(midi);
  ASSERT_TRUE(imported.ok);
  EXPECT_EQ(imported.voices, 9);  // eight melodic voices and the drums
}

const char QUARTET[] = R"(\version "2.24.0"
\score { \new StaffGroup <<
  \new Staff \with { midiInstrument = "violin" } \relative c'' { e4 d c d | e1 }
  \new Staff \with { midiInstrument = "violin" } \relative c'' { c4 b a b | c1 }
  \new Staff \with { midiInstrument = "viola" } \relative c' { g4 g e g | g1 }
  \new Staff \with { midiInstrument = "cello" } \relative c { c4 g a g | c1 }
>> \midi { } }
)";

// The program lists LilyPond's quartet part by part, and imports the parts chosen, in order.
TEST(ImportPartsChoice, ListShowsThePartsAndPartsKeepsTheChosenOnes) {
#ifndef LILYPOND_PATH
  FAIL() << "lilypond is missing: run scripts/install-deps test (Debian package lilypond)";
#else
  TempDir dir;
  writeFile(dir.file("quartet.ly"), QUARTET);
  ASSERT_EQ(runCommand("cd " + dir.path() + " && " LILYPOND_PATH " -s quartet.ly 2>&1").status, 0);
  const testing_support::RunResult list =
      runCommand("cd " + dir.path() + " && " TARVK32_IMPORT_PATH " --list quartet.midi");
  EXPECT_EQ(list.status, 0);
  EXPECT_EQ(list.out,
            "part track channel program notes voices name\n"
            "   1     2       1      40     5      1 \n"
            "   2     3       2      40     5      1 \n"
            "   3     4       3      41     5      1 \n"
            "   4     5       4      42     5      1 \n");
  const testing_support::RunResult chosen = runCommand(
      "cd " + dir.path() +
      " && " TARVK32_IMPORT_PATH " quartet.midi --parts 1,3 --encoding utf-8 -o two.fms 2>err.txt");
  EXPECT_EQ(chosen.status, 0);
  std::string score, errors;
  ASSERT_TRUE(readFile(dir.file("two.fms"), score));
  readFile(dir.file("err.txt"), errors);
  EXPECT_EQ(score.find("ch3"), std::string::npos);
  EXPECT_NE(score.find("ch1 {\r\n  \"l4 o4 @40 t60 v12 e d c d\""), std::string::npos) << score;
  EXPECT_NE(score.find("ch2 {\r\n  \"l4 o2 @41 v8 g g e g\""), std::string::npos) << score;
  EXPECT_NE(errors.find("tarvk32-import: notes of the parts --parts leaves out: 10\n"),
            std::string::npos)
      << errors;
  for (const char* bad : {"0", "1,,3", "x", "1,2,"}) {
    const testing_support::RunResult refused = runCommand(
        "cd " + dir.path() + " && " TARVK32_IMPORT_PATH " quartet.midi --parts " + bad + " 2>&1");
    EXPECT_EQ(refused.status, 1) << bad;
    EXPECT_EQ(refused.out, std::string("tarvk32-import: ") + bad +
                               ": parts must be numbers from --list, such as 1,3,4\n");
  }
#endif
}

}  // namespace
