// Tempo: the rounding to whole beats a minute is carried, so that no note drifts by half a grid
// unit from where the file puts it in time; a change stands in whichever channel has a boundary
// there, ch9 included; a tempo outside the language's range is reported as such, with its bar.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/import/import_helpers.h"
#include "tests/import/smf_builder.h"
#include "tests/support/test_support.h"

namespace {

using namespace import_testing;

constexpr int64_t Q = 480;
constexpr int64_t LEAD_IN = 240;

// Microseconds from tick 0 to `tick` under a tempo map of changes (tick, micros), 500000 before.
double microsAt(const std::vector<Change>& tempos, int division, int64_t tick) {
  double at = 0;
  int64_t from = 0, micros = 500000;
  for (const auto& [channel, changeTick, value] : tempos) {
    if (changeTick >= tick) break;
    at += static_cast<double>(changeTick - from) * micros / division;
    from = changeTick;
    micros = value;
  }
  return at + static_cast<double>(tick - from) * micros / division;
}

int64_t tempoAt(const std::vector<Change>& tempos, int64_t tick) {
  int64_t micros = 500000;
  for (const auto& [channel, changeTick, value] : tempos) {
    if (changeTick <= tick) micros = value;
  }
  return micros;
}

// Every note of the import sounds within half a grid unit (at the file's tempo there) of the
// time the file gives it; returns the largest drift in microseconds.
double expectNoDrift(const std::string& midi, const ImportResult& imported) {
  const MidiFacts source = readFacts(midi);
  const MidiFacts got = playedAfterImport(imported);
  EXPECT_EQ(got.notes.size(), source.notes.size());
  const double start = microsAt(got.tempos, got.division, LEAD_IN);
  double largest = 0;
  for (size_t i = 0; i < std::min(got.notes.size(), source.notes.size()); ++i) {
    const int64_t tick = std::get<2>(source.notes[i]);
    const double file = microsAt(source.tempos, source.division, tick);
    const double score = microsAt(got.tempos, got.division, std::get<2>(got.notes[i])) - start;
    const double halfUnit = tempoAt(source.tempos, tick) / 64.0;
    EXPECT_LE(std::abs(score - file), halfUnit) << "note " << i << " at tick " << tick;
    largest = std::max(largest, std::abs(score - file));
  }
  return largest;
}

TEST(ImportTempo, AFiftyChangeTempoMapDoesNotDrift) {
  std::string midi;
  ASSERT_TRUE(midoFile("mido_tempo_map.mid", midi)) << midi;
  const ImportResult imported = importBytes(midi);
  ASSERT_TRUE(imported.ok) << japanese(imported.error);
  SCOPED_TRACE(imported.text);
  expectNoDrift(midi, imported);
  EXPECT_EQ(reportedCount(imported, ImportText::TemposRounded), 50);
  EXPECT_EQ(reportedCount(imported, ImportText::ChangesMoved), 0);
}

// One tempo of no whole number for 32 bars: the score corrects the drift on the beat with the
// neighbouring whole tempo, only as often as needed.
TEST(ImportTempo, ASteadyTempoOfNoWholeNumberIsCorrectedOnTheBeat) {
  SmfBuilder smf(0, 480);
  smf.track().meta(0, 0x51, std::string("\x09\xC4\x00", 3));  // 640000: 93.75 a minute
  for (int i = 0; i < 128; ++i) smf.note(0, 60 + i % 12, i * Q, (i + 1) * Q);
  const ImportResult imported = importBytes(smf.bytes());
  ASSERT_TRUE(imported.ok);
  SCOPED_TRACE(imported.text);
  expectNoDrift(smf.bytes(), imported);
  size_t changes = 0;
  for (size_t at = 0; (at = imported.text.find(" t9", at)) != std::string::npos; ++at) ++changes;
  EXPECT_GT(changes, 2u);
  EXPECT_LT(changes, 64u);  // fewer than one a bar on average (measured: see the report)
}

// Eight parts hold a note across the change, the drums have a boundary there: the change goes
// to ch9, at its own time. Without drums it goes to ch9 as a voice of its own.
TEST(ImportTempo, AChangeWhereEveryMelodyHoldsANoteGoesToCh9) {
  for (const bool drums : {true, false}) {
    SCOPED_TRACE(drums);
    SmfBuilder smf(1, 480);
    smf.track().meta(2 * Q, 0x51, std::string("\x07\x27\x0E", 3));  // 468750: exactly 128
    for (int part = 0; part < 8; ++part) smf.track().note(part, 60 + part, 0, 4 * Q);
    if (drums) {
      smf.track();
      for (int i = 0; i < 4; ++i) smf.note(9, 42, i * Q, i * Q + Q / 2);
    }
    const ImportResult imported = importBytes(smf.bytes());
    ASSERT_TRUE(imported.ok);
    SCOPED_TRACE(imported.text);
    EXPECT_EQ(reportedCount(imported, ImportText::ChangesMoved), 0);
    EXPECT_NE(imported.text.find("ch9 {"), std::string::npos);
    EXPECT_EQ(playedAfterImport(imported).tempos,
              (std::vector<Change>{Change(-1, LEAD_IN + 2 * Q, 468750)}));
  }
}

// 300 a minute is set to 250 and reported as outside the range, with its bar; never as rounded.
TEST(ImportTempo, ATempoOutsideTheRangeIsReportedWithItsBar) {
  SmfBuilder smf(0, 480);
  smf.track().meta(8 * Q, 0x51, std::string("\x03\x0D\x40", 3));  // 200000: 300 a minute
  for (int i = 0; i < 12; ++i) smf.note(0, 60, i * Q, (i + 1) * Q);
  const ImportResult imported = importBytes(smf.bytes());
  ASSERT_TRUE(imported.ok);
  EXPECT_EQ(reportLines(imported),
            std::vector<std::string>{
                "10～250 の外のテンポ 1 個を近い端にしました (最初は小節 3 の 300)"});
  EXPECT_EQ(formatImportMessage(imported.report[0], ImportLanguage::English),
            "tempos outside 10-250 set to the nearest end: 1 (the first 300 at bar 3)");
  EXPECT_NE(imported.text.find("t250"), std::string::npos);
}

}  // namespace
