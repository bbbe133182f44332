// The report counts only the notes the score keeps: velocities rounded, notes transposed by
// octaves or moved are not counted for notes of voices beyond the nine channels, nor for
// zero-length notes a tuplet has no room for.
#include <gtest/gtest.h>

#include "tests/import/import_helpers.h"
#include "tests/import/smf_builder.h"

namespace {

using namespace import_testing;

constexpr int64_t Q = 480;

// Ten notes at once, each of a velocity between two levels, beside the grid and below the eight
// octaves: eight voices keep theirs, the two dropped are not counted.
TEST(ImportReport, CountsAreOfTheNotesKeptBeyondTheChannels) {
  SmfBuilder smf(0, 480);
  smf.track();
  for (int key = 12; key < 22; ++key) smf.note(0, key, 4 * Q + 3, 5 * Q, 100);
  const ImportResult imported = importBytes(smf.bytes());
  ASSERT_TRUE(imported.ok);
  EXPECT_EQ(imported.notes, 8);
  EXPECT_EQ(reportedCount(imported, ImportText::NotesDropped), 2);
  EXPECT_EQ(reportedCount(imported, ImportText::VelocitiesRounded), 8);
  EXPECT_EQ(reportedCount(imported, ImportText::NotesTransposed), 8);
  EXPECT_EQ(reportedCount(imported, ImportText::NotesMoved), 8);
}

// A quarter, then 40 notes of no length where it ends: 30 join its tuplet, and the report counts
// those 30 and the quarter.
TEST(ImportReport, CountsAreOfTheNotesKeptAtACrowdedGridPoint) {
  SmfBuilder smf(0, 480);
  smf.track().note(0, 60, 0, Q, 100);
  for (int k = 0; k < 40; ++k) smf.note(0, 30 + k, Q, Q, 100);
  const ImportResult imported = importBytes(smf.bytes());
  ASSERT_TRUE(imported.ok);
  EXPECT_EQ(imported.notes, 31);
  EXPECT_EQ(reportedCount(imported, ImportText::ZeroLengthCrowded), 10);
  EXPECT_EQ(reportedCount(imported, ImportText::VelocitiesRounded), 31);
}

}  // namespace
