// A voice of more notes and rests than a channel holds goes on in a free channel from a bar line
// where no note sounds across; where no channel is free (the drums), the score keeps what fits
// and names the first bar left out. The file is imported, never refused whole.
#include <gtest/gtest.h>

#include "tests/fuzz/import_case.h"
#include "tests/import/import_helpers.h"
#include "tests/import/smf_builder.h"

namespace {

using namespace import_testing;

constexpr int HITS = 40000;
constexpr int64_t SIXTEENTH = 120;
constexpr int64_t LEAD_IN = 240;

// Sixteenths whose velocity changes with every note: two events each, 80000 in all.
std::string sixteenths(int channel) {
  SmfBuilder smf(0, 480);
  smf.track();
  for (int i = 0; i < HITS; ++i) {
    smf.note(channel, channel == 9 ? 42 : 60 + i % 7, i * SIXTEENTH, (i + 1) * SIXTEENTH,
             i % 2 ? 63 : 95);
  }
  return smf.bytes();
}

// (key, on, off, velocity) of each note, whatever its channel.
std::vector<std::tuple<int, int64_t, int64_t, int>> played(const std::vector<Note>& notes) {
  std::vector<std::tuple<int, int64_t, int64_t, int>> out;
  for (const auto& [channel, key, on, off, velocity] : notes)
    out.emplace_back(key, on, off, velocity);
  std::sort(out.begin(), out.end(),
            [](const auto& a, const auto& b) { return std::get<1>(a) < std::get<1>(b); });
  return out;
}

TEST(ImportBigFiles, AVoiceBeyondAChannelGoesOnInAFreeChannel) {
  const std::string midi = sixteenths(0);
  EXPECT_EQ(fuzzing::checkImport(reinterpret_cast<const uint8_t*>(midi.data()), midi.size()), "");
  const ImportResult imported = importBytes(midi);
  ASSERT_TRUE(imported.ok) << japanese(imported.error);
  EXPECT_EQ(imported.notes, HITS);
  EXPECT_EQ(imported.voices, 3);
  std::vector<std::string> english;
  for (const ImportMessage& m : imported.report) {
    english.push_back(formatImportMessage(m, ImportLanguage::English));
  }
  EXPECT_EQ(english,
            (std::vector<std::string>{"ch1 over 32000 notes and rests: from bar 1001 on in ch2",
                                      "ch2 over 32000 notes and rests: from bar 1969 on in ch3"}));
  std::vector<std::tuple<int, int64_t, int64_t, int>> want;
  for (const auto& [channel, key, on, off, velocity] : readFacts(midi).notes) {
    want.emplace_back(key, LEAD_IN + on, LEAD_IN + off, velocity);
  }
  std::sort(want.begin(), want.end(),
            [](const auto& a, const auto& b) { return std::get<1>(a) < std::get<1>(b); });
  EXPECT_EQ(played(playedAfterImport(imported).notes), want);
}

TEST(ImportBigFiles, DrumsBeyondAChannelKeepWhatFitsAndNameTheFirstBarLeftOut) {
  const std::string midi = sixteenths(9);
  const ImportResult imported = importBytes(midi);
  ASSERT_TRUE(imported.ok) << japanese(imported.error);
  EXPECT_EQ(reportLines(imported),
            std::vector<std::string>{"ch9 の音と休符が 32000 個を超え、空いたチャンネルもないため、"
                                     "小節 1001 からの音符 24000 個を省きました"});
  const MidiFacts got = playedAfterImport(imported);
  ASSERT_EQ(got.notes.size(), 16000u);
  EXPECT_EQ(std::get<2>(got.notes.back()), LEAD_IN + 15999 * SIXTEENTH);
}

}  // namespace
