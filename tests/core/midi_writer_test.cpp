// Standard MIDI File writer: whole files byte for byte, channel tracks, ties, tempo merging,
// the two flavours' differences and the encoders.
#include "core/midi_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/output_stream.h"
#include "tests/support/test_support.h"

using namespace testing_support;

namespace {

constexpr const char* CONDUCTOR_START =
    "00 FF 58 04 01 03 18 08 81 70 FF 51 03 07 A1 20 00 FF 58 04 04 02 18 08 00";
const std::string PLAIN_CONDUCTOR = std::string(CONDUCTOR_START) + " FF 2F 00";

std::string format(const char* pattern, int a, int b = 0) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, a, b);
  return text;
}

// The body of a channel track for channel n (first delta included, length field excluded):
// GM System On in the first channel track, the "_" text in the others, all sound off, the
// program change (not ch9), an optional pan, the events, End of Track.
std::string channelTrack(int n, bool first, const std::string& events, int pan = -1) {
  std::string s = first ? "00 F0 05 7E 7F 09 01 F7 81 10" : "00 FF 01 01 5F 81 10";
  s += format(" B%X 78 00 60", n);
  if (n != 9) s += format(" C%X 00 00", n);
  if (pan >= 0) s += format(" B%X 0A %02X 00", n, pan);
  if (!events.empty()) s += " " + events;
  return s + " FF 2F 00";
}

// A file split into its header and track bodies; every chunk length is checked against what
// follows it.
struct Smf {
  std::string header;
  std::vector<std::string> tracks;
};

Smf splitSmf(const Bytes& file) {
  Smf smf;
  if (file.size() < 14) {
    ADD_FAILURE() << "no header chunk: " << hex(file);
    return smf;
  }
  smf.header = hex(Bytes(file.begin(), file.begin() + 14));
  size_t pos = 14;
  while (pos < file.size()) {
    if (pos + 8 > file.size() || std::memcmp(&file[pos], "MTrk", 4) != 0) {
      ADD_FAILURE() << "no track chunk at " << pos;
      return smf;
    }
    const size_t length = (size_t{file[pos + 4]} << 24) | (size_t{file[pos + 5]} << 16) |
                          (size_t{file[pos + 6]} << 8) | file[pos + 7];
    if (pos + 8 + length > file.size()) {
      ADD_FAILURE() << "track at " << pos << " claims " << length << " bytes";
      return smf;
    }
    smf.tracks.push_back(hex(Bytes(file.begin() + pos + 8, file.begin() + pos + 8 + length)));
    pos += 8 + length;
  }
  return smf;
}

std::string header(int tracks) {
  return format("4D 54 68 64 00 00 00 06 00 01 00 %02X 01 E0", tracks);
}

// A session filled by hand, for events the parser never stores.
struct HandSession {
  explicit HandSession(Flavour flavour) : host(flavour, "") {
    host.attach(*session);
    for (int k = 0; k < CHANNEL_COUNT; ++k) {
      areas.push_back(std::make_unique<uint8_t[]>(WORK_AREA_BYTES));
      session->workArea[k] = areas.back().get();
      session->gate[k] = 7;
    }
  }
  void set(int channel, const Bytes& events) {
    std::memcpy(session->workArea[channel - 1], events.data(), events.size());
    session->workLength[channel - 1] = static_cast<int32_t>(events.size());
  }
  MemoryHost host;
  std::unique_ptr<CompileSession> session = std::make_unique<CompileSession>();
  std::vector<std::unique_ptr<uint8_t[]>> areas;
};

}  // namespace

TEST(MidiWriter, OneNoteScoreGivesTheKnownFile) {
  for (Flavour flavour : {FLAVOUR_EDITOR, FLAVOUR_CONSOLE}) {
    MemoryCompile c(flavour, "ch1 { \"o3 c\" }\r\n");
    ASSERT_EQ(c.run(), 0);
    EXPECT_TRUE(c.host.outputKept);
    EXPECT_EQ(hex(c.host.kept),
              "4D 54 68 64 00 00 00 06 00 01 00 02 01 E0 "
              "4D 54 72 6B 00 00 00 1C 00 FF 58 04 01 03 18 08 81 70 FF 51 03 07 A1 20 00 "
              "FF 58 04 04 02 18 08 00 FF 2F 00 "
              "4D 54 72 6B 00 00 00 1C 00 F0 05 7E 7F 09 01 F7 81 10 B1 78 00 60 C1 00 00 91 "
              "3C 4F 83 60 3C 00 00 FF 2F 00");
  }
}

TEST(MidiWriter, ScoreWithoutEventsGivesAnEmptyFile) {
  for (const char* source : {"", "// nothing here\r\nch1 { \"\" }\r\n"}) {
    MemoryCompile console(FLAVOUR_CONSOLE, source);
    EXPECT_EQ(console.run(), 0);
    EXPECT_TRUE(console.host.outputKept);
    EXPECT_TRUE(console.host.kept.empty());
    EXPECT_EQ(console.host.transcript, " ** complete! **\n");

    MemoryCompile editor(FLAVOUR_EDITOR, source);
    EXPECT_EQ(editor.run(), 0);
    EXPECT_TRUE(editor.host.outputKept);
    EXPECT_TRUE(editor.host.kept.empty());
    EXPECT_EQ(editor.host.messages, std::vector<std::string>{" ** コンパイル終了 **"});
  }
}

// One channel, ch1, default octave 4 (c = MIDI 72 = 0x48), quarter notes, gate step 7,
// velocity level 10 (79 = 0x4F). Both flavours give the same track unless consoleEvents is set.
struct TrackCase {
  const char* body;
  const char* events;
  int size;  // workLength
  int ticks;
  const char* consoleEvents = nullptr;
};

TEST(MidiWriter, ChannelTrackEventsAndTrackTicks) {
  const TrackCase cases[] = {
      {"c", "91 48 4F 83 60 48 00 00", 2, 480},
      {"r", "91 17 00 83 60 17 00 00", 2, 480},  // note 23 at velocity 0 carries the time
      {"n1 n96 n0", "91 18 4F 83 60 18 00 00 77 4F 83 60 77 00 00 17 00 83 60 17 00 00", 6, 1440},
      // Under 128 ticks the gate applies: 120 ticks at gate 6 sound 105, 60 at gate 0 sound 7.
      {"q7 c:8", "91 48 4F 69 48 00 0F", 4, 120},
      {"q1 c:4", "91 48 4F 07 48 00 35", 4, 60},
      // 135 ticks and more sound their full length whatever the gate.
      {"q1 c:9", "91 48 4F 81 07 48 00 00", 4, 135},
      // {cd}128: c gets the one unit, d none: on and off at the same tick.
      {"{cd}128", "91 48 4F 0F 48 00 00 4A 4F 00 4A 00 00", 4, 15},
      {"v0 c v16 c v1 c", "91 48 00 83 60 48 00 00 48 7F 83 60 48 00 00 48 07 83 60 48 00 00", 12,
       1440},
      // Program and pan events end running status; gate and velocity events do not.
      {"@5 c $10 c q4 c",
       "C1 05 00 91 48 4F 83 60 48 00 00 B1 0A 0A 00 91 48 4F 83 60 48 00 00 "
       "48 4F 83 60 48 00 00",
       12, 1440},
      // Ties: one note-on and one note-off for the summed length.
      {"c&c", "91 48 4F 87 40 48 00 00", 6, 960},
      {"c&r", "91 48 4F 87 40 48 00 00", 6, 960},
      {"l8 c&d4&r e", "91 48 4F 87 40 48 00 00 4C 4F 81 70 4C 00 00", 12, 1200},
      {"q7 c:4&c:4", "91 48 4F 69 48 00 0F", 8, 120},  // the gate sees the tied total
      {"c:255&c:255&c:255&c:255&c:255", "91 48 4F 81 95 35 48 00 00", 18, 19125},
      // Tempo: in the console's channel track too, where it ends running status.
      {"t100 c t150 c", "91 48 4F 83 60 48 00 00 48 4F 83 60 48 00 00", 8, 960,
       "FF 51 03 09 27 C0 00 91 48 4F 83 60 48 00 00 FF 51 03 06 1A 80 00 91 48 4F 83 60 48 00 "
       "00"},
  };
  for (const TrackCase& t : cases) {
    for (Flavour flavour : {FLAVOUR_EDITOR, FLAVOUR_CONSOLE}) {
      SCOPED_TRACE(std::string(t.body) + (flavour == FLAVOUR_EDITOR ? " (editor)" : " (console)"));
      MemoryCompile c(flavour, std::string("ch1 { \"") + t.body + "\" }\r\n");
      ASSERT_EQ(c.run(), 0) << c.host.transcript;
      const Smf smf = splitSmf(c.host.kept);
      EXPECT_EQ(smf.header, header(2));
      ASSERT_EQ(smf.tracks.size(), 2u);
      const char* events =
          flavour == FLAVOUR_CONSOLE && t.consoleEvents ? t.consoleEvents : t.events;
      EXPECT_EQ(smf.tracks[1], channelTrack(1, true, events));
      const std::string report =
          format(flavour == FLAVOUR_CONSOLE ? " -> ch1  size(%d byte)  Track Tick (%d)\n"
                                            : " -> ch1 size(%d byte)  Track Tick (%d)",
                 t.size, t.ticks);
      if (flavour == FLAVOUR_CONSOLE) {
        EXPECT_EQ(c.host.transcript, report + " ** complete! **\n");
      } else {
        EXPECT_EQ(c.host.messages, (std::vector<std::string>{report, " ** コンパイル終了 **"}));
      }
    }
  }
}

TEST(MidiWriter, OnlyChannelNineHasNoProgramChange) {
  MemoryCompile c(FLAVOUR_CONSOLE, "ch9 { \"c\" }\r\n");
  ASSERT_EQ(c.run(), 0);
  const Smf smf = splitSmf(c.host.kept);
  EXPECT_EQ(smf.header, header(2));
  ASSERT_EQ(smf.tracks.size(), 2u);
  EXPECT_EQ(smf.tracks[0], PLAIN_CONDUCTOR);
  EXPECT_EQ(smf.tracks[1],
            "00 F0 05 7E 7F 09 01 F7 81 10 B9 78 00 60 99 48 4F 83 60 48 00 00 FF 2F 00");
}

TEST(MidiWriter, GmSystemOnGoesIntoTheFirstUsedChannelOnly) {
  MemoryCompile c(FLAVOUR_EDITOR, "ch5 { \"d\" }\r\nch3 { \"c\" }\r\n");
  ASSERT_EQ(c.run(), 0);
  const Smf smf = splitSmf(c.host.kept);
  EXPECT_EQ(smf.header, header(3));
  ASSERT_EQ(smf.tracks.size(), 3u);
  EXPECT_EQ(smf.tracks[1], channelTrack(3, true, "93 48 4F 83 60 48 00 00"));
  EXPECT_EQ(smf.tracks[2], channelTrack(5, false, "95 4A 4F 83 60 4A 00 00"));
}

TEST(MidiWriter, GateDefaultIsPerChannelAndSetByQ7def) {
  MemoryCompile c(FLAVOUR_CONSOLE, "op(q7def)\r\nch1 { \"c:8\" }\r\nch2 { \"q8 c:8\" }\r\n");
  ASSERT_EQ(c.run(), 0);
  const Smf smf = splitSmf(c.host.kept);
  ASSERT_EQ(smf.tracks.size(), 3u);
  EXPECT_EQ(smf.tracks[1], channelTrack(1, true, "91 48 4F 69 48 00 0F"));
  EXPECT_EQ(smf.tracks[2], channelTrack(2, false, "92 48 4F 78 48 00 00"));
}

TEST(MidiWriter, AutoPanTablesDifferBetweenFlavours) {
  const int editorPan[10] = {-1, -1, 0, 127, 21, 85, 42, 106, -1, -1};
  const int consolePan[10] = {-1, -1, 0, 127, 21, 84, 42, 105, -1, -1};
  std::string source = "op(autolr)\r\n";
  for (int n = 1; n <= 9; ++n) source += format("ch%d { \"c\" }\r\n", n);
  for (Flavour flavour : {FLAVOUR_EDITOR, FLAVOUR_CONSOLE}) {
    const int* pan = flavour == FLAVOUR_EDITOR ? editorPan : consolePan;
    for (bool on : {true, false}) {
      SCOPED_TRACE(format("flavour %d autolr %d", flavour, on));
      MemoryCompile c(flavour, on ? source : source.substr(source.find('\n') + 1));
      ASSERT_EQ(c.run(), 0);
      const Smf smf = splitSmf(c.host.kept);
      EXPECT_EQ(smf.header, header(10));
      ASSERT_EQ(smf.tracks.size(), 10u);
      for (int n = 1; n <= 9; ++n) {
        EXPECT_EQ(smf.tracks[n],
                  channelTrack(n, n == 1, format("9%X 48 4F 83 60 48 00 00", n), on ? pan[n] : -1));
      }
    }
  }
}

// The track that carries the GM reset gets its pan as well when its channel is one of 2..7.
TEST(MidiWriter, AutoPanInTheFirstUsedChannel) {
  const int editorPan[8] = {-1, -1, 0, 127, 21, 85, 42, 106};
  const int consolePan[8] = {-1, -1, 0, 127, 21, 84, 42, 105};
  for (Flavour flavour : {FLAVOUR_EDITOR, FLAVOUR_CONSOLE}) {
    for (int n = 2; n <= 7; ++n) {
      SCOPED_TRACE(format("flavour %d ch%d", flavour, n));
      MemoryCompile c(flavour, format("op(autolr)\r\nch%d { \"c\" }\r\n", n));
      ASSERT_EQ(c.run(), 0);
      const Smf smf = splitSmf(c.host.kept);
      ASSERT_EQ(smf.tracks.size(), 2u);
      EXPECT_EQ(smf.tracks[1],
                channelTrack(n, true, format("9%X 48 4F 83 60 48 00 00", n),
                             (flavour == FLAVOUR_EDITOR ? editorPan : consolePan)[n]));
    }
  }
}

TEST(MidiWriter, CopyrightThenSequenceNameInTheConductor) {
  const std::string copyright = "ABCDEFGHIJKLMNOPQRST";
  std::string name;
  for (int i = 0; i < 10; ++i) name += "0123456789";
  MemoryCompile c(FLAVOUR_EDITOR,
                  "sn(\"" + name + "\")\r\ncr(\"" + copyright + "\")\r\nch1 { \"c\" }\r\n");
  ASSERT_EQ(c.run(), 0);
  // 28 bytes of the plain conductor plus FF 02 14, 20 bytes, 00 and FF 03 64, 100 bytes, 00.
  ASSERT_GE(c.host.kept.size(), 22u);
  EXPECT_EQ(hex(Bytes(c.host.kept.begin() + 14, c.host.kept.begin() + 22)),
            "4D 54 72 6B 00 00 00 9C");
  const Smf smf = splitSmf(c.host.kept);
  ASSERT_EQ(smf.tracks.size(), 2u);
  EXPECT_EQ(smf.tracks[0], "00 FF 02 14 " + hex(Bytes(copyright.begin(), copyright.end())) +
                               " 00 FF 03 64 " + hex(Bytes(name.begin(), name.end())) + " 00 " +
                               std::string(CONDUCTOR_START).substr(3) + " FF 2F 00");
}

TEST(MidiWriter, TempoChangesOfOneChannelStandAtTheirOwnTimes) {
  // Tie events add no time of their own: c2&c2 places the second tempo 128 units in.
  MemoryCompile c(FLAVOUR_EDITOR, "ch1 { \"t100 c2&c2 t150 c1\" }\r\n");
  ASSERT_EQ(c.run(), 0);
  const Smf smf = splitSmf(c.host.kept);
  ASSERT_EQ(smf.tracks.size(), 2u);
  EXPECT_EQ(smf.tracks[0], std::string(CONDUCTOR_START) +
                               " FF 01 01 5F 00 FF 51 03 09 27 C0 00"
                               " FF 01 01 5F 8F 00 FF 51 03 06 1A 80 00 FF 2F 00");
  EXPECT_EQ(smf.tracks[1], channelTrack(1, true, "91 48 4F 8F 00 48 00 00 48 4F 8F 00 48 00 00"));
}

TEST(MidiWriter, TempoChangesOfSeveralChannelsAreMergedByTime) {
  // ch1: 100 at unit 0, 120 and 130 at 256; ch2: 150 at 64, 200 at 256. Equal times keep
  // channel order, then source order.
  for (Flavour flavour : {FLAVOUR_EDITOR, FLAVOUR_CONSOLE}) {
    MemoryCompile c(flavour,
                    "ch2 { \"c2 t150 c1 c2 t200\" }\r\nch1 { \"t100 c1 c1 t120 t130\" }\r\n");
    ASSERT_EQ(c.run(), 0);
    const Smf smf = splitSmf(c.host.kept);
    ASSERT_EQ(smf.tracks.size(), 3u);
    EXPECT_EQ(smf.tracks[0], std::string(CONDUCTOR_START) +
                                 " FF 01 01 5F 00 FF 51 03 09 27 C0 00"
                                 " FF 01 01 5F 87 40 FF 51 03 06 1A 80 00"
                                 " FF 01 01 5F 96 40 FF 51 03 07 A1 20 00"
                                 " FF 01 01 5F 00 FF 51 03 07 0A E2 00"
                                 " FF 01 01 5F 00 FF 51 03 04 93 E0 00 FF 2F 00");
  }
}

TEST(MidiWriter, LoneTieFailsTheOutput) {
  const char* bodies[] = {"&c",   "r&c",  "c&",   "c&t100", "c&v5",
                          "c&@5", "c&$5", "c&q5", "t100&c", "c& &c"};
  for (const char* body : bodies) {
    SCOPED_TRACE(body);
    const std::string source = std::string("ch1 { \"") + body + "\" }\r\n";
    MemoryCompile console(FLAVOUR_CONSOLE, source);
    EXPECT_EQ(console.run(), 1);
    EXPECT_EQ(console.host.transcript, "[error] &  single(ch1)\n&  single\n");
    EXPECT_FALSE(console.host.outputKept);

    MemoryCompile editor(FLAVOUR_EDITOR, source);
    EXPECT_EQ(editor.run(), 1);
    EXPECT_EQ(editor.host.messages,
              (std::vector<std::string>{"[エラー] & 記号が単独で存在(ch1)",
                                        " *** & を単独では利用できません *** "}));
    EXPECT_EQ(editor.host.alerts, std::vector<std::string>{"compile stopped!"});
    EXPECT_FALSE(editor.host.outputKept);
  }
}

TEST(MidiWriter, LoneTieStopsBeforeLaterChannels) {
  MemoryCompile c(FLAVOUR_CONSOLE, "ch1 { \"c\" }\r\nch2 { \"c&\" }\r\nch3 { \"c\" }\r\n");
  EXPECT_EQ(c.run(), 1);
  EXPECT_EQ(c.host.transcript, "[error] &  single(ch2)\n&  single\n");
  // What was written: the header, the conductor, ch1, and ch2 up to the tie with its length
  // still unpatched.
  EXPECT_EQ(hex(c.host.output.bytes()),
            header(4) + " 4D 54 72 6B 00 00 00 1C " + PLAIN_CONDUCTOR +
                " 4D 54 72 6B 00 00 00 1C " + channelTrack(1, true, "91 48 4F 83 60 48 00 00") +
                " 4D 54 72 6B FF FF FF FF 00 FF 01 01 5F 81 10 B2 78 00 60 C2 00 00 92 48 4F 83 "
                "60 48 00 00");
}

TEST(MidiWriter, HandFilledEventsEndMarkUnknownCodesAndLevelCap) {
  HandSession s(FLAVOUR_EDITOR);
  // level 200 (capped at 16), codes 97 and 248 (skipped), a note, the end mark, a note.
  s.set(1, bytes({0xFD, 200, 97, 5, 248, 5, 49, 32, 0xFF, 0, 49, 32}));
  MemoryOutputStream out;
  ASSERT_EQ(writeMidiFile(*s.session, out), 0);
  const Smf smf = splitSmf(out.bytes());
  ASSERT_EQ(smf.tracks.size(), 2u);
  EXPECT_EQ(smf.tracks[1], channelTrack(1, true, "91 48 7F 83 60 48 00 00"));
  EXPECT_EQ(s.session->channelTicks[0], 32);

  HandSession tie(FLAVOUR_CONSOLE);
  tie.set(2, bytes({49, 32, 0xFB, 0}));
  MemoryOutputStream tieOut;
  EXPECT_EQ(writeMidiFile(*tie.session, tieOut), 11);
  EXPECT_EQ(tie.host.transcript, "[error] &  single(ch2)");
}

TEST(MidiWriter, Encoders) {
  struct VarLen {
    uint32_t value;
    const char* bytes;
  };
  const VarLen varlens[] = {{0, "00"},
                            {127, "7F"},
                            {128, "81 00"},
                            {144, "81 10"},
                            {240, "81 70"},
                            {480, "83 60"},
                            {16383, "FF 7F"},
                            {16384, "81 80 00"},
                            {2097151, "FF FF 7F"},
                            {2097152, "81 80 80 00"},
                            {0x0FFFFFFF, "FF FF FF 7F"}};
  for (const VarLen& v : varlens) {
    MemoryOutputStream out;
    const int32_t written = writeVarLen(out, v.value);
    EXPECT_EQ(written, static_cast<int32_t>(out.bytes().size()));
    EXPECT_EQ(hex(out.bytes()), v.bytes) << v.value;
  }

  const std::pair<int, const char*> tempos[] = {
      {10, "5B 8D 80"}, {120, "07 A1 20"}, {150, "06 1A 80"}, {250, "03 A9 80"}, {90, "0A 2C 2A"}};
  for (const auto& [bpm, micros] : tempos) {
    MemoryOutputStream out;
    EXPECT_EQ(writeTempo(out, bpm), 7);
    EXPECT_EQ(hex(out.bytes()), std::string("FF 51 03 ") + micros + " 00") << bpm;
  }

  MemoryOutputStream program;
  EXPECT_EQ(writeProgram(program, 3, 127), 3);
  EXPECT_EQ(writeProgram(program, 3, 128), 3);
  EXPECT_EQ(hex(program.bytes()), "C3 7F 00 C3 00 00");

  // An out-of-range pan is only reachable here: the editor centres it at 64, the console at 63.
  for (Flavour flavour : {FLAVOUR_EDITOR, FLAVOUR_CONSOLE}) {
    HandSession s(flavour);
    MemoryOutputStream pan;
    EXPECT_EQ(writePan(*s.session, pan, 4, 127), 4);
    EXPECT_EQ(writePan(*s.session, pan, 4, 128), 4);
    EXPECT_EQ(hex(pan.bytes()),
              flavour == FLAVOUR_EDITOR ? "B4 0A 7F 00 B4 0A 40 00" : "B4 0A 7F 00 B4 0A 3F 00");
  }
}
