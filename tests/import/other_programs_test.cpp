// Files written by other programs: python3-mido in format 0 and 1 at 96, 384 and 480 ticks a
// quarter, and abc2midi (Debian's abcmidi) on tunes written here. Every note lands on the grid
// point nearest its time (a note of a tuplet within a grid unit of it, where the compiler plays
// the tuplet), a note on the grid does not move, and the report counts exactly the notes that
// moved.
#include <gtest/gtest.h>

#include "tests/import/import_helpers.h"
#include "tests/support/test_support.h"

namespace {

using namespace import_testing;
using testing_support::readFile;
using testing_support::TempDir;

constexpr int64_t LEAD_IN = 240;

int64_t nearestFine(int64_t tick, int division) {
  return LEAD_IN + (tick * 64 + division) / (2 * division) * 15;
}

// Checks the notes the imported score plays against the file's own; returns how many moved.
int checkNearestGrid(const std::string& original, const ImportResult& imported) {
  const MidiFacts source = readFacts(original);
  const MidiFacts got = playedAfterImport(imported);
  EXPECT_TRUE(source.readable && got.readable);
  const int div = source.division;
  struct Want {
    int key;
    int64_t on, offNearest, offExact;  // offExact -1 when 480 a quarter cannot hold it
    double exactOn, exactOff;          // at 480 a quarter
    int velocity;
    bool onGrid;
  };
  std::vector<Want> want;
  for (const Note& n : source.notes) {
    const auto [channel, key, on, off, velocity] = n;
    const int level = std::clamp((velocity + 5) / 8, 1, 16);
    want.push_back({key, nearestFine(on, div), nearestFine(off, div),
                    off * 480 % div == 0 ? LEAD_IN + off * 480 / div : -1,
                    LEAD_IN + on * 480.0 / div, LEAD_IN + off * 480.0 / div, level * 8 - 1,
                    on * 32 % div == 0 && off * 32 % div == 0});
  }
  auto order = [](const auto& a, const auto& b) {
    return std::tie(a.key, a.on) < std::tie(b.key, b.on);
  };
  std::sort(want.begin(), want.end(), order);
  struct Got {
    int key;
    int64_t on, off;
    int velocity;
  };
  std::vector<Got> played;
  for (const Note& n : got.notes) {
    played.push_back({std::get<1>(n), std::get<2>(n), std::get<3>(n), std::get<4>(n)});
  }
  std::sort(played.begin(), played.end(), order);
  EXPECT_EQ(played.size(), want.size());
  int moved = 0;
  for (size_t i = 0; i < std::min(played.size(), want.size()); ++i) {
    const Want& w = want[i];
    const Got& g = played[i];
    SCOPED_TRACE("note " + std::to_string(w.key) + " at " + std::to_string(w.on));
    EXPECT_EQ(g.key, w.key);
    // The nearest grid point, or a tuplet's point within a unit of the note's time.
    EXPECT_TRUE(g.on == w.on || std::abs(g.on - w.exactOn) < 15) << g.on;
    EXPECT_TRUE(g.off == w.offNearest || g.off == w.offExact || std::abs(g.off - w.exactOff) < 15)
        << g.off;
    EXPECT_EQ(g.velocity, w.velocity);
    if (w.onGrid) {
      EXPECT_EQ(g.off, w.offExact);
    }
  }
  // A note moved when it does not start and end where the file's does.
  std::vector<std::pair<int64_t, int64_t>> exact, heard;
  for (const Note& n : source.notes) {
    exact.push_back({std::get<2>(n) * 480, std::get<3>(n) * 480});
  }
  for (const Got& g : played) heard.push_back({(g.on - LEAD_IN) * div, (g.off - LEAD_IN) * div});
  std::sort(exact.begin(), exact.end());
  std::sort(heard.begin(), heard.end());
  std::vector<std::pair<int64_t, int64_t>> kept;
  std::set_intersection(exact.begin(), exact.end(), heard.begin(), heard.end(),
                        std::back_inserter(kept));
  moved = static_cast<int>(source.notes.size() - kept.size());
  EXPECT_EQ(reportedCount(imported, ImportText::NotesMoved), moved);
  return moved;
}

TEST(ImportOtherPrograms, MidoFilesOfEachFormatAndDivision) {
  for (const char* name : {"mido_f0_96.mid", "mido_f0_384.mid", "mido_f0_480.mid", "mido_f1_96.mid",
                           "mido_f1_384.mid", "mido_f1_480.mid"}) {
    SCOPED_TRACE(name);
    std::string midi;
    ASSERT_TRUE(midoFile(name, midi)) << midi;
    const ImportResult imported = importBytes(midi);
    ASSERT_TRUE(imported.ok) << japanese(imported.error);
    SCOPED_TRACE(imported.text);
    const int moved = checkNearestGrid(midi, imported);
    if (std::string(name).find("_96") == std::string::npos) {
      EXPECT_GT(moved, 0);
    }
    EXPECT_EQ(reportedCount(imported, ImportText::VelocitiesRounded),
              1);  // the one velocity of 100
    const MidiFacts got = playedAfterImport(imported);
    EXPECT_EQ(got.programs, std::vector<Change>{Change(1, LEAD_IN, 40)});
    EXPECT_EQ(got.pans, std::vector<Change>{Change(1, LEAD_IN, 30)});
    EXPECT_EQ(got.tempos.size(), 2u);  // 100 from the start, 150 after six quarters
    EXPECT_NE(imported.text.find("// 小節 2"), std::string::npos);
  }
}

const char* const TUNES[][2] = {
    {"walk.abc",
     "X:1\nT:Lantern Walk\nM:4/4\nL:1/8\nQ:1/4=100\nK:G\n"
     "GABc d2 B2 | (3cBA (3GFE D4 | gfed B2 G2 | A>B c<d G4 |]\n"},
    {"voices.abc",
     "X:1\nT:Two Voices\nM:6/8\nL:1/8\nQ:3/8=60\nK:D\nV:1\nd2f afd | e2g bge | [df]3 [ce]3 | d6 "
     "|]\n"
     "V:2\nD3 F3 | E3 A,3 | B,3 A,3 | D6 |]\n"},
    {"waltz.abc",
     "X:1\nT:Small Waltz\nM:3/4\nL:1/4\nQ:1/4=144\nK:F\nF A c | f2 e | d/c/B/A/ G | F3 |]\n"},
};

TEST(ImportOtherPrograms, Abc2midiTunes) {
#ifndef ABC2MIDI_PATH
  FAIL() << "abc2midi is missing: run scripts/install-deps test (Debian package abcmidi)";
#else
  TempDir dir;
  for (const auto& [name, tune] : TUNES) {
    SCOPED_TRACE(name);
    testing_support::writeFile(dir.file(name), tune);
    const std::string mid = dir.file(std::string(name) + ".mid");
    const testing_support::RunResult run = testing_support::runCommand(
        std::string(ABC2MIDI_PATH) + " " + dir.file(name) + " -o " + mid + " 2>&1");
    ASSERT_EQ(run.status, 0) << run.out;
    std::string midi;
    ASSERT_TRUE(readFile(mid, midi));
    const ImportResult imported = importBytes(midi);
    ASSERT_TRUE(imported.ok) << japanese(imported.error);
    SCOPED_TRACE(imported.text);
    checkNearestGrid(midi, imported);
    EXPECT_EQ(imported.text.rfind("sn(\"", 0), 0u);  // the tune's title
  }
#endif
}

}  // namespace
