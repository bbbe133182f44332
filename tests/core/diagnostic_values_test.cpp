// The diagnostics the core hands its host besides the printed report: one value for every
// message, with the place and the values it names, and the core's words for it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/diagnostics.h"
#include "core/source_map.h"
#include "tests/support/memory_host.h"

namespace {

// Command-string lines holding `count` plain notes "c" in all.
std::string noteLines(int count) {
  std::string out;
  for (; count > 0; count -= 1000) out += "\"" + std::string(std::min(count, 1000), 'c') + "\"\r\n";
  return out;
}

const std::string FULL_CHANNEL = "ch1 {\r\n" + noteLines(32000);  // lines 1..33

}  // namespace

// A full channel stops the compilation as "other error" in the printed report and the result,
// but its diagnostic names the channel and its limit under a code of its own, whichever command
// was refused; another "other error" in the same session afterwards is not taken for one.
TEST(DiagnosticValues, AFullChannelHasItsOwnCodeAndWords) {
  for (Flavour flavour : {FLAVOUR_CONSOLE, FLAVOUR_EDITOR}) {
    for (const std::string refused : {"\"c\"", "\" v10\""}) {
      SCOPED_TRACE(testing::Message() << refused << " flavour " << flavour);
      MemoryCompile m(flavour, FULL_CHANNEL + refused + "\r\n");
      EXPECT_EQ(m.run(), ERROR_OTHER);
      ASSERT_EQ(m.host.diagnostics.size(), 1u);
      const Diagnostic& d = m.host.diagnostics[0];
      EXPECT_EQ(d.code, DIAGNOSTIC_CHANNEL_FULL);
      EXPECT_EQ(d.channel, 1);
      EXPECT_EQ(d.limit, 32000);
      EXPECT_EQ(d.line, 33);
      EXPECT_EQ(d.lineNumber, 34);
      EXPECT_EQ(d.commandStart, refused == "\"c\"" ? 1 : 2);
      EXPECT_EQ(diagnosticText(d, flavour), flavour == FLAVOUR_CONSOLE
                                                ? "ch1 is full: 32000 events"
                                                : "ch1が満杯: 32000イベント");

      m.host.diagnostics.clear();
      m.host.replaceSource("cr x\r\n");
      EXPECT_EQ(m.run(), ERROR_OTHER);
      ASSERT_EQ(m.host.diagnostics.size(), 1u);
      EXPECT_EQ(m.host.diagnostics[0].code, ERROR_OTHER);
      EXPECT_EQ(m.host.diagnostics[0].channel, 0);
    }
  }
}

// The editor's reader cuts a long line and goes on: a warning that names the line and the bytes
// left out, worded as the pane line it follows.
TEST(DiagnosticValues, ALongLineIsAWarningAboutTheBytesLeftOut) {
  MemoryCompile m(FLAVOUR_EDITOR,
                  "ch1 { \"c\" }\n//" + std::string(2100, 'a') + "\nch2 { \"d\" }\n");
  EXPECT_EQ(m.run(), 0);
  ASSERT_EQ(m.host.diagnostics.size(), 1u);
  const Diagnostic& d = m.host.diagnostics[0];
  EXPECT_EQ(d.kind, DiagnosticKind::WARNING);
  EXPECT_EQ(d.code, DIAGNOSTIC_LONG_LINE);
  EXPECT_EQ(d.line, 1);
  EXPECT_EQ(d.lineNumber, 2);
  EXPECT_EQ(d.commandStart, 1998);
  EXPECT_EQ(d.commandEnd, 2102);
  EXPECT_EQ(" " + diagnosticText(d, FLAVOUR_EDITOR), m.host.messages.at(0));
}

// The MIDI writer's lone tie is the channel's, found while writing; with a source map its place
// is the tie's own command, without one it names no line.
TEST(DiagnosticValues, ALoneTieNamesItsChannelAndWithAMapItsPlace) {
  const std::string score = "ch3 { \"c d\" }\nch3 { \"e &\" }\n";
  for (bool mapped : {false, true}) {
    SCOPED_TRACE(mapped ? "mapped" : "not mapped");
    SourceMap map;
    MemoryCompile m(FLAVOUR_EDITOR, score);
    if (mapped) m.host.sourceMapStorage = &map;
    EXPECT_EQ(m.run(), ERROR_FAILED);  // the editor stops for its output
    ASSERT_EQ(m.host.diagnostics.size(), 1u);
    const Diagnostic& d = m.host.diagnostics[0];
    EXPECT_EQ(d.code, ERROR_TIE_SINGLE);
    EXPECT_EQ(d.channel, 3);
    EXPECT_TRUE(d.writing);
    EXPECT_EQ(d.line, mapped ? 1 : -1);
    EXPECT_EQ(d.commandStart, mapped ? 9 : 0);
    EXPECT_EQ(d.commandEnd, mapped ? 10 : 0);
    EXPECT_EQ(diagnosticText(d, FLAVOUR_CONSOLE), "&  single");
  }
}

// Failures outside the score name no line; each has its code and the words its report printed.
TEST(DiagnosticValues, OutputAndSourceFailuresNameNoLine) {
  const struct {
    const char* name;
    bool opens;
    int32_t closeResult;
    int64_t readFailsAt;
    int32_t code;
    const char* words;
  } cases[] = {
      {"not opened", false, OUTPUT_CLOSED, -1, DIAGNOSTIC_OUTPUT_OPEN, "fmbin open err"},
      {"write failed", true, OUTPUT_WRITE_FAILED, -1, DIAGNOSTIC_OUTPUT_WRITE, "fmbin write err"},
      {"not replaced", true, OUTPUT_REPLACE_FAILED, -1, DIAGNOSTIC_OUTPUT_OPEN, "fmbin open err"},
      {"read failed", true, OUTPUT_CLOSED, 3, DIAGNOSTIC_SOURCE_READ, "Can not read source file!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryCompile m(FLAVOUR_CONSOLE, "ch1 { \"c\" }\r\n");
    m.host.outputOpens = c.opens;
    m.host.closeResult = c.closeResult;
    m.host.readFailsAt = c.readFailsAt;
    EXPECT_EQ(m.run(), ERROR_FAILED);
    ASSERT_EQ(m.host.diagnostics.size(), 1u);
    const Diagnostic& d = m.host.diagnostics[0];
    EXPECT_EQ(d.code, c.code);
    EXPECT_EQ(d.line, -1);
    EXPECT_EQ(diagnosticText(d, FLAVOUR_CONSOLE), c.words);
    EXPECT_NE(m.host.transcript.find(std::string(c.words) + "\n"), std::string::npos);
  }
}
