// Nothing of a foreign file is lost silently: the compiled file's lead-in is recognised only by
// all of its marks, a foreign file opening with a short bar keeps its pickup, and a file without
// notes says so.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>

#include "import/lead_in.h"
#include "import/midi_reader.h"
#include "tests/import/import_helpers.h"
#include "tests/import/smf_builder.h"
#include "tests/support/test_support.h"

namespace {

using namespace import_testing;

constexpr int64_t LEAD_IN = 240;

MidiFile readBack(const std::string& midi) {
  MidiFile file;
  ImportMessage error;
  EXPECT_TRUE(
      readMidiFile(reinterpret_cast<const uint8_t*>(midi.data()), midi.size(), file, error));
  return file;
}

MidiEvent* firstEvent(MidiFile& file, size_t track,
                      const std::function<bool(const MidiEvent&)>& which) {
  for (MidiEvent& e : file.tracks.at(track).events) {
    if (which(e)) return &e;
  }
  ADD_FAILURE() << "no such event in track " << track;
  static MidiEvent none;
  return &none;
}

// Points the event's data at a copy with one byte changed; the copies live as long as the test.
void changeData(MidiEvent* e, size_t at, char value) {
  static std::deque<std::string> copies;
  std::string& copy = copies.emplace_back(e->data);
  copy.at(at) = value;
  e->data = copy;
}

// Each mark of the lead-in, changed alone, makes the file a foreign one.
TEST(ImportNothingLost, TheLeadInIsRecognisedOnlyWhenEveryMarkIsThere) {
  std::string midi;
  ASSERT_TRUE(
      compileScore("sn(\"x\")\r\nch1 {\r\n  \"t90 @5 c d e\"\r\n}\r\nch3 {\r\n  \"$20 "
                   "g\"\r\n}\r\nch9 {\r\n  \"n13 n15\"\r\n}\r\n",
                   midi));
  const MidiFile compiled = readBack(midi);
  ASSERT_TRUE(hasCompiledLeadIn(compiled));
  auto meta = [](uint8_t type, int64_t tick) {
    return [=](const MidiEvent& e) {
      return e.kind == MidiEvent::META && e.status == type && e.tick == tick;
    };
  };
  auto channel = [](uint8_t type, int64_t tick) {
    return [=](const MidiEvent& e) {
      return e.kind == MidiEvent::CHANNEL && e.type() == type && e.tick == tick;
    };
  };
  const std::vector<std::pair<const char*, std::function<void(MidiFile&)>>> changes = {
      {"division 960", [](MidiFile& f) { f.division = 960; }},
      {"format 0", [](MidiFile& f) { f.format = 0; }},
      {"no 1/8 bar", [&](MidiFile& f) { changeData(firstEvent(f, 0, meta(0x58, 0)), 0, 2); }},
      {"another first tempo",
       [&](MidiFile& f) { changeData(firstEvent(f, 0, meta(0x51, LEAD_IN)), 2, 0); }},
      {"3/4 after the lead-in",
       [&](MidiFile& f) { changeData(firstEvent(f, 0, meta(0x58, LEAD_IN)), 0, 3); }},
      {"tempo in the lead-in",
       [&](MidiFile& f) { firstEvent(f, 0, meta(0x51, LEAD_IN))->tick = 0; }},
      {"no GM reset", [](MidiFile& f) { changeData(&f.tracks[1].events[0], 2, 0x0A); }},
      {"no filler text", [](MidiFile& f) { f.tracks[2].events[0].data = "x"; }},
      {"sound off elsewhere",
       [&](MidiFile& f) { firstEvent(f, 2, channel(0xB0, 144))->tick = 100; }},
      {"program 5 in the lead-in",
       [&](MidiFile& f) { firstEvent(f, 1, channel(0xC0, LEAD_IN))->data1 = 5; }},
      {"a note in the lead-in",
       [&](MidiFile& f) { firstEvent(f, 1, channel(0x90, LEAD_IN))->tick = 200; }},
      {"a second channel in a track",
       [&](MidiFile& f) { firstEvent(f, 2, channel(0x90, LEAD_IN))->status = 0x94; }},
      {"tracks out of channel order", [](MidiFile& f) { std::swap(f.tracks[2], f.tracks[3]); }},
      {"a conductor alone", [](MidiFile& f) { f.tracks.resize(1); }},
  };
  for (const auto& [what, change] : changes) {
    MidiFile changed = compiled;
    change(changed);
    EXPECT_FALSE(hasCompiledLeadIn(changed)) << what;
  }
}

// A foreign file whose 1/8 pickup bar and 4/4 look like the lead-in keeps the pickup note, its
// tempo, program and pan: every note comes back at its own time behind the compiled lead-in.
TEST(ImportNothingLost, AForeignPickupBarIsMusic) {
  std::string midi;
  ASSERT_TRUE(midoFile("mido_pickup.mid", midi)) << midi;
  const ImportResult imported = importBytes(midi);
  ASSERT_TRUE(imported.ok) << japanese(imported.error);
  SCOPED_TRACE(imported.text);
  const MidiFacts got = playedAfterImport(imported);
  std::vector<Note> want;
  for (const Note& n : readFacts(midi).notes) {
    want.emplace_back(1, std::get<1>(n), std::get<2>(n) + LEAD_IN, std::get<3>(n) + LEAD_IN, 95);
  }
  EXPECT_EQ(got.notes, want);
  EXPECT_EQ(got.programs, std::vector<Change>{Change(1, LEAD_IN, 73)});
  EXPECT_EQ(got.pans, std::vector<Change>{Change(1, LEAD_IN, 90)});
  EXPECT_EQ(got.tempos, (std::vector<Change>{Change(-1, LEAD_IN, 750000)}));
  EXPECT_TRUE(imported.report.empty()) << reportLines(imported).front();
  // The pickup is a bar of its own.
  EXPECT_NE(imported.text.find("\"l4 o3 @73 $90 t80 v12 g8\"  // 小節 1\n"), std::string::npos);
}

// A file without notes becomes a score that says so in its first line and compiles to its
// settings; the report says so too.
TEST(ImportNothingLost, AFileWithoutNotesSaysSo) {
  SmfBuilder tempoOnly(1, 96);
  tempoOnly.track().meta(0, 0x51, std::string("\x09\x27\xC0", 3)).track().event(0, {0xC1, 40});
  SmfBuilder empty(0, 96);
  empty.track();
  for (const std::string& midi : {tempoOnly.bytes(), empty.bytes()}) {
    const ImportResult imported = importBytes(midi);
    ASSERT_TRUE(imported.ok) << japanese(imported.error);
    EXPECT_EQ(imported.text.rfind("// 音符のない MIDI ファイル\n", 0), 0u) << imported.text;
    EXPECT_EQ(reportLines(imported),
              std::vector<std::string>{"ファイルに音符がありません。楽譜には設定だけを書きました"});
    std::string compiled;
    EXPECT_TRUE(compileScore(imported.bytes, compiled));
    EXPECT_EQ(imported.notes, 0);
  }
  const MidiFacts settings = playedAfterImport(importBytes(tempoOnly.bytes()));
  EXPECT_EQ(settings.programs, std::vector<Change>{Change(1, LEAD_IN, 40)});
  EXPECT_EQ(settings.tempos, std::vector<Change>{Change(-1, LEAD_IN, 600000)});
}

// Two note-ons of one key before a note-off: the second ends the first, and the report says so.
TEST(ImportNothingLost, SameKeyNotesRepairedAreReported) {
  SmfBuilder smf(0, 480);
  smf.track()
      .event(0, {0x90, 60, 79})
      .event(240, {0x90, 60, 79})
      .event(480, {0x80, 60, 0})
      .event(720, {0x80, 60, 0});
  const ImportResult imported = importBytes(smf.bytes());
  ASSERT_TRUE(imported.ok);
  EXPECT_EQ(reportedCount(imported, ImportText::NotesRepaired), 1);
  EXPECT_EQ(playedAfterImport(imported).notes,
            (std::vector<Note>{{1, 60, LEAD_IN, LEAD_IN + 240, 79},
                               {1, 60, LEAD_IN + 240, LEAD_IN + 480, 79}}));
}

}  // namespace
