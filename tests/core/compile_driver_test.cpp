// The compile driver over one session: repeated compilations as the editor runs them, and what
// the driver asks of its host.
#include "core/compile_driver.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "tests/support/line_helpers.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

// A host that derives from CompileHost itself has no line source and no flavour: it cannot be
// made, so it can never compile an empty score and report success.
struct HostWithoutSource : CompileHost {
  void messageLine(std::string_view) override {}
  void alert(std::string_view) override {}
  OutputStream* openOutput() override { return nullptr; }
  int32_t closeOutput(bool) override { return OUTPUT_CLOSED; }
};
static_assert(!std::is_default_constructible_v<HostWithoutSource>);

struct Outcome {
  int32_t result;
  std::string transcript;
  std::string output;  // hex of what the host kept, "-" when nothing was kept
};

// Compiles `source` on `session` through `host`, prepared as the host's program does.
Outcome compileOn(CompileSession& session, MemoryHost& host, const std::string& source,
                  bool compiledData) {
  host.replaceSource(source);
  host.transcript.clear();
  host.outputKept = false;
  host.prepare(session, compiledData);
  const int32_t result = compileSource(session);
  return {result, host.transcript, host.outputKept ? hex(host.kept) : "-"};
}

void expectSame(const Outcome& got, const Outcome& want) {
  EXPECT_EQ(got.result, want.result);
  EXPECT_EQ(got.transcript, want.transcript);
  EXPECT_EQ(got.output, want.output);
}

// Header commands, two channels and a tuplet, a block left open at the end, a comment left open.
const std::string FULL_SCORE =
    "cr(\"Tarv Works\")\r\nsn(\"Song\")\r\n/* two\r\nlines */ ch2 { \"t150 o3 cde\" }\r\n"
    "ch4 { \"l8 {cde}4 r\" }\r\nch5 { \"c\"\r\n/* left open";

}  // namespace

TEST(RepeatedCompilation, EachRunOnOneSessionGivesTheSameResult) {
  const std::string scores[] = {
      "op(q7def, autolr)\r\n" + FULL_SCORE,
      "ch1 { \"c\" }\r\nch2 { \"d v20\" }\r\n",  // fails on line 2
  };
  for (const std::string& score : scores) {
    for (const Flavour flavour : {FLAVOUR_CONSOLE, FLAVOUR_EDITOR}) {
      for (const bool compiledData : {false, true}) {
        SCOPED_TRACE(testing::Message() << "flavour " << flavour << " compiled data "
                                        << compiledData << " score " << score.substr(0, 12));
        auto session = std::make_unique<CompileSession>();
        MemoryHost host(flavour, "");
        const Outcome first = compileOn(*session, host, score, compiledData);
        EXPECT_NE(first.output, "");  // a score with events, not an empty one
        for (int run = 2; run <= 3; ++run) {
          SCOPED_TRACE(run);
          expectSame(compileOn(*session, host, score, compiledData), first);
        }
      }
    }
  }
}

// Copyright, sequence name, GM reset, open block and open comment of one score must not reach
// the next: it compiles as it would in a fresh session.
TEST(RepeatedCompilation, NothingOfOneScoreReachesTheNext) {
  const std::string next = "ch3 { \"c\" }\r\n";
  for (const Flavour flavour : {FLAVOUR_CONSOLE, FLAVOUR_EDITOR}) {
    for (const bool compiledData : {false, true}) {
      SCOPED_TRACE(testing::Message()
                   << "flavour " << flavour << " compiled data " << compiledData);
      auto fresh = std::make_unique<CompileSession>();
      MemoryHost freshHost(flavour, "");
      const Outcome alone = compileOn(*fresh, freshHost, next, compiledData);
      EXPECT_EQ(alone.result, 0);

      auto session = std::make_unique<CompileSession>();
      MemoryHost host(flavour, "");
      EXPECT_EQ(compileOn(*session, host, FULL_SCORE, compiledData).result, 0);
      expectSame(compileOn(*session, host, next, compiledData), alone);
    }
  }
}

// The console source is closed exactly once, after the line loop and before the output is
// opened, whatever ends the compilation; a source that did not open is not closed.
TEST(ConsoleSource, ClosedOnceBeforeTheOutput) {
  using Calls = std::vector<std::string>;
  const std::string score = "ch1 { \"c\" }\r\nch2 { \"d\" }\r\n";
  const struct {
    const char* what;
    std::string source;
    bool opens;
    int64_t readFailsAt;
    int32_t result;
    std::string out;
    Calls calls;
  } cases[] = {
      {"clean", score, true, -1, 0,
       " -> ch1  size(2 byte)  Track Tick (480)\n -> ch2  size(2 byte)  Track Tick (480)\n"
       " ** complete! **\n",
       Calls{"openSource", "closeSource", "openOutput", "closeOutput keep"}},
      {"score error", "ch1 { \"v20\" }\r\n", true, -1, ERROR_VELOCITY,
       "line (1) : ch1 { \"v20\" }\r\n\ncode 'V?' (0 to 16)\ncompile stopped!\n",
       Calls{"openSource", "closeSource"}},
      {"not opened", score, false, -1, 1, "compile stopped!\n", Calls{"openSource"}},
      {"read error at once", score, true, 0, 1, "Can not read source file!\ncompile stopped!\n",
       Calls{"openSource", "closeSource"}},
      // Line 1 is read whole; the error comes inside line 2, which is not compiled either.
      {"read error in line 2", score, true, 16, 1, "Can not read source file!\ncompile stopped!\n",
       Calls{"openSource", "closeSource"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryCompile m(FLAVOUR_CONSOLE, c.source);
    m.host.sourceOpens = c.opens;
    m.host.readFailsAt = c.readFailsAt;
    EXPECT_EQ(m.run(), c.result);
    EXPECT_EQ(printed(m.host), c.out);
    EXPECT_EQ(m.host.calls, c.calls);
  }
}

// Compiled data reports the sum of the durations of notes 0..96 and rests; parameter events
// and ties carry no time.
TEST(CompiledDataReport, CountsEveryNoteCodeUpTo96) {
  MemoryCompile m(FLAVOUR_CONSOLE, "ch1 { \"n96 v10 n0 c&c r8\" }\r\n", true);
  EXPECT_EQ(m.run(), 0);
  EXPECT_EQ(printed(m.host), " -> ch1  size(14 byte)  kvc Length (144)\n ** complete! **\n");
}
