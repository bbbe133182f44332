// The compile driver over one session: repeated compilations as the editor runs them, and what
// the driver asks of its host.
#include "core/compile_driver.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <type_traits>

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
