// Hand-made files, each for one thing the importer must get right: voices from overlapping
// notes, tuplets, ties over bar lines, drums, notes beside the grid, too many voices, the
// header texts, and every kind of file it must refuse.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/fuzz/import_case.h"
#include "tests/import/import_helpers.h"
#include "tests/import/smf_builder.h"

namespace {

using namespace import_testing;

constexpr int64_t Q = 480;        // a quarter at the compiled file's division
constexpr int64_t LEAD_IN = 240;  // where the compiled score's music starts

Note played(int channel, int key, int64_t on, int64_t off, int velocity = 79) {
  return {channel, key, on + LEAD_IN, off + LEAD_IN, velocity};
}

std::vector<Note> sorted(std::vector<Note> notes) {
  std::sort(notes.begin(), notes.end());
  return notes;
}

// The lines of the score's text that hold a command string.
std::vector<std::string> scoreLines(const ImportResult& imported) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = imported.text.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = imported.text.substr(start, end - start);
    if (line.find('"') != std::string::npos) lines.push_back(line);
  }
  return lines;
}

TEST(ImportHandMade, OverlappingNotesBecomeVoicesAndTheMelodyStaysTogether) {
  SmfBuilder smf(0, 480);
  smf.track().note(0, 60, 0, 4 * Q).note(0, 64, 0, 4 * Q);  // a held third under the melody
  for (int i = 0; i < 4; ++i) smf.note(0, 72 + 2 * i, i * Q, (i + 1) * Q);
  const ImportResult imported = importBytes(smf.bytes());
  ASSERT_TRUE(imported.ok) << japanese(imported.error);
  SCOPED_TRACE(imported.text);
  EXPECT_EQ(imported.voices, 3);
  EXPECT_NE(imported.text.find("\"l4 o4 c d e f#\""), std::string::npos);  // the melody whole
  std::vector<Note> want;
  for (int i = 0; i < 4; ++i) want.push_back(played(1, 72 + 2 * i, i * Q, (i + 1) * Q));
  want.push_back(played(2, 64, 0, 4 * Q));
  want.push_back(played(3, 60, 0, 4 * Q));
  EXPECT_EQ(playedAfterImport(imported).notes, sorted(want));
  EXPECT_TRUE(imported.report.empty());
}

TEST(ImportHandMade, NotesOfATupletAreWrittenAsOne) {
  SmfBuilder smf(1, 480);
  smf.track().track();
  const int64_t d[] = {165, 165, 150, 90, 75, 75};  // {cde}4 and {cde}8 as the compiler plays them
  int64_t at = 0;
  for (int i = 0; i < 6; ++i) {
    smf.note(0, 60 + 2 * (i % 3), at, at + d[i]);
    at += d[i];
  }
  const ImportResult imported = importBytes(smf.bytes());
  ASSERT_TRUE(imported.ok) << japanese(imported.error);
  EXPECT_NE(imported.text.find("\"l4 o3 {cde} {cde}8\""), std::string::npos) << imported.text;
  EXPECT_EQ(imported.text.find(':'), imported.text.find("://"));  // no explicit duration
  EXPECT_EQ(playedAfterImport(imported).notes.size(), 6u);
}

TEST(ImportHandMade, ANoteOverTheBarLineIsTiedFromLineToLine) {
  SmfBuilder smf(0, 96);  // 3 ticks a unit
  smf.track().note(0, 67, 0, 288).note(0, 69, 288, 480).note(0, 71, 480, 768);
  const ImportResult imported = importBytes(smf.bytes());
  ASSERT_TRUE(imported.ok) << japanese(imported.error);
  SCOPED_TRACE(imported.text);
  const std::vector<std::string> lines = scoreLines(imported);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "  \"l4 o3 g2. a&\"  // 小節 1");
  EXPECT_EQ(lines[1], "  \"o3 a b2.\"  // 小節 2");
  EXPECT_EQ(playedAfterImport(imported).notes,
            sorted({played(1, 67, 0, 1440), played(1, 69, 1440, 2400), played(1, 71, 2400, 3840)}));
}

TEST(ImportHandMade, DrumsGoToTheDrumChannelAndHitsTogetherKeepTheirTime) {
  SmfBuilder smf(0, 480);
  smf.track();
  for (int i = 1; i < 4; ++i) {
    smf.note(9, 36, i * Q, i * Q + 60, 111);  // kick and hat together on every beat but the first
    smf.note(9, 42, i * Q, i * Q + 60, 95);
  }
  const ImportResult imported = importBytes(smf.bytes());
  ASSERT_TRUE(imported.ok) << japanese(imported.error);
  SCOPED_TRACE(imported.text);
  EXPECT_EQ(imported.text.rfind("ch9 {", 0), 0u);
  EXPECT_EQ(reportedCount(imported, ImportText::DrumsShortened), 3);
  const MidiFacts got = playedAfterImport(imported);
  ASSERT_EQ(got.notes.size(), 6u);
  std::vector<std::pair<int, int64_t>> onsets, wanted;
  for (const Note& n : got.notes) {
    EXPECT_EQ(std::get<0>(n), 9);
    onsets.push_back({std::get<1>(n), std::get<2>(n)});
  }
  for (int i = 1; i < 4; ++i) {
    wanted.push_back({36, i * Q + LEAD_IN});
    wanted.push_back({42, i * Q + LEAD_IN});
  }
  std::sort(wanted.begin(), wanted.end());
  EXPECT_EQ(onsets, wanted);
}

namespace {

// A drum track written hit by hit, and the notes it must compile back to.
struct DrumTrack {
  SmfBuilder smf{0, 480};
  std::vector<Note> want;

  DrumTrack() { smf.track(); }
  void hit(int key, int64_t on, int64_t off) {
    smf.note(9, key, on, off);
    want.push_back(played(9, key, on, off));
  }
};

}  // namespace

// Drum hits of the default length are written by code, so the line needs no octave; a longer hit
// keeps its letter, and its line the octave; a hit tied over the bar line is tied by code.
TEST(ImportHandMade, DrumHitsOfTheDefaultLengthAreWrittenByCode) {
  const int64_t E = Q / 2;
  const int pattern[] = {36, 42, 38, 42, 36, 42, 38};  // kick, hat, snare, hat, ...
  DrumTrack drums;
  for (int i = 0; i < 6; ++i) drums.hit(pattern[i], i * E, (i + 1) * E);
  drums.hit(49, 3 * Q, 4 * Q);  // a quarter-note crash on the fourth beat
  for (int i = 0; i < 7; ++i) drums.hit(pattern[i], 4 * Q + i * E, 4 * Q + (i + 1) * E);
  drums.hit(49, 4 * Q + 7 * E, 8 * Q + E);  // a crash tied over the bar line
  const ImportResult imported = importBytes(drums.smf.bytes());
  ASSERT_TRUE(imported.ok) << japanese(imported.error);
  SCOPED_TRACE(imported.text);
  EXPECT_EQ(scoreLines(imported),
            (std::vector<std::string>{"  \"l8 o2 n13 n19 n15 n19 n13 n19 c#4\"  // 小節 1",
                                      "  \"n13 n19 n15 n19 n13 n19 n15 n26&\"  // 小節 2",
                                      "  \"n26\"  // 小節 3"}));
  EXPECT_EQ(playedAfterImport(imported).notes, sorted(drums.want));
}

TEST(ImportHandMade, DrumTupletsAreWrittenByCodeAndNeedNoOctave) {
  const int64_t E = Q / 2;
  DrumTrack drums;
  for (int i = 0; i < 6; ++i) drums.hit(i % 2 == 0 ? 36 : 42, i * E, (i + 1) * E);
  // A quarter-note triplet as the compiler divides it on the grid: 11, 11 and 10 units.
  const int64_t triplet[] = {0, 165, 330, Q};
  for (int i = 0; i < 3; ++i) drums.hit(38, 3 * Q + triplet[i], 3 * Q + triplet[i + 1]);
  const ImportResult imported = importBytes(drums.smf.bytes());
  ASSERT_TRUE(imported.ok) << japanese(imported.error);
  EXPECT_EQ(
      scoreLines(imported),
      (std::vector<std::string>{"  \"l8 n13 n19 n13 n19 n13 n19 {n15 n15 n15}4\"  // 小節 1"}));
  EXPECT_EQ(playedAfterImport(imported).notes, sorted(drums.want));
}

TEST(ImportHandMade, NotesBesideTheGridMoveToTheNearestPointAndAreCounted) {
  SmfBuilder smf(0, 480);
  smf.track()
      .note(0, 60, 0, Q)               // on the grid
      .note(0, 62, Q + 7, 2 * Q)       // 7 ticks late: back to Q
      .note(0, 64, 2 * Q + 8, 3 * Q)   // 8 ticks late: on to the next unit
      .note(0, 65, 3 * Q, 4 * Q - 1);  // one tick short
  const ImportResult imported = importBytes(smf.bytes());
  ASSERT_TRUE(imported.ok) << japanese(imported.error);
  EXPECT_EQ(reportedCount(imported, ImportText::NotesMoved), 3);
  EXPECT_EQ(imported.report.front().values, (std::vector<std::string>{"3", "7"}));
  EXPECT_EQ(playedAfterImport(imported).notes,
            sorted({played(1, 60, 0, Q), played(1, 62, Q, 2 * Q), played(1, 64, 2 * Q + 15, 3 * Q),
                    played(1, 65, 3 * Q, 4 * Q)}));
}

TEST(ImportHandMade, VoicesBeyondTheChannelsAreDroppedAndTheirBarsNamed) {
  SmfBuilder smf(0, 480);
  smf.track();
  for (int key = 60; key < 70; ++key) smf.note(0, key, 4 * Q, 5 * Q);  // ten at once, bar 2
  const ImportResult imported = importBytes(smf.bytes());
  ASSERT_TRUE(imported.ok) << japanese(imported.error);
  EXPECT_EQ(imported.voices, 8);
  ASSERT_EQ(imported.report.size(), 1u);
  EXPECT_EQ(japanese(imported.report[0]),
            "9 チャンネルに収まらない声部の音符 2 個を捨てました (トラック 1、MIDI チャンネル "
            "1、小節 2)");
  EXPECT_EQ(playedAfterImport(imported).notes.size(), 8u);
}

TEST(ImportHandMade, NameAndCopyrightAreKeptWhereTheEncodingHoldsThem) {
  SmfBuilder smf(1, 480);
  smf.track().meta(0, 3, "\xE6\x9B\xB2 \"A\"").meta(0, 2, "(c) \xF0\x9F\x8E\xB5");
  smf.track().note(1, 60, 0, Q);
  const ImportResult cp932 = importBytes(smf.bytes());
  ASSERT_TRUE(cp932.ok);
  EXPECT_EQ(cp932.text.rfind("sn(\"曲 'A'\")\n", 0), 0u) << cp932.text;
  // The character code page 932 cannot hold is left out, the rest kept.
  EXPECT_NE(cp932.text.find("cr(\"(c) \")\n"), std::string::npos);
  EXPECT_EQ(reportLines(cp932), std::vector<std::string>{
                                    "著作権表示からこの文字コードで書けない文字 1 個を省きました"});
  EXPECT_EQ(cp932.bytes.substr(0, 6), "sn(\"\x8B\xC8");  // 曲 in code page 932

  const ImportResult utf8 = importBytes(smf.bytes(), ScoreEncoding::Utf8);
  EXPECT_NE(utf8.text.find("cr(\"(c) \xF0\x9F\x8E\xB5\")"), std::string::npos);
  EXPECT_TRUE(utf8.report.empty());
}

struct Refusal {
  const char* what;
  std::string bytes;
  const char* error;
};

TEST(ImportHandMade, FilesThatAreNoSoundMidiAreRefusedWithTheReason) {
  const std::string header = std::string("MThd\0\0\0\6\0\1\0\1\1\xE0", 14);
  const std::string track =
      std::string("MTrk\0\0\0\x09", 8) + std::string("\0\x90\x3C\x40\x83\x60\x80\x3C\0", 9);
  const std::vector<Refusal> refusals = {
      {"no header", "RIFF....", "Standard MIDI File ではありません (MThd がない)"},
      {"header cut", header.substr(0, 10), "ファイルが途中で切れています"},
      {"track missing", header, "ファイルが途中で切れています"},
      {"track cut", header + track.substr(0, 12), "ファイルが途中で切れています"},
      {"event cut", header + std::string("MTrk\0\0\0\3\0\x90\x3C", 11),
       "ファイルが途中で切れています"},
      {"format 2", std::string("MThd\0\0\0\6\0\2\0\1\1\xE0", 14) + track,
       "フォーマット 2 の MIDI ファイルは読めません (0 と 1 のみ)"},
      {"SMPTE", std::string("MThd\0\0\0\6\0\1\0\1\xE7\x28", 14) + track,
       "SMPTE 時間単位の MIDI ファイルは読めません"},
      {"division 0", std::string("MThd\0\0\0\6\0\1\0\1\0\0", 14) + track,
       "四分音符の分解能が 0 です"},
      {"no tracks", std::string("MThd\0\0\0\6\0\1\0\0\1\xE0", 14), "トラックがありません"},
      {"data without status", header + std::string("MTrk\0\0\0\3\0\x3C\x40", 11),
       "トラック 1 の 1 バイト目: 不正なステータスバイト"},
      {"system common byte", header + std::string("MTrk\0\0\0\2\0\xF4", 10),
       "トラック 1 の 2 バイト目: 不正なステータスバイト"},
      {"five-byte delta", header + std::string("MTrk\0\0\0\6\x81\x81\x81\x81\x01\x90", 14),
       "トラック 1 の 4 バイト目: 不正な可変長数値"},
  };
  for (const Refusal& r : refusals) {
    const ImportResult imported = importBytes(r.bytes);
    EXPECT_FALSE(imported.ok) << r.what;
    EXPECT_EQ(japanese(imported.error), r.error) << r.what;
    EXPECT_TRUE(imported.text.empty() && imported.bytes.empty()) << r.what;
  }
  // Every cut of a good file is refused, never read past its end.
  const std::string good = header + track;
  ASSERT_TRUE(importBytes(good).ok);
  for (size_t n = 0; n < good.size(); ++n) {
    EXPECT_FALSE(importBytes(good.substr(0, n)).ok) << n;
  }
}

TEST(ImportHandMade, RunningStatusSysExAndOtherChunksAreRead) {
  const std::string bytes = std::string("MThd\0\0\0\6\0\0\0\1\0\x60", 14) +
                            std::string("XFIH\0\0\0\2ab", 10) + std::string("MTrk\0\0\0\x17", 8) +
                            std::string(
                                "\0\xF0\x03\x7E\x7F\xF7"
                                "\0\x90\x3C\x4F"
                                "\x60\x3C\0"
                                "\0\x3E\x4F"
                                "\x60\x3E\0"
                                "\0\xFF\x2F\0",
                                23);
  const ImportResult imported = importBytes(bytes);
  ASSERT_TRUE(imported.ok) << japanese(imported.error);
  EXPECT_EQ(playedAfterImport(imported).notes,
            sorted({played(1, 60, 0, Q), played(1, 62, Q, 2 * Q)}));
  EXPECT_EQ(reportLines(imported),
            std::vector<std::string>{"SysEx・プレッシャー 1 個は保てません"});
}

}  // namespace

namespace {

// Inputs the importer's fuzz target found, kept once fixed, and the fuzz seeds: each is refused
// with a reason or imported, in each encoding, into a score that tarvk32c and the editor compile.
TEST(ImportFuzzRegression, FoundInputsAndSeedsAreRefusedOrCompile) {
  int replayed = 0;
  for (const char* folder : {"/tests/fuzz/regressions/import", "/tests/fuzz/midi-corpus"}) {
    for (const auto& entry :
         std::filesystem::directory_iterator(TARV_SOURCE_DIR + std::string(folder))) {
      std::ifstream in(entry.path(), std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
      EXPECT_EQ(fuzzing::checkImport(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                "")
          << entry.path();
      ++replayed;
    }
  }
  EXPECT_GE(replayed, 5);
}

}  // namespace
