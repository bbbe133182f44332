// Untidy files are read as other readers read them, and the report says what was taken: running
// status behind a meta or SysEx event, and a header naming more tracks than the file holds.
#include <gtest/gtest.h>

#include "tests/import/import_helpers.h"
#include "tests/import/smf_builder.h"

namespace {

using namespace import_testing;

constexpr int64_t Q = 96;  // the files' division
constexpr int64_t LEAD_IN = 240;

TEST(ImportUntidyFiles, RunningStatusBehindAMetaOrSysExEventGoesOn) {
  static constexpr char BODY[] =
      "\x00\x90\x3C\x4F"   // note-on
      "\x60\x3C\x00"       // its note-off on running status
      "\x00\xFF\x01\x01x"  // a text
      "\x00\x3E\x4F"       // running status behind it
      "\x60\x3E\x00"
      "\x00\xF0\x02\x7E\xF7"  // a SysEx
      "\x00\x40\x4F"          // running status behind it
      "\x60\x40\x00"
      "\x00\xFF\x2F\x00";
  const std::string body(BODY, sizeof BODY - 1);
  const std::string midi = std::string("MThd\0\0\0\6\0\0\0\1\0\x60", 14) + "MTrk" +
                           std::string("\0\0\0", 3) + static_cast<char>(body.size()) + body;
  const ImportResult imported = importBytes(midi);
  ASSERT_TRUE(imported.ok) << japanese(imported.error);
  EXPECT_EQ(playedAfterImport(imported).notes,
            (std::vector<Note>{{1, 60, LEAD_IN, LEAD_IN + 480, 79},
                               {1, 62, LEAD_IN + 480, LEAD_IN + 960, 79},
                               {1, 64, LEAD_IN + 960, LEAD_IN + 1440, 79}}));
  EXPECT_EQ(formatImportMessage(imported.report.at(0), ImportLanguage::English),
            "events on running status behind a meta or SysEx event, read as the status before: 2");
}

TEST(ImportUntidyFiles, AHeaderNamingMoreTracksThanFollowKeepsThoseThatDo) {
  SmfBuilder smf(1, Q);
  smf.track().track().note(0, 60, 0, Q).track().note(1, 64, 0, Q);
  std::string midi = smf.bytes();
  midi[11] = 5;  // five tracks named, three present
  const ImportResult imported = importBytes(midi);
  ASSERT_TRUE(imported.ok) << japanese(imported.error);
  EXPECT_EQ(playedAfterImport(imported).notes.size(), 2u);
  EXPECT_EQ(reportLines(imported),
            std::vector<std::string>{"ヘッダはトラック 5 個としていますが、ファイルには 3 "
                                     "個しかありません。あるものを読みました"});
  // A track cut inside is still refused: its chunk runs past the end.
  EXPECT_FALSE(importBytes(midi.substr(0, midi.size() - 2)).ok);
}

}  // namespace
