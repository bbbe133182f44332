// The tarvk32-import program as a user runs it: the score on standard output or in the -o file
// (read back), the report on standard error, the encoding, and exit status 1 with no file left
// when the input is refused. Everything it says is English.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

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
    "usage: tarvk32-import <file.mid> [-o <file.fms>] [--encoding cp932|utf-8] [--parts 1,3]\n"
    "                      [--grid 16|8t|...] [--steady-velocity]\n"
    "       tarvk32-import --list <file.mid>\n"
    "  -o          score output (default: standard output)\n"
    "  --encoding  score encoding (default: cp932)\n"
    "  --list      list the file's parts (track, MIDI channel, program, notes, voices)\n"
    "  --parts     import only these parts, numbered as --list numbers them\n"
    "  --grid      snap played notes to this grid (16: sixteenths, 8t: eighth triplets)\n"
    "  --steady-velocity  a change of one velocity level keeps the level before\n";

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
  EXPECT_EQ(
      errors(),
      std::string(REPORT) +
          "tarvk32-import: /nonexistent/dir/x.fms: can not create (No such file or directory)\n");
}

// -o never replaces the MIDI file itself, nor a folder, a device or a named pipe: the first
// two are refused before anything is read, a device or a pipe with a reader is written into.
TEST_F(ImportProgram, OutputNamesThatAreNotAScoreToReplace) {
  std::string midi;
  ASSERT_TRUE(readFile(dir.file("song.mid"), midi));
  ASSERT_EQ(
      runCommand("cd " + dir.path() + " && mkdir folder.fms && ln -s gone/x.fms dangling.fms" +
                 " && ln -s song.mid linked.fms && mkfifo unread.fms")
          .status,
      0);
  const struct {
    const char* output;
    const char* error;
  } refused[] = {
      {"song.mid", "song.mid: would replace the MIDI file itself"},
      {"linked.fms", "linked.fms: would replace the MIDI file itself"},
      {"folder.fms", "folder.fms: is a folder"},
      {"dangling.fms", "dangling.fms: is a symbolic link to nothing"},
      {"unread.fms", "unread.fms: is a named pipe that nobody reads"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.output);
    const testing_support::RunResult result = run(std::string("song.mid -o ") + c.output);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    const bool beforeReading = std::string(c.error).find("MIDI file itself") != std::string::npos;
    EXPECT_EQ(errors(), (beforeReading ? std::string() : std::string(REPORT)) +
                            "tarvk32-import: " + c.error + "\n");
  }
  std::string after;
  ASSERT_TRUE(readFile(dir.file("song.mid"), after));
  EXPECT_EQ(after, midi);
  EXPECT_EQ(runCommand("cd " + dir.path() + " && find . | LC_ALL=C sort").out,
            ".\n./dangling.fms\n./err.txt\n./folder.fms\n./linked.fms\n./song.mid\n"
            "./unread.fms\n");

  // Standard output named as a file: a pipe here, as for any user.
  const testing_support::RunResult toStdout = run("song.mid -o /dev/stdout");
  EXPECT_EQ(toStdout.status, 0);
  EXPECT_EQ(toStdout.out, SCORE_CP932);

  const std::string null = testing_support::deviceNode(dir, false);
  const std::string full = testing_support::deviceNode(dir, true);
  ASSERT_FALSE(null.empty() || full.empty()) << "mknod failed";
  EXPECT_EQ(run("song.mid -o " + null).status, 0);
  EXPECT_EQ(run("song.mid -o " + full).status, 1);
  EXPECT_EQ(errors(), std::string(REPORT) + "tarvk32-import: " + full + ": write err\n");
  for (const std::string& device : {null, full}) {
    struct stat info {};
    ASSERT_EQ(::stat(device.c_str(), &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode)) << device;
  }
}

// A kill at any moment of the output stage leaves the older score as it was and nothing beside
// it.
TEST_F(ImportProgram, KilledWhileWritingLeavesNothing) {
  writeFile(dir.file("song.fms"), "older score");
  const std::string before = runCommand("cd " + dir.path() + " && ls -A").out;
  bool sent = false;
  const int status = testing_support::signalWhileWritingOutput(
      {TARVK32_IMPORT_PATH, "song.mid", "-o", "song.fms"}, dir, "song.mid", SIGKILL, false, sent);
  ASSERT_NE(status, 125) << "the test cannot trace the program (ptrace refused)";
  ASSERT_TRUE(sent) << "the program ended without opening its output, status " << status;
  EXPECT_EQ(status, -SIGKILL);
  EXPECT_EQ(runCommand("cd " + dir.path() + " && ls -A").out, before);
  std::string score;
  ASSERT_TRUE(readFile(dir.file("song.fms"), score));
  EXPECT_EQ(score, "older score");
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
