// A voice is counted before it is written: the count decides whether it fits a channel, and
// where it does not, the bars the count reached tell where it may be cut. The count must be the
// events the written text holds, the writing must happen only for a voice that fits, and what
// the import leaves out must not change what it says of the file.
#include <gtest/gtest.h>

#include "import/score_text.h"
#include "import/voice_layout.h"
#include "tests/import/import_helpers.h"
#include "tests/import/smf_builder.h"

namespace {

using namespace import_testing;

constexpr int64_t BAR = 128;  // units of a 4/4 bar
constexpr int64_t UNLIMITED = 1000000;

// Four notes and a rest over three bars: c4 at the start's level and gate; a short d at another
// level and gate; the rest of the beat (two rests); e2; f tied from the second bar into the
// third at the first level again.
std::vector<VoiceItem> items() {
  return {{0, 32, 60, 10, 7},
          {32, 4, 62, 12, 3},
          {36, 28, 0, 0, 7},
          {64, 64, 64, 12, 7},
          {128, 160, 65, 10, 7}};
}

const BarStarts BARS = {0, BAR, 2 * BAR, 3 * BAR};

bool layout(int64_t limit, std::string& out, LayoutCounts& counts) {
  return layoutVoice(items(), {}, BARS, NoteForm::Letter, Joining::Tied, {}, limit, out, counts);
}

// The text holds c; q4 v12 d; two rests; e (7 events before the second bar), v10 and f1& (3
// more before the third), f4 (1): 11 events.
TEST(ImportVoiceFit, TheCountIsTheEventsTheTextHolds) {
  std::string out;
  LayoutCounts counts;
  ASSERT_TRUE(layout(UNLIMITED, out, counts));
  EXPECT_EQ(out,
            "  \"l4 o3 c q4 v12 d32r8.r32 e2\"  // 小節 1\n"
            "  \"o3 v10 f1&\"  // 小節 2\n"
            "  \"o3 f\"  // 小節 3\n");
  EXPECT_EQ(counts.events, 11);
  EXPECT_EQ(counts.eventsBefore, (std::vector<int64_t>{0, 7, 10, 11}));
}

// At the limit the voice is written as without one; one event less and nothing is written, and
// the count ends with the first bar that takes it past the limit.
TEST(ImportVoiceFit, AVoicePastTheLimitIsCountedToTheFirstBarBeyondAndNotWritten) {
  std::string whole;
  LayoutCounts counts;
  ASSERT_TRUE(layout(UNLIMITED, whole, counts));

  std::string out;
  counts = LayoutCounts();
  EXPECT_TRUE(layout(11, out, counts));
  EXPECT_EQ(out, whole);

  out = "before";
  counts = LayoutCounts();
  EXPECT_FALSE(layout(10, out, counts));
  EXPECT_EQ(out, "before");
  EXPECT_EQ(counts.events, 11);
  EXPECT_EQ(counts.eventsBefore, (std::vector<int64_t>{0, 7, 10, 11}));

  counts = LayoutCounts();
  EXPECT_FALSE(layout(9, out, counts));
  EXPECT_EQ(counts.eventsBefore, (std::vector<int64_t>{0, 7, 10}));
}

// A file whose notes the chosen parts all leave out still has notes: its score says nothing of a
// file without them, and the report counts the notes left out.
TEST(ImportVoiceFit, NotesLeftOutByThePartsChosenAreNoFileWithoutNotes) {
  const std::string midi =
      SmfBuilder(1, 480).track().note(0, 60, 0, 480).note(0, 62, 480, 960).bytes();
  ImportOptions options;
  options.parts = {2};
  const ImportResult result = importMidi(reinterpret_cast<const uint8_t*>(midi.data()), midi.size(),
                                         ScoreEncoding::Utf8, options);
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(result.text.find("音符のない"), std::string::npos) << result.text;
  const std::vector<std::string> lines = reportLines(result);
  for (const std::string& line : lines) {
    EXPECT_NE(line, japanese({ImportText::NoNotes, {}}));
  }
  EXPECT_NE(std::find(lines.begin(), lines.end(), japanese({ImportText::PartsLeftOut, {"2"}})),
            lines.end());
}

// Line ends become CR LF in either encoding; code page 932 takes the bar comment's characters
// as its two-byte codes, UTF-8 as they are; a character code page 932 lacks refuses the text.
TEST(ImportVoiceFit, TheScoreIsEncodedWithCrLfLineEnds) {
  std::string bytes;
  ASSERT_TRUE(encodeScore("ch1 {\n  \"c\"  // 小節 1\n}\n", ScoreEncoding::Cp932, bytes));
  EXPECT_EQ(bytes, "ch1 {\r\n  \"c\"  // \x8F\xAC\x90\xDF 1\r\n}\r\n");
  ASSERT_TRUE(encodeScore("// 小節\n\n", ScoreEncoding::Utf8, bytes));
  EXPECT_EQ(bytes, "// 小節\r\n\r\n");
  EXPECT_FALSE(encodeScore("// 😀\n", ScoreEncoding::Cp932, bytes));
}

}  // namespace
