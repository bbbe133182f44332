#include <gtest/gtest.h>

#include "tests/support/test_support.h"

using namespace testing_support;

TEST(ConsoleSmoke, NoArgumentsPrintsUsage) {
  RunResult r = runTarvk32c({}, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("tarvk32c <filename> [-f]\n"), std::string::npos);
}
