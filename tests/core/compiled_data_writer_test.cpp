// Compiled-data (.fmd) writer: header, offset table, channel bytes, the 65535 limit.
#include "core/compiled_data_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/output_stream.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

const std::string HEADER = "4B 56 50 30 30 30 4B 56 43 30 30 31 20 00 10 00";

// The 32-byte offset table with the given entries (index 0..15 -> value), the rest zero.
std::string table(const std::map<int, int>& entries) {
  Bytes t(32, 0);
  for (const auto& [index, value] : entries) {
    t[2 * index] = static_cast<uint8_t>(value & 0xFF);
    t[2 * index + 1] = static_cast<uint8_t>(value >> 8);
  }
  return hex(t);
}

int entry(const Bytes& image, int index) {
  return image[16 + 2 * index] | (image[17 + 2 * index] << 8);
}

std::string repeat(const std::string& piece, int times) {
  std::string s;
  for (int i = 0; i < times; ++i) s += piece;
  return s;
}

}  // namespace

TEST(CompiledData, ImageLayout) {
  struct Case {
    const char* source;
    std::string image;
  };
  const Case cases[] = {
      // Only ch3, 10 bytes: 60 bytes in all.
      {"ch3 { \"c c c c c\" }\r\n",
       HEADER + " " + table({{2, 32}}) + " 31 20 31 20 31 20 31 20 31 20 FF FF"},
      // ch2 with 4 bytes and ch5 with 6: entries 32 and 38, 62 bytes.
      {"ch2 { \"c d\" }\r\nch5 { \"c d e\" }\r\n",
       HEADER + " " + table({{1, 32}, {4, 38}}) + " 31 20 33 20 FF FF 31 20 33 20 35 20 FF FF"},
      // Parameter and tie events are copied as they are.
      {"ch1 { \"t120 v5 @3 $64 q4 c&c\" }\r\n",
       HEADER + " " + table({{0, 32}}) + " FC 78 FD 05 FE 03 F9 40 FA 03 31 20 FB 00 31 20 FF FF"},
  };
  for (const Case& c : cases) {
    for (Flavour flavour : {FLAVOUR_CONSOLE, FLAVOUR_EDITOR}) {
      SCOPED_TRACE(c.source);
      MemoryCompile compile(flavour, c.source, true);
      ASSERT_EQ(compile.run(), 0) << compile.host.transcript;
      EXPECT_TRUE(compile.host.outputKept);
      EXPECT_EQ(hex(compile.host.kept), c.image);
    }
  }
}

TEST(CompiledData, AllChannelsEmpty) {
  MemoryCompile console(FLAVOUR_CONSOLE, "ch1 { \"\" }\r\n", true);
  EXPECT_EQ(console.run(), 0);
  EXPECT_TRUE(console.host.outputKept);
  EXPECT_TRUE(console.host.kept.empty());
  EXPECT_EQ(console.host.transcript, " ** complete! **\n");

  MemoryCompile editor(FLAVOUR_EDITOR, "ch1 { \"\" }\r\n", true);
  EXPECT_EQ(editor.run(), 0);
  EXPECT_EQ(hex(editor.host.kept), HEADER + " " + table({}));
}

TEST(CompiledData, ReportShowsUnitsNotTicks) {
  MemoryCompile c(FLAVOUR_CONSOLE, "ch4 { \"{cde}4 c:7\" }\r\nch1 { \"c&c r8\" }\r\n", true);
  ASSERT_EQ(c.run(), 0);
  EXPECT_EQ(c.host.transcript,
            " -> ch1  size(8 byte)  kvc Length (80)\n"
            " -> ch4  size(8 byte)  kvc Length (39)\n"
            " ** complete! **\n");
}

TEST(CompiledData, EditorGetsThePartialImageAfterAnError) {
  const char* source = "ch1 { \"c d\" }\r\nch2 { \"c x\" }\r\n";
  MemoryCompile editor(FLAVOUR_EDITOR, source, true);
  EXPECT_EQ(editor.run(), 1);
  EXPECT_EQ(hex(editor.host.output.bytes()),
            HEADER + " " + table({{0, 32}, {1, 38}}) + " 31 20 33 20 FF FF 31 20 FF FF");
  EXPECT_EQ(editor.host.alerts, std::vector<std::string>{"compile stopped!"});

  MemoryCompile console(FLAVOUR_CONSOLE, source, true);
  EXPECT_EQ(console.run(), 1);
  EXPECT_FALSE(console.host.outputOpened);
}

// Entries are 16 bits: an image is refused when a channel's entry would pass 65535; data
// behind the last entry may reach past it.
TEST(CompiledData, EntryLimit) {
  struct Case {
    int lengths[3];
    bool accepted;
  };
  const Case cases[] = {
      {{64000, 1499, 2}, true},   // ch3 entry 32 + 64002 + 1501 = 65535
      {{64000, 1500, 2}, false},  // 65536
      {{64000, 1498, 2}, true},   // 65534
      {{64000, 1500, 0}, true},   // no third entry needed
  };
  for (const Case& c : cases) {
    for (Flavour flavour : {FLAVOUR_CONSOLE, FLAVOUR_EDITOR}) {
      SCOPED_TRACE(c.lengths[1]);
      MemoryHost host(flavour, "");
      auto session = std::make_unique<CompileSession>();
      host.attach(*session);
      std::vector<std::unique_ptr<uint8_t[]>> areas;
      for (int k = 0; k < CHANNEL_COUNT; ++k) {
        areas.push_back(std::make_unique<uint8_t[]>(WORK_AREA_BYTES));
        std::memset(areas.back().get(), k + 1, WORK_AREA_BYTES);
        session->workArea[k] = areas.back().get();
        session->workLength[k] = k < 3 ? c.lengths[k] : 0;
      }
      MemoryOutputStream out;
      const int32_t result = writeCompiledData(*session, out);
      if (!c.accepted) {
        EXPECT_EQ(result, -1);
        EXPECT_TRUE(out.bytes().empty());
        if (flavour == FLAVOUR_CONSOLE) {
          EXPECT_EQ(host.transcript, "[error] fmd data over 65535 byte\n");
        }
        continue;
      }
      EXPECT_EQ(result, 0);
      const Bytes& image = out.bytes();
      size_t size = 48;
      for (int length : c.lengths) size += length != 0 ? length + 2 : 0;
      ASSERT_EQ(image.size(), size);
      EXPECT_EQ(entry(image, 0), 32);
      EXPECT_EQ(entry(image, 1), 32 + c.lengths[0] + 2);
      EXPECT_EQ(entry(image, 2), c.lengths[2] != 0 ? 32 + c.lengths[0] + c.lengths[1] + 4 : 0);
      // ch2's bytes sit at its entry and end with the end mark, then ch3 follows.
      const size_t ch2 = 16 + static_cast<size_t>(entry(image, 1));
      EXPECT_EQ(image[ch2], 2);
      EXPECT_EQ(image[ch2 + c.lengths[1] - 1], 2);
      EXPECT_EQ(image[ch2 + c.lengths[1]], 0xFF);
      EXPECT_EQ(image[ch2 + c.lengths[1] + 1], 0xFF);
      EXPECT_EQ(image.back(), 0xFF);
    }
  }
}

TEST(CompiledData, OverLimitFailsTheConsoleCompile) {
  // ch1: 32000 notes (64000 bytes); ch2: 750 notes puts ch3's entry at 65536, 749 at 65534.
  for (int notes : {750, 749}) {
    std::string source = "ch1 {\r\n";
    for (int i = 0; i < 32; ++i) source += "\"" + repeat("c", 1000) + "\"\r\n";
    source += "}\r\nch2 { \"" + repeat("c", notes) + "\" }\r\nch3 { \"c\" }\r\n";
    MemoryCompile c(FLAVOUR_CONSOLE, source, true);
    if (notes == 750) {
      EXPECT_EQ(c.run(), 1);
      EXPECT_EQ(c.host.transcript, "[error] fmd data over 65535 byte\n\n other error\n");
      EXPECT_FALSE(c.host.outputKept);
    } else {
      ASSERT_EQ(c.run(), 0);
      EXPECT_EQ(c.host.kept.size(), 48u + 64002 + 1500 + 4);
      EXPECT_EQ(entry(c.host.kept, 2), 65534);
    }
  }
}

TEST(CompiledData, OverLimitInTheEditorWritesNothingAndKeepsAnEarlierErrorCode) {
  std::string source = "ch1 {\r\n";
  for (int i = 0; i < 32; ++i) source += "\"" + repeat("c", 1000) + "\"\r\n";
  source += "}\r\nch2 { \"" + repeat("c", 750) + "\" }\r\nch3 { \"c\" }\r\n";
  for (const char* tail : {"", "ch3 { \"v20\" }\r\n"}) {
    MemoryCompile c(FLAVOUR_EDITOR, source + tail, true);
    EXPECT_EQ(c.run(), *tail == '\0' ? 1 : ERROR_VELOCITY);
    EXPECT_TRUE(c.host.output.bytes().empty());
    EXPECT_FALSE(c.host.outputKept);
    ASSERT_FALSE(c.host.alerts.empty());
    EXPECT_EQ(c.host.alerts.back(), "compile stopped!");
    ASSERT_GE(c.host.messages.size(), 2u);
    EXPECT_EQ(c.host.messages[c.host.messages.size() - 2],
              "[エラー] fmd データが 65535 byte を越えた");
    EXPECT_EQ(c.host.messages.back(), " *** その他のエラー発生 *** ");
  }
}
