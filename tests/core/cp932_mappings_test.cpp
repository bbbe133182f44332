// The listed code page 932, which the web page's build reads, against glibc's iconv, which the
// desktop programs read: the same tables, so a score's bytes mean the same everywhere.
#include "core/cp932_mappings.h"

#include <gtest/gtest.h>

namespace {

TEST(Cp932Mappings, ListIsWhatIconvAnswers) {
  const std::vector<Cp932MappingRun> fromIconv = iconvCp932MappingRuns();
  ASSERT_FALSE(fromIconv.empty()) << "glibc's iconv has no CP932 here";
  ASSERT_EQ(CP932_MAPPING_RUNS.size(), fromIconv.size());
  for (size_t i = 0; i < fromIconv.size(); ++i) {
    const Cp932MappingRun& listed = CP932_MAPPING_RUNS[i];
    const Cp932MappingRun& answered = fromIconv[i];
    ASSERT_EQ(listed, answered) << "run " << i << ": listed code " << std::hex << listed.code
                                << " char " << uint32_t(listed.c) << ", iconv code "
                                << answered.code << " char " << uint32_t(answered.c);
  }
}

TEST(Cp932Mappings, TablesFromTheListEqualTablesFromIconv) {
  const std::unique_ptr<Cp932Tables> listed = listedCp932Tables();
  const std::unique_ptr<Cp932Tables> iconv = iconvCp932Tables();
  for (unsigned b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    EXPECT_EQ(listed->single[b], iconv->single[b]);
    EXPECT_EQ(listed->lead[b], iconv->lead[b]);
  }
  for (unsigned i = 0; i < 0x10000; ++i) {
    if (listed->pair[i] != iconv->pair[i] || listed->code[i] != iconv->code[i])
      FAIL() << std::hex << "pair or code " << i << ": listed " << uint32_t(listed->pair[i])
             << " / " << listed->code[i] << ", iconv " << uint32_t(iconv->pair[i]) << " / "
             << iconv->code[i];
  }
  // The list holds the escaped pairs too: NEC's and IBM's duplicates decode but do not come back.
  EXPECT_EQ(listed->pair[0xED40], Cp932Tables::ESCAPED_PAIR);
  EXPECT_EQ(listed->single[0x80], ESCAPE_BASE + 0x80);
}

}  // namespace
