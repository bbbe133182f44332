#include <gtest/gtest.h>

#include "tests/support/test_support.h"

using namespace testing_support;

TEST(WorkedExample, OneQuarterNoteGivesTheKnownFile) {
  MemoryCompile c(FLAVOUR_EDITOR, "ch1 { \"o3 c\" }\r\n");
  ASSERT_EQ(c.run(), 0);
  EXPECT_EQ(hex(c.host.kept),
            "4D 54 68 64 00 00 00 06 00 01 00 02 01 E0 "
            "4D 54 72 6B 00 00 00 1C 00 FF 58 04 01 03 18 08 81 70 FF 51 03 07 A1 20 00 "
            "FF 58 04 04 02 18 08 00 FF 2F 00 "
            "4D 54 72 6B 00 00 00 1C 00 F0 05 7E 7F 09 01 F7 81 10 B1 78 00 60 C1 00 00 91 "
            "3C 4F 83 60 3C 00 00 FF 2F 00");
}
