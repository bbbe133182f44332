// Output failures of the end phase, and OutputFile: the output replaces its target only when
// complete.
#include "core/output_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "core/output_stream.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

// A memory stream that fails at its n-th byte or at its n-th seek (0: never); failures stick.
class FailingStream : public OutputStream {
 public:
  void write(const uint8_t* data, size_t size) override {
    if (failed_) return;
    if (failAtByte > 0 && written_ + size >= failAtByte) {
      failed_ = true;
      return;
    }
    inner_.write(data, size);
    written_ += size;
  }
  int64_t position() const override { return inner_.position(); }
  void seek(int64_t position) override {
    if (failed_) return;
    if (++seeks_ == failAtSeek) {
      failed_ = true;
      return;
    }
    inner_.seek(position);
  }
  bool failed() const override { return failed_ || inner_.failed(); }

  size_t failAtByte = 0;
  int failAtSeek = 0;

 private:
  MemoryOutputStream inner_;
  size_t written_ = 0;
  int seeks_ = 0;
  bool failed_ = false;
};

class FailingHost : public MemoryHost {
 public:
  FailingHost(Flavour flavour, std::string source) : MemoryHost(flavour, std::move(source)) {}
  OutputStream* openOutput() override { return &stream; }
  int32_t closeOutput(bool keep) override {
    keptOnClose.push_back(keep);
    return keep ? closeResult : OUTPUT_CLOSED;
  }
  FailingStream stream;
  std::vector<bool> keptOnClose;
};

struct FailingCompile {
  FailingCompile(Flavour flavour, const std::string& source, bool compiledData)
      : host(flavour, source) {
    host.attach(*session);
    session->compiledDataMode = compiledData;
  }
  FailingHost host;
  std::unique_ptr<CompileSession> session = std::make_unique<CompileSession>();
};

std::vector<std::string> sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

// Restores the process umask when it leaves scope.
struct UmaskGuard {
  explicit UmaskGuard(mode_t mask) : saved(::umask(mask)) {}
  ~UmaskGuard() { ::umask(saved); }
  mode_t saved;
};

}  // namespace

// The one-note score's file: header 14 bytes, conductor 8 + 28, channel 8 + 28; with the two
// 4-byte length patches the writer writes 94 bytes and seeks four times.
TEST(OutputFailure, WriteSeekOrFlushFailureReportsAndKeepsNothing) {
  struct Case {
    const char* what;
    bool compiledData;
    size_t failAtByte;
    int failAtSeek;
    int32_t closeResult;
    const char* console;  // expected console text
  };
  const Case cases[] = {
      {"first byte", false, 1, 0, OUTPUT_CLOSED, "fmbin write err\n"},
      {"inside the conductor", false, 30, 0, OUTPUT_CLOSED, "fmbin write err\n"},
      {"inside the channel track", false, 70, 0, OUTPUT_CLOSED, "fmbin write err\n"},
      {"end of the channel track", false, 90, 0, OUTPUT_CLOSED, "fmbin write err\n"},
      {"last length patch", false, 94, 0, OUTPUT_CLOSED, "fmbin write err\n"},
      {"first back-patch seek", false, 0, 1, OUTPUT_CLOSED, "fmbin write err\n"},
      {"last seek", false, 0, 4, OUTPUT_CLOSED, "fmbin write err\n"},
      {"final flush", false, 0, 0, OUTPUT_WRITE_FAILED, "fmbin write err\n"},
      {"final rename", false, 0, 0, OUTPUT_REPLACE_FAILED, "fmbin open err\n"},
      {"compiled data, first byte", true, 1, 0, OUTPUT_CLOSED, "fmbin write err\n"},
      {"compiled data, channel bytes", true, 50, 0, OUTPUT_CLOSED, "fmbin write err\n"},
      {"compiled data, final flush", true, 0, 0, OUTPUT_WRITE_FAILED, "fmbin write err\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string source = "ch1 { \"o3 c\" }\r\n";
    FailingCompile console(FLAVOUR_CONSOLE, source, c.compiledData);
    console.host.stream.failAtByte = c.failAtByte;
    console.host.stream.failAtSeek = c.failAtSeek;
    console.host.closeResult = c.closeResult;
    EXPECT_EQ(compileSource(*console.session), 1);
    EXPECT_EQ(console.host.transcript, c.console);
    // A failed stream is never put in place.
    const bool streamFailed = c.failAtByte != 0 || c.failAtSeek != 0;
    EXPECT_EQ(console.host.keptOnClose, std::vector<bool>{!streamFailed});

    FailingCompile editor(FLAVOUR_EDITOR, source, c.compiledData);
    editor.host.stream.failAtByte = c.failAtByte;
    editor.host.stream.failAtSeek = c.failAtSeek;
    editor.host.closeResult = c.closeResult;
    EXPECT_EQ(compileSource(*editor.session), 1);
    EXPECT_TRUE(editor.host.messages.empty());
    EXPECT_EQ(editor.host.alerts,
              (std::vector<std::string>{"書き込みファイルエラー", "compile stopped!"}));
  }
}

TEST(OutputFailure, OutputThatCannotBeOpened) {
  for (bool compiledData : {false, true}) {
    MemoryCompile console(FLAVOUR_CONSOLE, "ch1 { \"c\" }\r\n", compiledData);
    console.host.outputOpens = false;
    EXPECT_EQ(console.run(), 1);
    EXPECT_EQ(console.host.transcript, "fmbin open err\n");

    MemoryCompile editor(FLAVOUR_EDITOR, "ch1 { \"c\" }\r\n", compiledData);
    editor.host.outputOpens = false;
    EXPECT_EQ(editor.run(), 1);
    EXPECT_EQ(editor.host.alerts,
              (std::vector<std::string>{"書き込みファイルエラー", "compile stopped!"}));
  }
}

TEST(OutputFile, CommitPutsTheCompleteFileInPlace) {
  TempDir dir;
  const std::string target = dir.file("song.mid");
  writeFile(target, "old");
  {
    OutputFile out(target);
    ASSERT_TRUE(out.open());
    // Until the commit the bytes go to a file without a name, so a kill leaves nothing.
    EXPECT_EQ(out.temporaryPath(), "");
    EXPECT_EQ(listDirectory(dir.path()), std::vector<std::string>{"song.mid"});
    // More than one buffer's worth, with a patch far behind the write position.
    std::string expected;
    for (int i = 0; i < 200000; ++i) expected += static_cast<char>('a' + i % 26);
    out.write(reinterpret_cast<const uint8_t*>(expected.data()), expected.size());
    EXPECT_EQ(out.position(), 200000);
    out.seek(4);
    out.write(reinterpret_cast<const uint8_t*>("WXYZ"), 4);
    EXPECT_EQ(out.position(), 8);
    out.seek(200000);
    out.write(reinterpret_cast<const uint8_t*>("!"), 1);
    expected.replace(4, 4, "WXYZ");
    expected += '!';
    std::string content;
    ASSERT_TRUE(readFile(target, content));
    EXPECT_EQ(content, "old");
    EXPECT_FALSE(out.failed());
    EXPECT_EQ(out.commit(), OUTPUT_CLOSED);
    ASSERT_TRUE(readFile(target, content));
    EXPECT_EQ(content, expected);
  }
  EXPECT_EQ(listDirectory(dir.path()), std::vector<std::string>{"song.mid"});
}

TEST(OutputFile, DiscardLeavesTheOlderFileUntouched) {
  for (bool explicitDiscard : {true, false}) {
    TempDir dir;
    const std::string target = dir.file("song.mid");
    writeFile(target, "old");
    {
      OutputFile out(target);
      ASSERT_TRUE(out.open());
      out.write(reinterpret_cast<const uint8_t*>("new"), 3);
      if (explicitDiscard) out.discard();
    }
    std::string content;
    ASSERT_TRUE(readFile(target, content));
    EXPECT_EQ(content, "old");
    EXPECT_EQ(listDirectory(dir.path()), std::vector<std::string>{"song.mid"});
  }
}

TEST(OutputFile, ASymbolicLinkAtTheNameKeepsPointingAtTheNewFile) {
  TempDir dir;
  ASSERT_EQ(::mkdir(dir.file("music").c_str(), 0755), 0);
  writeFile(dir.file("music/song.mid"), "old");
  ASSERT_EQ(::symlink("music/song.mid", dir.file("song.mid").c_str()), 0);
  OutputFile out(dir.file("song.mid"));
  ASSERT_TRUE(out.open());
  out.write(reinterpret_cast<const uint8_t*>("new"), 3);
  ASSERT_EQ(out.commit(), OUTPUT_CLOSED);
  struct stat info {};
  ASSERT_EQ(::lstat(dir.file("song.mid").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  std::string content;
  ASSERT_TRUE(readFile(dir.file("music/song.mid"), content));
  EXPECT_EQ(content, "new");
  EXPECT_EQ(listDirectory(dir.file("music")), std::vector<std::string>{"song.mid"});
}

// What is at the name decides how the output gets there: a folder and a link to nothing are
// refused before anything is written, a device or a named pipe takes the bytes in place and
// stays what it was.
TEST(OutputFile, FolderAndLinkToNothingAreRefused) {
  TempDir dir;
  ASSERT_EQ(::mkdir(dir.file("folder.mid").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("gone/song.mid", dir.file("dangling.mid").c_str()), 0);
  const struct {
    const char* name;
    OutputOpenFailure failure;
    const char* text;
  } cases[] = {
      {"folder.mid", OutputOpenFailure::Folder, "is a folder"},
      {"dangling.mid", OutputOpenFailure::DanglingLink, "is a symbolic link to nothing"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OutputFile out(dir.file(c.name));
    EXPECT_FALSE(out.open());
    EXPECT_EQ(out.openFailure(), c.failure);
    EXPECT_EQ(describeOutputOpenFailure(out.openFailure(), out.error()), c.text);
    EXPECT_EQ(out.commit(), OUTPUT_WRITE_FAILED);
  }
  EXPECT_EQ(sorted(listDirectory(dir.path())),
            (std::vector<std::string>{"dangling.mid", "folder.mid"}));
}

TEST(OutputFile, NamedPipeTakesTheWholeOutputInPlace) {
  TempDir dir;
  const std::string pipe = dir.file("song.mid");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
  {
    OutputFile unread(pipe);
    EXPECT_FALSE(unread.open());
    EXPECT_EQ(describeOutputOpenFailure(unread.openFailure(), unread.error()),
              "is a named pipe that nobody reads");
  }
  const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  OutputFile out(pipe);
  ASSERT_TRUE(out.open());
  EXPECT_TRUE(out.writesInPlace());
  // A length patched behind the write position, as the MIDI writer does.
  out.write(reinterpret_cast<const uint8_t*>("MTrk????data"), 12);
  out.seek(4);
  out.write(reinterpret_cast<const uint8_t*>("0004"), 4);
  out.seek(12);
  out.write(reinterpret_cast<const uint8_t*>("!"), 1);
  char got[64] = {};
  EXPECT_EQ(::read(reader, got, sizeof got), -1) << "nothing reaches the pipe before the commit";
  EXPECT_EQ(out.commit(), OUTPUT_CLOSED);
  EXPECT_EQ(std::string(got, static_cast<size_t>(::read(reader, got, sizeof got))),
            "MTrk0004data!");
  ::close(reader);
  struct stat info {};
  ASSERT_EQ(::lstat(pipe.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

TEST(OutputFile, DeviceIsWrittenNotReplaced) {
  TempDir dir;
  const std::string null = deviceNode(dir, false);
  const std::string full = deviceNode(dir, true);
  ASSERT_FALSE(null.empty() || full.empty()) << "mknod failed";
  ASSERT_EQ(::symlink(null.c_str(), dir.file("null.mid").c_str()), 0);
  const struct {
    std::string name;
    int32_t result;
    int error;  // the failure's errno, which the console programs put into words
  } cases[] = {{dir.file("null.mid"), OUTPUT_CLOSED, 0}, {full, OUTPUT_WRITE_FAILED, ENOSPC}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OutputFile out(c.name);
    ASSERT_TRUE(out.open());
    out.write(reinterpret_cast<const uint8_t*>("MThd"), 4);
    EXPECT_EQ(out.commit(), c.result);
    EXPECT_EQ(out.error(), c.error);
  }
  for (const std::string& device : {null, full}) {
    struct stat info {};
    ASSERT_EQ(::stat(device.c_str(), &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode)) << device;
  }
  struct stat link {};
  ASSERT_EQ(::lstat(dir.file("null.mid").c_str(), &link), 0);
  EXPECT_TRUE(S_ISLNK(link.st_mode));
}

// The outputs that would overwrite their score: every way two names reach one file.
TEST(OutputFile, OutputWouldOverwriteItsScoreThroughAnyName) {
  TempDir dir;
  writeFile(dir.file("song.fms"), "score");
  writeFile(dir.file("other.mid"), "midi");
  ASSERT_EQ(::symlink("song.fms", dir.file("soft.mid").c_str()), 0);
  ASSERT_EQ(::link(dir.file("song.fms").c_str(), dir.file("hard.mid").c_str()), 0);
  EXPECT_TRUE(outputWouldOverwrite(dir.file("song.fms"), dir.file("song.fms")));
  EXPECT_TRUE(outputWouldOverwrite(dir.file("soft.mid"), dir.file("song.fms")));
  EXPECT_TRUE(outputWouldOverwrite(dir.file("song.fms"), dir.file("soft.mid")));
  EXPECT_TRUE(outputWouldOverwrite(dir.file("hard.mid"), dir.file("song.fms")));
  EXPECT_TRUE(outputWouldOverwrite(dir.path() + "/./song.fms", dir.file("song.fms")));
  EXPECT_FALSE(outputWouldOverwrite(dir.file("other.mid"), dir.file("song.fms")));
  EXPECT_FALSE(outputWouldOverwrite(dir.file("new.mid"), dir.file("song.fms")));
  EXPECT_FALSE(outputWouldOverwrite(dir.file("song.mid"), dir.file("missing.mid")));
}

TEST(OutputFile, ModeFollowsTheUmask) {
  for (mode_t mask : {mode_t{022}, mode_t{077}, mode_t{0}, mode_t{027}}) {
    TempDir dir;
    const std::string target = dir.file("song.fmd");
    {
      UmaskGuard guard(mask);
      OutputFile out(target);
      ASSERT_TRUE(out.open());
      ASSERT_EQ(out.commit(), OUTPUT_CLOSED);
    }
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask) << std::oct << mask;
  }
}

// Real write failures: a child process under a 1000-byte file size limit writes an output.
// Its exit status: 16 if failed() was set before the commit, plus the commit result negated.
TEST(OutputFile, FailedWritesAreReportedAndLeaveNoTrace) {
  struct Case {
    const char* what;
    size_t size;
    bool seekBack;
    int status;
  };
  const Case cases[] = {
      {"buffer flush inside write", 100000, false, 16 + 1},
      {"flush before a seek", 5000, true, 16 + 1},
      {"final flush at commit", 5000, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string target = dir.file("song.mid");
    writeFile(target, "old");
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::signal(SIGXFSZ, SIG_IGN);
      rlimit limit{1000, 1000};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      auto out = std::make_unique<OutputFile>(target);
      if (!out->open()) _exit(100);
      const std::vector<uint8_t> data(c.size, 0x41);
      out->write(data.data(), data.size());
      if (c.seekBack) out->seek(0);
      const int failedBefore = out->failed() ? 16 : 0;
      const int32_t result = out->commit();
      _exit(failedBefore - result);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), c.status);
    std::string content;
    ASSERT_TRUE(readFile(target, content));
    EXPECT_EQ(content, "old");
    EXPECT_EQ(sorted(listDirectory(dir.path())), std::vector<std::string>{"song.mid"});
  }
}
