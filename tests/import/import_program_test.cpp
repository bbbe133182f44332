// The tarvk32-import program as a user runs it: the score on standard output or in the -o file
// (read back), the report on standard error, the encoding, and exit status 1 with no file left
// when the input is refused. Everything it says is English.
#include <gtest/gtest.h>

#include "tests/import/smf_builder.h"
#include "tests/support/test_support.h"

namespace {

using import_testing::SmfBuilder;
using testing_support::fileExists;
using testing_support::listDirectory;
using testing_support::readFile;
using testing_support::runCommand;
using testing_support::TempDir;
using testing_support::writeFile;

class ImportProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    SmfBuilder smf(1, 480);
    smf.track().meta(0, 3, "\xE6\x9B\xB2");  // 曲, UTF-8 in the file
    smf.track().note(1, 60, 0, 480).note(1, 62, 480, 967).event(0, {0xE1, 0, 0x50});
    writeFile(dir.file("song.mid"), smf.bytes());
  }
  testing_support::RunResult run(const std::string& arguments) {
    return runCommand("cd " + dir.path() + " && " TARVK32_IMPORT_PATH " " + arguments +
                      " 2>err.txt");
  }
  std::string errors() {
    std::string text;
    readFile(dir.file("err.txt"), text);
    return text;
  }
  TempDir dir;
};

const char SCORE_CP932[] =
    "sn(\"\x8B\xC8\")\r\n\r\nch1 {\r\n  \"l4 o3 c d\"  // \x8F\xAC\x90\xDF 1\r\n}\r\n";
const char REPORT[] =
    "tarvk32-import: notes off the grid moved: 1 (max 7 ticks)\n"
    "tarvk32-import: pitch bends not kept: 1\n";
const char USAGE[] =
    "usage: tarvk32-import <file.mid> [-o <file.fms>] [--encoding cp932|utf-8]\n"
    "  -o          score output (default: standard output)\n"
    "  --encoding  score encoding (default: cp932)\n";

TEST_F(ImportProgram, WritesTheScoreToStandardOutputAndTheReportToStandardError) {
  const testing_support::RunResult result = run("song.mid");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, SCORE_CP932);
  EXPECT_EQ(errors(), REPORT);
}

TEST_F(ImportProgram, WritesTheOutputFileWholeInTheChosenEncoding) {
  EXPECT_EQ(run("song.mid -o song.fms").status, 0);
  std::string score;
  ASSERT_TRUE(readFile(dir.file("song.fms"), score));
  EXPECT_EQ(score, SCORE_CP932);
  EXPECT_EQ(run("--encoding utf-8 -o song.fms song.mid").status, 0);
  ASSERT_TRUE(readFile(dir.file("song.fms"), score));
  EXPECT_EQ(score, "sn(\"曲\")\r\n\r\nch1 {\r\n  \"l4 o3 c d\"  // 小節 1\r\n}\r\n");
  EXPECT_EQ(listDirectory(dir.path()).size(), 3u);  // song.mid, song.fms, err.txt: no temporary
}

TEST_F(ImportProgram, RefusesWithStatusOneAndLeavesNoFile) {
  writeFile(dir.file("cut.mid"), std::string("MThd\0\0\0\6\0\1\0\1\1\xE0MTrk\0\0\0\x10", 22));
  EXPECT_EQ(run("cut.mid -o cut.fms").status, 1);
  EXPECT_EQ(errors(), "tarvk32-import: cut.mid: file cut short\n");
  EXPECT_FALSE(fileExists(dir.file("cut.fms")));
  writeFile(dir.file("format2.mid"), std::string("MThd\0\0\0\6\0\2\0\1\1\xE0", 14));
  EXPECT_EQ(run("format2.mid").status, 1);
  EXPECT_EQ(errors(), "tarvk32-import: format2.mid: format 2 not supported (0 and 1 only)\n");
  EXPECT_EQ(run("missing.mid").status, 1);
  EXPECT_EQ(errors(), "tarvk32-import: missing.mid: can not open (No such file or directory)\n");
  EXPECT_EQ(run(". -o x.fms").status, 1);
  EXPECT_EQ(errors(), "tarvk32-import: .: not a regular file\n");
  EXPECT_FALSE(fileExists(dir.file("x.fms")));
}

TEST_F(ImportProgram, OutputThatCannotBeWrittenIsNamedAfterTheReport) {
  EXPECT_EQ(run("song.mid -o /nonexistent/dir/x.fms").status, 1);
  EXPECT_EQ(errors(),
            std::string(REPORT) + "tarvk32-import: /nonexistent/dir/x.fms: can not create\n");
}

TEST_F(ImportProgram, WrongArgumentsAreNamedAndTheUsageShown) {
  struct Case {
    const char* arguments;
    std::string errors;
  };
  const Case cases[] = {
      {"", USAGE},
      {"song.mid -x", std::string(USAGE) + "tarvk32-import: -x: unknown option\n"},
      {"song.mid other.mid",
       std::string(USAGE) + "tarvk32-import: other.mid: only one MIDI file\n"},
      {"song.mid -o", "tarvk32-import: -o: value missing\n"},
      {"song.mid --encoding latin1", "tarvk32-import: latin1: encoding must be cp932 or utf-8\n"},
  };
  for (const Case& c : cases) {
    const testing_support::RunResult result = run(c.arguments);
    EXPECT_EQ(result.status, 1) << c.arguments;
    EXPECT_EQ(result.out, "") << c.arguments;
    EXPECT_EQ(errors(), c.errors) << c.arguments;
  }
  const testing_support::RunResult help = run("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, USAGE);
  EXPECT_EQ(errors(), "");
}

}  // namespace
