// Files whose scores meet the language's limits: more zero-length notes at one grid point than
// the tuplet they join holds, and bars whose commands are more than one line holds. Each import
// must still compile, in tarvk32c and in the editor, and report what it left out.
#include <gtest/gtest.h>

#include "tests/fuzz/import_case.h"
#include "tests/import/import_helpers.h"
#include "tests/import/smf_builder.h"

namespace {

using namespace import_testing;

constexpr int64_t Q = 480;
constexpr int64_t LEAD_IN = 240;  // where the compiled score's music starts

// Imports the file, asserts that every encoding's score compiles in tarvk32c and the editor, and
// returns the code page 932 import.
ImportResult importCompiling(const std::string& midi) {
  EXPECT_EQ(fuzzing::checkImport(reinterpret_cast<const uint8_t*>(midi.data()), midi.size()), "");
  return importBytes(midi);
}

// The score's lines as tarvk32c reads them, without their CR LF.
std::vector<std::string> scoreLines(const ImportResult& imported) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = imported.bytes.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    lines.push_back(imported.bytes.substr(start, end - start));
  }
  return lines;
}

// A quarter note, then `zeros` notes of no length where it ends, each of its own key.
std::string noteWithZeroLengthNotes(int channel, int zeros) {
  SmfBuilder smf(0, 480);
  smf.track().note(channel, 60, 0, Q);
  for (int k = 0; k < zeros; ++k) smf.note(channel, 30 + k % 80, Q, Q);
  return smf.bytes();
}

TEST(ImportScoreLimits, ZeroLengthNotesBeyondATupletsRoomAreDroppedAndReported) {
  for (const int channel : {0, 9}) {
    for (const int zeros : {30, 31, 32, 200}) {
      SCOPED_TRACE("channel " + std::to_string(channel) + ", " + std::to_string(zeros));
      const ImportResult imported = importCompiling(noteWithZeroLengthNotes(channel, zeros));
      ASSERT_TRUE(imported.ok) << japanese(imported.error);
      const int kept = std::min(zeros, 30);
      EXPECT_EQ(imported.notes, 1 + kept);
      EXPECT_EQ(playedAfterImport(imported).notes.size(), static_cast<size_t>(1 + kept));
      std::vector<std::string> crowded;
      for (const ImportMessage& item : imported.report) {
        if (item.kind == ImportText::ZeroLengthCrowded) {
          crowded.push_back(formatImportMessage(item, ImportLanguage::English));
          crowded.push_back(japanese(item));
        }
      }
      std::vector<std::string> want;
      if (zeros > kept) {
        const std::string dropped = std::to_string(zeros - kept);
        want = {"zero-length notes over 30 at one grid point dropped: " + dropped,
                "一つの格子点で 30 個を超える長さ 0 の音符 " + dropped + " 個を捨てました"};
      }
      EXPECT_EQ(crowded, want);
    }
  }
}

// At 32767 ticks a quarter a unit holds about a thousand notes of one tick: each unit's first
// note is written with the next 30. A thousand notes fill two units; a bar's worth makes the bar
// far longer than a line.
TEST(ImportScoreLimits, OneTickNotesAtTheFinestDivisionKeepThirtyAUnitAndEveryNoteIsCounted) {
  for (const int notes : {1024, 140000}) {
    SCOPED_TRACE(std::to_string(notes) + " notes");
    SmfBuilder smf(0, 0x7FFF);
    smf.track();
    for (int k = 0; k < notes; ++k) smf.note(0, 60 + k % 12, k, k + 1);
    const ImportResult imported = importCompiling(smf.bytes());
    ASSERT_TRUE(imported.ok) << japanese(imported.error);
    const int crowded = reportedCount(imported, ImportText::ZeroLengthCrowded);
    EXPECT_GT(crowded, 0);
    EXPECT_EQ(imported.notes + crowded + reportedCount(imported, ImportText::ZeroLengthDropped),
              notes);
    EXPECT_EQ(playedAfterImport(imported).notes.size(), static_cast<size_t>(imported.notes));
    for (const std::string& line : scoreLines(imported))
      EXPECT_LE(line.size(), fuzzing::LINE_BYTES_MAX);
  }
}

// A bar of 255 quarters filled with 32nd notes that each change the velocity and leap octaves
// takes several lines; each continuation opens with the octave its first step counts from.
TEST(ImportScoreLimits, ABarLongerThanALineGoesOnInLinesThatKeepEveryNote) {
  for (const int channel : {0, 9}) {
    SCOPED_TRACE("channel " + std::to_string(channel));
    SmfBuilder smf(0, 480);
    smf.track().meta(0, 0x58, std::string("\xFF\x02\x18\x08", 4));
    std::vector<Note> want;
    const int64_t D = Q / 8;
    for (int k = 0; k < 600; ++k) {
      const int key = (k % 4) * 20 + 30 + k % 7;
      const int velocity = 8 * (1 + k % 16) - 1;
      const int64_t length = channel == 9 && k % 5 == 0 ? 2 * D : D;  // letters among the codes
      smf.note(channel, key, k * 2 * D, k * 2 * D + length, velocity);
      want.push_back(
          {channel == 9 ? 9 : 1, key, k * 2 * D + LEAD_IN, k * 2 * D + length + LEAD_IN, velocity});
    }
    const ImportResult imported = importCompiling(smf.bytes());
    ASSERT_TRUE(imported.ok) << japanese(imported.error);
    const std::vector<std::string> lines = scoreLines(imported);
    size_t barLines = 0;
    for (const std::string& line : lines) {
      EXPECT_LE(line.size(), fuzzing::LINE_BYTES_MAX);
      if (line.ends_with(" 1")) ++barLines;
    }
    EXPECT_GT(barLines, 2u);
    std::sort(want.begin(), want.end());
    EXPECT_EQ(playedAfterImport(imported).notes, want);
  }
}

}  // namespace
