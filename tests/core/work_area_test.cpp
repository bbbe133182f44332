#include "core/work_area.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/line_helpers.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

// A bare session with nine work areas pre-filled with 0xEE, so untouched bytes show.
struct Areas : BareSession {
  explicit Areas(Flavour flavour) : BareSession(flavour) {
    for (int k = 0; k < CHANNEL_COUNT; ++k) {
      storage[k].assign(WORK_AREA_BYTES, 0xEE);
      s->workArea[k] = storage[k].data();
    }
  }
  ~Areas() {
    for (uint8_t*& area : s->workArea) area = nullptr;
  }
  Bytes events(int channel) const {
    const uint8_t* area = s->workArea[channel - 1];
    return Bytes(area, area + s->workLength[channel - 1]);
  }
  std::vector<uint8_t> storage[CHANNEL_COUNT];
};

// Command-string lines holding `count` plain notes "c" in all.
std::string noteLines(int count) {
  std::string out;
  for (; count > 0; count -= 1000) out += "\"" + std::string(std::min(count, 1000), 'c') + "\"\r\n";
  return out;
}

}  // namespace

TEST(WorkArea, AppendEventStoresPairsUnchangedAndRefusesBadInput) {
  Areas a(FLAVOUR_CONSOLE);
  a.s->openChannel = 3;
  EXPECT_EQ(appendEvent(*a.s, EVENT_TIE, 0), 0);
  EXPECT_EQ(appendEvent(*a.s, 0, 255), 0);
  EXPECT_EQ(appendEvent(*a.s, 96, 1), 0);
  EXPECT_EQ(appendEvent(*a.s, 255, 255), 0);
  const struct {
    int32_t code, value, channel;
  } refused[] = {{256, 0, 3}, {0, 256, 3}, {300, 300, 3}, {1, 1, 0}};
  for (const auto& r : refused) {
    a.s->openChannel = r.channel;
    EXPECT_EQ(appendEvent(*a.s, r.code, r.value), -1) << r.code << "," << r.value;
  }
  EXPECT_EQ(hex(a.events(3)), "FB 00 00 FF 60 01 FF FF");
  for (int ch = 1; ch <= CHANNEL_COUNT; ++ch) {
    if (ch != 3) {
      EXPECT_EQ(a.s->workLength[ch - 1], 0);
    }
  }
  EXPECT_TRUE(a.host.messages.empty());
}

TEST(WorkArea, AppendTimedEventCodeAndDuration) {
  Areas a(FLAVOUR_CONSOLE);
  a.s->openChannel = 2;
  const int32_t units[16] = {255, 192, 128, 96, 64, 48, 32, 24, 16, 12, 8, 6, 4, 3, 2, 1};
  for (int32_t index = 0; index < 16; ++index) {
    EXPECT_EQ(appendTimedEvent(*a.s, 5, index), 0);  // octave 4 (start value): E = 53
  }
  Bytes expected;
  for (int32_t u : units) expected.insert(expected.end(), {53, static_cast<uint8_t>(u)});
  EXPECT_EQ(a.events(2), expected);

  Areas b(FLAVOUR_CONSOLE);
  b.s->openChannel = 9;
  b.s->octave[8] = 3;
  EXPECT_EQ(appendTimedEvent(*b.s, 0, 6), 0);    // a rest ignores the octave
  EXPECT_EQ(appendTimedEvent(*b.s, 1, 2), 0);    // 1 + 36
  EXPECT_EQ(appendTimedEvent(*b.s, 12, 15), 0);  // 12 + 36
  b.s->octave[8] = 7;
  EXPECT_EQ(appendTimedEvent(*b.s, 12, 0), 0);  // 96, the highest note
  b.s->octave[8] = 0;
  EXPECT_EQ(appendTimedEvent(*b.s, 1, 8), 0);
  EXPECT_EQ(hex(b.events(9)), "00 20 25 80 30 01 60 FF 01 10");

  const struct { int32_t channel, index; } refused[] = {{9, -1}, {9, 16}, {0, 6}, {10, 6}};
  for (const auto& r : refused) {
    b.s->openChannel = r.channel;
    EXPECT_EQ(appendTimedEvent(*b.s, 1, r.index), -1) << r.channel << "/" << r.index;
  }
  EXPECT_EQ(b.s->workLength[8], 10);
  EXPECT_TRUE(b.host.messages.empty());
}

TEST(WorkArea, CapacityIs32000EventsPerChannel) {
  const struct {
    Flavour flavour;
    const char* overflow;
  } cases[] = {
      {FLAVOUR_CONSOLE, " -> ch4  workarea over.(Max 64000byte)"},
      {FLAVOUR_EDITOR, " -> ch4が 確保領域:64000byteを越えた"},
  };
  for (const auto& c : cases) {
    Areas a(c.flavour);
    a.s->openChannel = 4;
    for (int i = 0; i < 31999; ++i) ASSERT_EQ(appendEvent(*a.s, EVENT_VELOCITY, 7), 0);
    EXPECT_EQ(appendTimedEvent(*a.s, 1, 6), 0);  // the 32000th event
    EXPECT_EQ(a.s->workLength[3], WORK_AREA_LIMIT);
    EXPECT_EQ(appendEvent(*a.s, EVENT_TIE, 0), -1);
    EXPECT_TRUE(a.host.messages.empty());  // refused silently
    EXPECT_EQ(appendTimedEvent(*a.s, 1, 6), -1);
    EXPECT_EQ(a.host.messages, std::vector<std::string>{c.overflow});
    EXPECT_EQ(a.s->workLength[3], WORK_AREA_LIMIT);
    EXPECT_EQ(hex(Bytes(a.storage[3].begin() + 63996, a.storage[3].end())),
              "FD 07 31 20 EE EE EE EE");
    a.s->openChannel = 5;  // other channels keep their own room
    EXPECT_EQ(appendTimedEvent(*a.s, 1, 6), 0);
  }
}

TEST(WorkArea, FullChannelInACompilation) {
  const std::string full = "ch1 {\r\n" + noteLines(32000);  // lines 1..33
  const std::string almost = "ch1 {\r\n" + noteLines(31999);
  const std::string stopped = "compile stopped!\n";
  struct Case {
    std::string source;
    int32_t result;
    std::string out;
  };
  const Case cases[] = {
      {full + "}\r\n", 0, " -> ch1  size(64000 byte)  Track Tick (15360000)\n ** complete! **\n"},
      {full + "\"@5\"\r\n", 0,
       " -> ch1  size(64000 byte)  Track Tick (15360000)\n ** complete! **\n"},
      {full + "\"c\"\r\n", -1,
       " -> ch1  workarea over.(Max 64000byte)line (34) : \"c\"\r\n\n other error\n" + stopped},
      {full + "\"r\"\r\n", -1,
       " -> ch1  workarea over.(Max 64000byte)line (34) : \"r\"\r\n\n other error\n" + stopped},
      {full + "\"v10\"\r\n", -1, "line (34) : \"v10\"\r\n\n other error\n" + stopped},
      {full + "\"c:5\"\r\n", -1, "line (34) : \"c:5\"\r\n\n other error\n" + stopped},
      {almost + "\"{cd}4\"\r\n", 20, "line (34) : \"{cd}4\"\r\n\ncode {} error\n" + stopped},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source.substr(c.source.size() - 10));
    MemoryCompile m(FLAVOUR_CONSOLE, c.source);
    EXPECT_EQ(m.run(), c.result);
    EXPECT_EQ(printed(m.host), c.out);
  }

  // The editor shows the overflow as its own pane line before the report.
  MemoryCompile editor(FLAVOUR_EDITOR, full + "\"c\"\r\n");
  EXPECT_EQ(editor.run(), -1);
  EXPECT_EQ(
      editor.host.messages,
      (std::vector<std::string>{" -> ch1が 確保領域:64000byteを越えた", "ERR -> line [00034]:\"c\"",
                                std::string(22, ' ') + "?", " *** その他のエラー発生 *** "}));

  // The tuplet's first note still fitted; what was stored stays.
  EventCompile tuplet(almost + "\"{cd}4\"\r\n");
  EXPECT_EQ(tuplet.result, ERROR_TUPLET);
  const Bytes events = tuplet.events(1);
  ASSERT_EQ(events.size(), 64000u);
  EXPECT_EQ(hex(Bytes(events.end() - 4, events.end())), "31 20 31 10");
}

TEST(WorkArea, RestCodesAndZeroDurationsCountAsTime) {
  // n0 and a tuplet rest are code 0; seven notes in one unit leave six of duration 0.
  MemoryCompile c(FLAVOUR_EDITOR, "ch1 { \"n0 {rc}4 {ccccccc}128\" }", true);
  EXPECT_EQ(c.run(), 0);
  EXPECT_EQ(hex(fmdChannel(c.host.kept, 1)),
            "00 20 00 10 31 10 31 01 31 00 31 00 31 00 31 00 31 00 31 00");
  EXPECT_EQ(c.host.messages, (std::vector<std::string>{" -> ch1 size(20 byte)  kvc Length (65)",
                                                       " ** コンパイル終了 **"}));
}
