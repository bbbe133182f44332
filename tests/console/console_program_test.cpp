// End-to-end runs of the built tarvk32c: standard output bytes, exit status and output files.
#include "console/console_program.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/compile_session.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

const std::string BANNER =
    "Score compiler for the console (32bitDOS) v1.01.00\n"
    "Compiles a music-macro score into a Standard MIDI File.\n\n";
const std::string USAGE =
    "tarvk32c <filename> [-f]\n-f  korveldat output(.fmd)\n{default SMF data output(.mid)}\n\n";
const std::string COMPLETE = " ** complete! **\n";

// Banner, output-name line and source line of a run that got as far as opening the source.
std::string head(bool fmd, const std::string& output, const std::string& source) {
  return BANNER + (fmd ? "korvel : " : "midiname : ") + output + "\n" + "sourcename:" + source +
         "\n";
}

std::string slurp(const std::string& path) {
  std::string bytes;
  EXPECT_TRUE(readFile(path, bytes)) << path;
  return bytes;
}

// Every path below `dir`, sorted, one a line.
std::string tree(const TempDir& dir) {
  return runCommand("cd '" + dir.path() + "' && find . -mindepth 1 | LC_ALL=C sort").out;
}

std::string repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

std::string lfOnly(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
  }
  return out;
}

// A channel block per channel, each with `lines` strings of `notes` quarter notes c.
std::string manyNotes(int channels, int lines, int notes) {
  std::string source;
  for (int ch = 1; ch <= channels; ++ch) {
    source += "ch" + std::to_string(ch) + " {\r\n";
    for (int i = 0; i < lines; ++i) source += "\"" + std::string(notes, 'c') + "\"\r\n";
    source += "}\r\n";
  }
  return source;
}

const std::string SCORE_ONE_NOTE = "ch1 { \"c\" }\r\n";

}  // namespace

TEST(ConsoleProgram, CommandLinesThatCompileNothing) {
  const std::string openFailed = "Can not open source file!\ncompile stopped!\n";
  struct Case {
    std::vector<std::string> args;
    std::string out;
    int status;
  } cases[] = {
      {{}, BANNER + USAGE, 0},
      {{"-f"}, BANNER + USAGE, 1},
      {{"-f", "/F"}, BANNER + USAGE, 1},
      {{"song.mml", "-x"}, "parameter error!\n", 1},
      {{"-x", "song.mml"}, "parameter error!\n", 1},
      {{"/x", "song.mml"}, "parameter error!\n", 1},
      {{"-", "song.mml"}, "parameter error!\n", 1},
      {{"a.mml", "-x", "b.mml"}, "parameter error!\n", 1},
      {{"a.mml", "b.mml", "song.mml"}, BANNER + "parameter over!\n", 1},
      {{"missing.mml"}, BANNER + "midiname : missing.mid\n" + openFailed, 1},
      {{"-f", "missing"}, BANNER + "korvel : missing.fmd\n" + openFailed, 1},
      {{"adir.mml"}, BANNER + "midiname : adir.mid\n" + openFailed, 1},
      {{"/nonexistent-tarv/s.mml"},
       BANNER + "midiname : /nonexistent-tarv/s.mid\n" + openFailed,
       1},
  };
  for (const Case& c : cases) {
    TempDir dir;
    for (const char* name : {"song.mml", "a.mml", "b.mml"})
      writeFile(dir.file(name), SCORE_ONE_NOTE);
    ASSERT_EQ(runCommand("mkdir '" + dir.file("adir.mml") + "'").status, 0);
    const std::string before = tree(dir);
    const RunResult r = runTarvk32c(c.args, dir.path());
    const std::string where = ::testing::PrintToString(c.args);
    EXPECT_EQ(r.out, c.out) << where;
    EXPECT_EQ(r.status, c.status) << where;
    EXPECT_EQ(tree(dir), before) << where;  // no output file of any kind
  }
}

TEST(ConsoleProgram, OutputNameReplacesTheLastDotOrAppends) {
  struct Case {
    std::vector<std::string> args;  // "@" stands for the directory's absolute path
    std::string source;             // the file compiled, as printed
    std::string output;             // as printed
    bool fmd;
  } cases[] = {
      {{"song.mml"}, "song.mml", "song.mid", false},
      {{"song.mml", "-f"}, "song.mml", "song.fmd", true},
      {{"-F", "song.mml"}, "song.mml", "song.fmd", true},
      {{"song.mml", "/f"}, "song.mml", "song.fmd", true},
      {{"/F", "song.mml"}, "song.mml", "song.fmd", true},
      {{"-fast", "song.mml"}, "song.mml", "song.fmd", true},
      {{"song"}, "song", "song.mid", false},
      {{"song.data"}, "song.data", "song.mid", false},
      {{"a.b.c"}, "a.b.c", "a.b.mid", false},
      {{"old.dir/song"}, "old.dir/song", "old.mid", false},
      {{"sub/song.mml"}, "sub/song.mml", "sub/song.mid", false},
      {{"first.mml", "second.mml"}, "second.mml", "second.mid", false},
      {{"@/song.mml"}, "@/song.mml", "@/song.mid", false},
      {{"-f", "@/song.mml"}, "@/song.mml", "@/song.fmd", true},
  };
  for (const Case& c : cases) {
    TempDir dir;
    auto resolve = [&](std::string text) {
      if (text.rfind("@/", 0) == 0) text.replace(0, 1, dir.path());
      return text;
    };
    std::vector<std::string> args;
    for (const std::string& a : c.args) {
      args.push_back(resolve(a));
      if (a[0] == '-' || (a[0] == '/' && a.size() == 2)) continue;
      const std::string path = a[0] == '@' ? args.back() : dir.file(a);
      runCommand("mkdir -p \"$(dirname '" + path + "')\"");
      writeFile(path, "");  // an empty score: empty output in both modes
    }
    const std::string before = tree(dir);
    const std::string output = resolve(c.output);
    const RunResult r = runTarvk32c(args, dir.path());
    const std::string where = ::testing::PrintToString(c.args);
    EXPECT_EQ(r.out, head(c.fmd, output, resolve(c.source)) + COMPLETE) << where;
    EXPECT_EQ(r.status, 0) << where;
    const std::string outputPath = output[0] == '/' ? output : dir.file(output);
    EXPECT_EQ(slurp(outputPath), "") << where;
    // Exactly one new path: the output (no temporary file, nothing for the ignored name).
    const std::string after = tree(dir);
    EXPECT_EQ(std::count(after.begin(), after.end(), '\n'),
              std::count(before.begin(), before.end(), '\n') + 1)
        << where << after;
  }
}

TEST(ConsoleProgram, SourceNameLengthLimitIs499Characters) {
  for (const size_t length : {size_t{499}, size_t{500}}) {
    TempDir dir;
    const std::string d1(200, 'a'), d2(200, 'b');
    const std::string stem = d1 + "/" + d2 + "/" + std::string(length - 402 - 4, 'c');
    ASSERT_EQ(runCommand("mkdir -p '" + dir.file(d1 + "/" + d2) + "'").status, 0);
    writeFile(dir.file(stem + ".mml"), SCORE_ONE_NOTE);
    ASSERT_EQ((stem + ".mml").size(), length);
    const RunResult r = runTarvk32c({stem + ".mml"}, dir.path());
    if (length == 499) {
      EXPECT_EQ(r.out, head(false, stem + ".mid", stem + ".mml") +
                           " -> ch1  size(2 byte)  Track Tick (480)\n" + COMPLETE);
      EXPECT_EQ(r.status, 0);
      EXPECT_TRUE(fileExists(dir.file(stem + ".mid")));
    } else {
      EXPECT_EQ(r.out, BANNER + "source name too long!\n");
      EXPECT_EQ(r.status, 1);
      EXPECT_FALSE(fileExists(dir.file(stem + ".mid")));
    }
  }
}

TEST(ConsoleProgram, ScoreErrorsReportTheLineAndExitWithTheCode) {
  struct Case {
    std::string source;
    bool fmd;
    std::string report;  // from "line (" on
    int status;
  } cases[] = {
      {"ch1 { \"c d v20 e\" }\r\n", false,
       "line (1) : ch1 { \"c d v20 e\" }\r\n\ncode 'V?' (0 to 16)\n", 16},
      {"ch1 {\r\n\"c\"\r\n\"o8\"\r\n", false, "line (3) : \"o8\"\r\n\ncode 'O?' (0 to 7)\n", 13},
      {"ch1 {\n\"c\"\n\"o8\"", false, "line (3) : \"o8\"\r\n\ncode 'O?' (0 to 7)\n", 13},
      {"{ \"v10\" }\r\n", false, "line (1) : { \"v10\" }\r\n\nch  not open\n", 999 % 256},
      {"\"c\"\r\n", false, "line (1) : \"c\"\r\n\n other error\n", 255},
      {"xyz\r\n", false, "line (1) : xyz\r\n\nIt isn't possible to decipher.\n", 1},
      {repeat("\r\n", 123455) + "CH1\r\n", false,
       "line (123456) : CH1\r\n\nIt isn't possible to decipher.\n", 1},
      {SCORE_ONE_NOTE + "ch1 { \"q9\" }\r\n", true,
       "line (2) : ch1 { \"q9\" }\r\n\ncode 'Q?' (1 to 8)\n", 19},
  };
  for (const Case& c : cases) {
    for (const bool older : {false, true}) {
      TempDir dir;
      writeFile(dir.file("song.mml"), c.source);
      const std::string output = c.fmd ? "song.fmd" : "song.mid";
      if (older) writeFile(dir.file(output), "older output");
      const std::string before = tree(dir);
      const RunResult r = runTarvk32c(
          c.fmd ? std::vector<std::string>{"-f", "song.mml"} : std::vector<std::string>{"song.mml"},
          dir.path());
      const std::string where = c.report + (older ? " (older output)" : "");
      EXPECT_EQ(r.out, head(c.fmd, output, "song.mml") + c.report + "compile stopped!\n") << where;
      EXPECT_EQ(r.status, c.status) << where;
      EXPECT_EQ(tree(dir), before) << where;
      if (older) {
        EXPECT_EQ(slurp(dir.file(output)), "older output") << where;
      }
    }
  }
}

// A score using header commands over several lines, a block comment and two channels. With CR
// LF and with LF-only line ends it must give the same transcript and byte-identical files; an
// older file at the output name is replaced.
TEST(ConsoleProgram, FullTranscriptAndOutputForCrLfAndLfTwins) {
  const std::string score =
      "// twin score\r\n"
      "op( q7def,\r\n"
      " autolr )\r\n"
      "cr(\"Tarv \"\r\n"
      " \"Works\")\r\n"
      "sn(\"Song\")\r\n"
      "/* block\r\n"
      " comment */ ch1 { \"t150 cde\" }\r\n"
      "ch2{\"o3 c&c\" \"r8\"}\r\n";
  const std::string echoes =
      " [option]:q7def ON\n"
      " [option]:autolr ON\n"
      " [copyright]:\"Tarv Works\" (10 byte)\n"
      " [sname]:\"Song\" (4 byte)\n";
  const std::string midi =
      "4D 54 68 64 00 00 00 06 00 01 00 03 01 E0 "
      // conductor: copyright, sequence name, 1/8 bar, tempo 120, 4/4, tempo 150 at tick 240
      "4D 54 72 6B 00 00 00 3E 00 FF 02 0A 54 61 72 76 20 57 6F 72 6B 73 00 FF 03 04 53 6F 6E "
      "67 00 FF 58 04 01 03 18 08 81 70 FF 51 03 07 A1 20 00 FF 58 04 04 02 18 08 00 FF 01 01 "
      "5F 00 FF 51 03 06 1A 80 00 FF 2F 00 "
      // ch1: GM on, all sound off, program 0, tempo 150, c d e quarters
      "4D 54 72 6B 00 00 00 31 00 F0 05 7E 7F 09 01 F7 81 10 B1 78 00 60 C1 00 00 FF 51 03 06 "
      "1A 80 00 91 48 4F 83 60 48 00 00 4A 4F 83 60 4A 00 00 4C 4F 83 60 4C 00 00 FF 2F 00 "
      // ch2: filler text, all sound off, program 0, auto pan 0, tied half c, eighth rest
      "4D 54 72 6B 00 00 00 24 00 FF 01 01 5F 81 10 B2 78 00 60 C2 00 00 B2 0A 00 00 92 3C 4F "
      "87 40 3C 00 00 17 00 81 70 17 00 00 FF 2F 00";
  const std::string fmd =
      "4B 56 50 30 30 30 4B 56 43 30 30 31 20 00 10 00 "
      "20 00 2A 00 " +
      repeat("00 ", 28) +
      "FC 96 31 20 33 20 35 20 FF FF "
      "25 20 FB 00 25 20 00 10 FF FF";
  struct Mode {
    bool fmd;
    std::string channels;
    std::string file;
  } modes[] = {
      {false,
       " -> ch1  size(8 byte)  Track Tick (1440)\n -> ch2  size(8 byte)  Track Tick (1200)\n",
       midi},
      {true, " -> ch1  size(8 byte)  kvc Length (96)\n -> ch2  size(8 byte)  kvc Length (80)\n",
       fmd},
  };
  for (const Mode& m : modes) {
    for (const bool lf : {false, true}) {
      TempDir dir;
      const std::string output = m.fmd ? "song.fmd" : "song.mid";
      writeFile(dir.file("song.mml"), lf ? lfOnly(score) : score);
      if (!lf) writeFile(dir.file(output), "older output");
      const RunResult r = runTarvk32c({"song.mml", m.fmd ? "-f" : "song.mml"}, dir.path());
      const std::string where = output + (lf ? " LF" : " CR LF");
      EXPECT_EQ(r.out, head(m.fmd, output, "song.mml") + echoes + m.channels + COMPLETE) << where;
      EXPECT_EQ(r.status, 0) << where;
      const std::string bytesOut = slurp(dir.file(output));
      EXPECT_EQ(hex(Bytes(bytesOut.begin(), bytesOut.end())), m.file) << where;
      EXPECT_EQ(tree(dir), "./" + output + "\n./song.mml\n") << where;
    }
  }
}

// The console reader's limits stop the compilation, as their messages say: the run fails and
// the output of an earlier run is left as it was, not replaced by part of the score.
TEST(ConsoleProgram, LineLimitsStopTheCompile) {
  std::string longLines = SCORE_ONE_NOTE + "//" + std::string(1996, 'x') + "\r\n" +
                          "ch2 { \"d\" }\r\n" + "//" + std::string(1997, 'x') + "\r\n" +
                          "ch3 { \"e\" }\r\n";
  std::string manyLines = SCORE_ONE_NOTE;
  manyLines += repeat("\r\n", 999997);                // lines 2 to 999998
  manyLines += "ch2 { \"d\" }\r\nch3 { \"e\" }\r\n";  // lines 999999 and 1000000
  struct Case {
    const std::string* source;
    std::string message;
  } cases[] = {
      {&longLines, "work area over!\n"},
      {&manyLines, "**** line over(MAX:999999 line) ****\n**** compile stopped. ****\n"},
  };
  for (const Case& c : cases) {
    for (const bool lf : {false, true}) {
      TempDir dir;
      writeFile(dir.file("song.mml"), lf ? lfOnly(*c.source) : *c.source);
      writeFile(dir.file("song.mid"), "older output");
      const RunResult r = runTarvk32c({"song.mml"}, dir.path());
      const std::string where = c.message + (lf ? " LF" : " CR LF");
      EXPECT_EQ(r.out, head(false, "song.mid", "song.mml") + c.message + "compile stopped!\n")
          << where;
      EXPECT_NE(r.status, 0) << where;
      EXPECT_EQ(slurp(dir.file("song.mid")), "older output") << where;
    }
  }
}

TEST(ConsoleProgram, LoneTieFailsTheMidiFileButNotTheCompiledData) {
  for (const std::string ch2 : {"c&", "&c", "c&v12c", "r&c"}) {
    const std::string score = SCORE_ONE_NOTE + "ch2 { \"" + ch2 + "\" }\r\n";
    for (const bool older : {false, true}) {
      TempDir dir;
      writeFile(dir.file("song.mml"), score);
      if (older) writeFile(dir.file("song.mid"), "older output");
      const std::string before = tree(dir);
      const RunResult r = runTarvk32c({"song.mml"}, dir.path());
      EXPECT_EQ(r.out, head(false, "song.mid", "song.mml") + "[error] &  single(ch2)\n&  single\n")
          << ch2;
      EXPECT_EQ(r.status, 1) << ch2;
      EXPECT_EQ(tree(dir), before) << ch2;
      if (older) {
        EXPECT_EQ(slurp(dir.file("song.mid")), "older output") << ch2;
      }
    }
  }
  TempDir dir;
  writeFile(dir.file("song.mml"), SCORE_ONE_NOTE + "ch2 { \"c&\" }\r\n");
  const RunResult r = runTarvk32c({"-f", "song.mml"}, dir.path());
  EXPECT_EQ(r.out, head(true, "song.fmd", "song.mml") +
                       " -> ch1  size(2 byte)  kvc Length (32)\n"
                       " -> ch2  size(4 byte)  kvc Length (32)\n" +
                       COMPLETE);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(slurp(dir.file("song.fmd")).size(), 48u + 4 + 6);
}

// The compiled-data table holds 16-bit positions: the entry of ch3 is 32 + 64002 + (ch2 + 2).
TEST(ConsoleProgram, CompiledDataTableLimit) {
  for (const int ch2Notes : {749, 750}) {
    std::string score = manyNotes(1, 32, 1000) + "ch2 { \"" + std::string(ch2Notes, 'c') +
                        "\" }\r\n" + "ch3 { \"c\" }\r\n";
    TempDir dir;
    writeFile(dir.file("song.mml"), score);
    const RunResult r = runTarvk32c({"-f", "song.mml"}, dir.path());
    const std::string start = head(true, "song.fmd", "song.mml");
    if (ch2Notes == 749) {  // ch3 at 65534
      EXPECT_EQ(r.out, start +
                           " -> ch1  size(64000 byte)  kvc Length (1024000)\n"
                           " -> ch2  size(1498 byte)  kvc Length (23968)\n"
                           " -> ch3  size(2 byte)  kvc Length (32)\n" +
                           COMPLETE);
      EXPECT_EQ(r.status, 0);
      const std::string image = slurp(dir.file("song.fmd"));
      ASSERT_EQ(image.size(), 48u + 64002 + 1500 + 4);
      EXPECT_EQ(hex(Bytes(image.begin() + 16, image.begin() + 22)), "20 00 22 FA FE FF");
    } else {  // ch3 would be at 65536
      EXPECT_EQ(r.out, start + "[error] fmd data over 65535 byte\n\n other error\n");
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(tree(dir), "./song.mml\n");
    }
  }
}

TEST(ConsoleProgram, OutputFailuresKeepTheOlderFileAndLeaveNoTemporary) {
  const std::string bigScore = manyNotes(3, 2, 900);  // well over 2048 bytes in both modes
  struct Case {
    bool fmd;
    bool older;
    bool outputIsDirectory;  // else a 2048-byte file-size limit
  } cases[] = {
      {false, false, false}, {false, true, false}, {true, false, false},
      {true, true, false},   {false, false, true}, {true, false, true},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string output = c.fmd ? "song.fmd" : "song.mid";
    writeFile(dir.file("song.mml"), c.outputIsDirectory ? SCORE_ONE_NOTE : bigScore);
    if (c.older) writeFile(dir.file(output), "older output");
    if (c.outputIsDirectory) {
      ASSERT_EQ(runCommand("mkdir '" + dir.file(output) + "'").status, 0);
    }
    const std::string before = tree(dir);
    const RunResult r = runTarvk32c({"song.mml", c.fmd ? "-f" : "song.mml"}, dir.path(),
                                    c.outputIsDirectory ? 0 : 2048);
    const std::string where =
        output + (c.older ? " older" : "") + (c.outputIsDirectory ? " directory" : " size limit");
    EXPECT_EQ(r.out, head(c.fmd, output, "song.mml") +
                         (c.outputIsDirectory ? output + ": is a folder\nfmbin open err\n"
                                              : "fmbin write err\n"))
        << where;
    EXPECT_EQ(r.status, 1) << where;
    EXPECT_EQ(tree(dir), before) << where;
    if (c.older) {
      EXPECT_EQ(slurp(dir.file(output)), "older output") << where;
    }
  }
}

TEST(ConsoleProgram, ClosedStandardOutputStillWritesTheOutputFile) {
  TempDir dir;
  std::string score;
  for (int i = 0; i < 5000; ++i) score += "op(q7def)\n";  // ~100 KB of echo lines, past a pipe
  score += "ch1 { \"c\" }\n";
  writeFile(dir.file("big.fms"), score);
  const RunResult r = runCommand("cd '" + dir.path() + "' && { '" + TARVK32C_PATH +
                                 "' big.fms; echo \"status $?\" >&2; } 2>status.txt | head -c 1");
  EXPECT_EQ(r.out.size(), 1u);
  std::string status;
  ASSERT_TRUE(readFile(dir.file("status.txt"), status));
  EXPECT_EQ(status, "status 0\n");
  std::string midi;
  ASSERT_TRUE(readFile(dir.file("big.mid"), midi));
  EXPECT_EQ(midi.substr(0, 4), "MThd");
  EXPECT_EQ(listDirectory(dir.path()).size(), 3u);  // score, status, output: nothing temporary
}

// `ulimit -f 1` in the user's shell: the program ignores SIGXFSZ itself, so the write fails.
TEST(ConsoleProgram, ShellFileSizeLimitGivesWriteErrorAndLeavesNothing) {
  for (const bool older : {false, true}) {
    TempDir dir;
    writeFile(dir.file("song.fms"), manyNotes(3, 2, 900));
    if (older) writeFile(dir.file("song.mid"), "older output");
    const std::string before = tree(dir);
    const RunResult r = runBash("cd '" + dir.path() + "' && ulimit -f 1 && '" + TARVK32C_PATH +
                                "' song.fms; echo \"status $?\"");
    EXPECT_EQ(r.out, head(false, "song.mid", "song.fms") + "fmbin write err\nstatus 1\n");
    EXPECT_EQ(tree(dir), before);
    if (older) {
      EXPECT_EQ(slurp(dir.file("song.mid")), "older output");
    }
  }
}

// SIGINT, SIGTERM, SIGHUP or SIGKILL while the output is written: no temporary file stays, an
// older output stays, and the program ends by that signal as the shell expects. An ignored
// SIGHUP stays ignored and the output is completed.
TEST(ConsoleProgram, TerminatingSignalInTheOutputStageLeavesNoTemporaryFile) {
  const struct {
    int signal;
    bool hupIgnored;
  } cases[] = {
      {SIGINT, false}, {SIGTERM, false}, {SIGHUP, false}, {SIGHUP, true}, {SIGKILL, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "signal " << c.signal << " ignored " << c.hupIgnored);
    TempDir dir;
    writeFile(dir.file("song.fms"), manyNotes(2, 4, 500));
    writeFile(dir.file("song.mid"), "older output");
    const std::string before = tree(dir);
    bool sent = false;
    const int status = signalWhileWritingOutput({TARVK32C_PATH, "song.fms"}, dir, "song.fms",
                                                c.signal, c.hupIgnored, sent);
    ASSERT_NE(status, 125) << "the test cannot trace the program (ptrace refused)";
    ASSERT_TRUE(sent) << "the program ended without opening its output, status " << status;
    if (c.hupIgnored) {
      EXPECT_EQ(status, 0);
      EXPECT_EQ(slurp(dir.file("song.mid")).substr(0, 4), "MThd");
    } else {
      EXPECT_EQ(status, -c.signal);
      EXPECT_EQ(slurp(dir.file("song.mid")), "older output");
    }
    EXPECT_EQ(tree(dir), before);
  }
}

// A score whose output name is its own name, or a name linked to it, is never replaced by its
// output: the run stops before compiling and leaves every file as it was.
TEST(ConsoleProgram, OutputThatWouldReplaceTheScoreIsRefused) {
  const struct {
    const char* what;
    std::string source;
    bool fmd;
    std::string setUp;  // shell commands run in the folder after the score is written
  } cases[] = {
      {"score named song.mid", "song.mid", false, ""},
      {"score named song.fmd with -f", "song.fmd", true, ""},
      {"output name a symbolic link to the score", "song.fms", false, "ln -s song.fms song.mid"},
      {"output name a hard link to the score", "song.fms", false, "ln song.fms song.mid"},
      {"score a symbolic link to the output name", "song.fms", false,
       "mv song.fms song.mid && ln -s song.mid song.fms"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    writeFile(dir.file(c.source), SCORE_ONE_NOTE);
    if (!c.setUp.empty()) {
      ASSERT_EQ(runCommand("cd '" + dir.path() + "' && " + c.setUp).status, 0);
    }
    const std::string before = tree(dir);
    const std::string output = c.fmd ? "song.fmd" : "song.mid";
    std::vector<std::string> args{c.source};
    if (c.fmd) args.push_back("-f");
    const RunResult r = runTarvk32c(args, dir.path());
    EXPECT_EQ(r.out, BANNER + (c.fmd ? "korvel : " : "midiname : ") + output + "\n" +
                         "output would replace the source file!\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tree(dir), before);
    EXPECT_EQ(slurp(dir.file(c.source)), SCORE_ONE_NOTE);
  }
}

// An output name that is a device or a named pipe is written into, never replaced; a named pipe
// nobody reads and a link to nothing are refused at once with the reason.
TEST(ConsoleProgram, DeviceOrPipeAtTheOutputNameIsWrittenInPlace) {
  TempDir reference;
  writeFile(reference.file("song.fms"), SCORE_ONE_NOTE);
  ASSERT_EQ(runTarvk32c({"song.fms"}, reference.path()).status, 0);
  const std::string midi = slurp(reference.file("song.mid"));

  {
    SCOPED_TRACE("named pipe with a reader");
    TempDir dir;
    writeFile(dir.file("song.fms"), SCORE_ONE_NOTE);
    ASSERT_EQ(::mkfifo(dir.file("song.mid").c_str(), 0644), 0);
    const RunResult r =
        runBash("cd '" + dir.path() + "' && { cat song.mid > got & } && " + "exec 3>song.mid && '" +
                TARVK32C_PATH + "' song.fms >/dev/null; s=$?; exec 3>&-; wait; echo $s");
    EXPECT_EQ(r.out, "0\n");
    EXPECT_EQ(slurp(dir.file("got")), midi);
    struct stat info {};
    ASSERT_EQ(::lstat(dir.file("song.mid").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
  }
  {
    SCOPED_TRACE("named pipe nobody reads");
    TempDir dir;
    writeFile(dir.file("song.fms"), SCORE_ONE_NOTE);
    ASSERT_EQ(::mkfifo(dir.file("song.mid").c_str(), 0644), 0);
    const RunResult r = runTarvk32c({"song.fms"}, dir.path());
    EXPECT_EQ(r.out, head(false, "song.mid", "song.fms") +
                         "song.mid: is a named pipe that nobody reads\nfmbin open err\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tree(dir), "./song.fms\n./song.mid\n");
  }
  {
    SCOPED_TRACE("symbolic link to a device that takes everything");
    TempDir dir;
    writeFile(dir.file("song.fms"), SCORE_ONE_NOTE);
    const std::string null = deviceNode(dir, false);
    ASSERT_FALSE(null.empty()) << "mknod failed";
    ASSERT_EQ(::symlink(null.c_str(), dir.file("song.mid").c_str()), 0);
    const RunResult r = runTarvk32c({"song.fms"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.out;
    struct stat info {};
    ASSERT_EQ(::stat(null.c_str(), &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
    ASSERT_EQ(::lstat(dir.file("song.mid").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
  }
  {
    SCOPED_TRACE("symbolic link to nothing");
    TempDir dir;
    writeFile(dir.file("song.fms"), SCORE_ONE_NOTE);
    ASSERT_EQ(::symlink("gone/song.mid", dir.file("song.mid").c_str()), 0);
    const RunResult r = runTarvk32c({"song.fms"}, dir.path());
    EXPECT_EQ(r.out, head(false, "song.mid", "song.fms") +
                         "song.mid: is a symbolic link to nothing\nfmbin open err\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tree(dir), "./song.fms\n./song.mid\n");
  }
}

// A device that fails every write, as /dev/full does: the write error is reported and the
// device stays a device.
TEST(ConsoleProgram, FullDeviceAtTheOutputNameGivesWriteErrorAndStaysADevice) {
  TempDir dir;
  writeFile(dir.file("song.fms"), SCORE_ONE_NOTE);
  const std::string full = deviceNode(dir, true);
  ASSERT_FALSE(full.empty()) << "mknod failed";
  ASSERT_EQ(::symlink(full.c_str(), dir.file("song.mid").c_str()), 0);
  const RunResult r = runTarvk32c({"song.fms"}, dir.path());
  EXPECT_EQ(r.out, head(false, "song.mid", "song.fms") + "fmbin write err\n");
  EXPECT_EQ(r.status, 1);
  struct stat info {};
  ASSERT_EQ(::stat(full.c_str(), &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));
  EXPECT_EQ(info.st_rdev, makedev(1, 7));
}

// The program's entry hands back what it did as a value: the status it exits with, the output's
// name and the compilation's diagnostics, the same run printing what the program prints.
TEST(ConsoleProgram, CompileEntryReturnsTheResultAsAValue) {
  TempDir dir;
  const std::string source = dir.file("song.mml");
  const std::string printed[] = {"ch1 { \"c\" }\r\n", "\r\nch1 { \"c v20\" }\r\n"};
  for (const std::string& score : printed) {
    SCOPED_TRACE(score);
    writeFile(source, score);
    char* text = nullptr;
    size_t size = 0;
    std::FILE* console = open_memstream(&text, &size);
    ASSERT_NE(console, nullptr);
    const char* argv[] = {"tarvk32c", source.c_str()};
    const ConsoleResult result = compileConsole(2, argv, console);
    std::fclose(console);
    const std::string out(text, size);
    std::free(text);
    EXPECT_EQ(result.output, dir.file("song.mid"));
    if (score == printed[0]) {
      EXPECT_EQ(result.exitStatus, 0);
      EXPECT_TRUE(result.diagnostics.empty());
      EXPECT_EQ(out, head(false, result.output, source) +
                         " -> ch1  size(2 byte)  Track Tick (480)\n" + COMPLETE);
    } else {
      EXPECT_EQ(result.exitStatus, ERROR_VELOCITY);
      ASSERT_EQ(result.diagnostics.size(), 1u);
      EXPECT_EQ(result.diagnostics[0].code, ERROR_VELOCITY);
      EXPECT_EQ(result.diagnostics[0].lineNumber, 2);
      EXPECT_EQ(result.diagnostics[0].commandStart, 9);
      EXPECT_EQ(runTarvk32c({source}, dir.path()).out, out);  // as the program prints it
    }
  }
}
