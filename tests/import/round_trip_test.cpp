// Random scores compiled, imported and compiled again sound the same: the notes with their
// channel, key, times and velocity, the programs, pans and tempo map.
#include <gtest/gtest.h>

#include "import/midi_import.h"
#include "tests/import/import_helpers.h"
#include "tests/import/midi_facts.h"
#include "tests/support/memory_host.h"
#include "tests/support/random_score.h"

namespace {

using import_testing::japanese;
using import_testing::MidiFacts;
using import_testing::readFacts;
using import_testing::reportLines;

constexpr int SCORES = 500;

// The score compiled as tarvk32c compiles a file (CR LF lines); false when it does not compile.
// A score without a channel that holds anything compiles to an empty file.
bool compile(const std::string& score, std::string& midi) {
  MemoryCompile compilation(FLAVOUR_CONSOLE, score);
  if (compilation.run() != 0) return false;
  midi.assign(compilation.host.kept.begin(), compilation.host.kept.end());
  return true;
}

MidiFacts factsOf(const std::string& midi) {
  if (midi.empty()) {
    MidiFacts none;
    none.readable = true;
    return none;
  }
  return readFacts(midi);
}

std::string withCrLf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out + "\r\n";
}

// The random scores, each changed by `edit`, compiled, imported and compiled again; `compared`
// counts the scores that compiled.
template <typename Edit>
void roundTrips(Edit edit, int& compared) {
  testing_support::RandomScoreWriter writer(2611);
  for (int i = 0; i < SCORES; ++i) {
    testing_support::RandomScore score = writer.next();
    edit(score.text);
    std::string midi;
    if (!compile(withCrLf(score.text), midi) || midi.empty()) continue;
    SCOPED_TRACE("score " + std::to_string(i) + ":\n" + score.text);
    const ImportResult imported = importMidi(reinterpret_cast<const uint8_t*>(midi.data()),
                                             midi.size(), ScoreEncoding::Cp932);
    ASSERT_TRUE(imported.ok) << japanese(imported.error);
    SCOPED_TRACE("imported:\n" + imported.text);
    std::string again;
    ASSERT_TRUE(compile(imported.bytes, again)) << "the imported score does not compile";
    const MidiFacts want = factsOf(midi);
    const MidiFacts got = factsOf(again);
    ASSERT_TRUE(want.readable && got.readable);
    ASSERT_EQ(got.notes, want.notes);
    ASSERT_EQ(got.programs, want.programs);
    ASSERT_EQ(got.pans, want.pans);
    ASSERT_EQ(got.tempos, want.tempos);
    // The header texts come back (the generator writes these two).
    if (score.text.find("sn(") != std::string::npos) {
      EXPECT_NE(imported.text.find("sn(\"a song\")\n"), std::string::npos);
    }
    if (score.text.find("cr(") != std::string::npos) {
      EXPECT_NE(imported.text.find("cr(\"(c) someone\")\n"), std::string::npos);
    }
    EXPECT_EQ(reportLines(imported), std::vector<std::string>());
    ++compared;
  }
}

TEST(ImportRoundTrip, RandomScoresCompileBackToTheSameMusic) {
  int compared = 0;
  roundTrips([](std::string&) {}, compared);
  EXPECT_GT(compared, SCORES * 9 / 10);
}

// The first channel moved to the drum channel, whose notes are written by code where they can.
TEST(ImportRoundTrip, RandomScoresOnTheDrumChannelCompileBackToTheSameMusic) {
  int compared = 0;
  roundTrips(
      [](std::string& text) {
        for (size_t at = 0; (at = text.find("ch1", at)) != std::string::npos; at += 3) {
          text[at + 2] = '9';
        }
      },
      compared);
  EXPECT_GT(compared, SCORES * 9 / 10);
}

}  // namespace
