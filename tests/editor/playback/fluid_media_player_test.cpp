// The FluidSynth media player on a score compiled by the real compiler, without an audio device:
// the offline output renders exactly as much audio as a test asks for, so lengths and positions
// can be held against the tempo map; the silent output runs the real-time path with its thread.
#include "editor/playback/fluid_media_player.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <memory>

#include "core/compile_driver.h"

namespace {

using Output = FluidMediaPlayer::Output;

// A 240-tick lead-in and two quarters at 120 bpm (1250 ms), two at 60 (2000 ms), four at 240
// (1000 ms).
constexpr char SCORE[] =
    "ch1 {\n"
    "  \"t120 o4 l4 c d t60 e f t240 g a b >c\"\n"
    "}\n";
constexpr int64_t SCORE_LENGTH_MS = 1250 + 2000 + 1000;
constexpr int SAMPLE_RATE = 44100;
// Positions are read per rendered block and FluidSynth applies a tempo change at the block
// after it: a few 64-frame blocks of slack.
constexpr int64_t TOLERANCE_MS = 10;
constexpr int REAL_TIME_TIMEOUT_MS = 30000;

// The editor's view of the compiler: score lines in, the MIDI file out, in memory.
class ScoreHost : public EditorCompileHost {
 public:
  explicit ScoreHost(const QByteArray& score) : lines_(score.split('\n')) {}

  void messageLine(std::string_view) override {}
  void alert(std::string_view text) override { alerts.append(text.data(), qsizetype(text.size())); }
  int32_t sourceLineCount() override { return int32_t(lines_.size()); }
  std::string_view sourceLine(int32_t index) override {
    return {lines_[index].constData(), size_t(lines_[index].size())};
  }
  OutputStream* openOutput() override { return &midi; }
  int32_t closeOutput(bool) override { return OUTPUT_CLOSED; }

  MemoryOutputStream midi;
  QByteArray alerts;

 private:
  QList<QByteArray> lines_;
};

QByteArray compileScore(const QByteArray& score) {
  ScoreHost host(score);
  auto session = std::make_unique<CompileSession>();
  MemoryOutputStream compiledData;
  prepareEditorCompilation(*session, host, false, compiledData);
  if (compileSource(*session) != 0) return {};
  const std::vector<uint8_t>& bytes = host.midi.bytes();
  return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

void renderMs(FluidMediaPlayer& player, int64_t ms) {
  player.renderOffline(int(ms * SAMPLE_RATE / 1000));
}

}  // namespace

class FluidMediaPlayerTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void initTestCase();
  void lengthAndPositionFollowTheTempoMap();
  void seekMovesThePositionToTheSoughtTime();
  void theRequestEndsOnceAtTheEndOfTheSong();
  void anEndOvertakenBySeekIsReportedOnce();
  void closeEndsPlaybackAndForgetsTheFile();
  void theSilentOutputPlaysInRealTime();
  void withoutAnyOutputPlayFails();
  void aMissingSoundFontIsReported();
  void openRefusesWhatIsNotAMidiFile();

 private:
  // A player on the score's file that counts its notifications and where they ran.
  std::unique_ptr<FluidMediaPlayer> openPlayer(std::vector<Output> outputs);

  QTemporaryDir dir_;
  QString midiPath_;
  int notifies_ = 0;
  bool notifiedOffThread_ = false;
};

void FluidMediaPlayerTest::initTestCase() {
  QVERIFY(dir_.isValid());
  const QByteArray midi = compileScore(SCORE);
  QVERIFY(!midi.isEmpty());
  midiPath_ = dir_.filePath("score.mid");
  QFile file(midiPath_);
  QVERIFY(file.open(QIODevice::WriteOnly));
  QCOMPARE(file.write(midi), midi.size());
}

std::unique_ptr<FluidMediaPlayer> FluidMediaPlayerTest::openPlayer(std::vector<Output> outputs) {
  auto player = std::make_unique<FluidMediaPlayer>(std::move(outputs));
  notifies_ = 0;
  notifiedOffThread_ = false;
  player->onNotify = [this] {
    ++notifies_;
    if (QThread::currentThread() != thread()) notifiedOffThread_ = true;
  };
  QString error;
  if (!player->open(midiPath_, &error)) qWarning("open: %s", qPrintable(error));
  return player;
}

void FluidMediaPlayerTest::lengthAndPositionFollowTheTempoMap() {
  auto player = openPlayer({Output::Offline});
  QCOMPARE(player->lengthMs(), SCORE_LENGTH_MS);
  QCOMPARE(player->lengthMs(), player->tempoMap().lengthMs());
  QString error;
  QVERIFY2(player->play(&error), qPrintable(error));
  QVERIFY(player->silent());
  QCOMPARE(player->positionMs(), int64_t(0));

  // One point in each tempo: FluidSynth's ticks through the map give the time rendered.
  int64_t rendered = 0;
  for (const int64_t ms : {1000, 2250, 3750}) {
    renderMs(*player, ms - rendered);
    rendered = ms;
    const int64_t position = player->positionMs();
    QVERIFY2(qAbs(position - ms) <= TOLERANCE_MS,
             qPrintable(QString("at %1 ms the position reads %2").arg(ms).arg(position)));
  }
  QCoreApplication::processEvents();
  QCOMPARE(notifies_, 0);
}

void FluidMediaPlayerTest::seekMovesThePositionToTheSoughtTime() {
  auto player = openPlayer({Output::Offline});
  QVERIFY(player->play(nullptr));
  renderMs(*player, 500);

  player->seek(3000);
  QCOMPARE(player->positionMs(), int64_t(3000));
  QCOMPARE(notifies_, 0);  // reported through the event loop, not from inside seek()
  QCoreApplication::processEvents();
  QCOMPARE(notifies_, 1);
  renderMs(*player, 500);  // stopped until the next play
  QCOMPARE(player->positionMs(), int64_t(3000));

  // From 3000 ms: 250 ms at 60 bpm, then 250 ms at 240 bpm.
  QVERIFY(player->play(nullptr));
  QCOMPARE(player->positionMs(), int64_t(3000));
  renderMs(*player, 500);
  const int64_t position = player->positionMs();
  QVERIFY2(qAbs(position - 3500) <= TOLERANCE_MS, qPrintable(QString::number(position)));

  player->seek(player->lengthMs() + 1000);  // clamped to the end
  QCOMPARE(player->positionMs(), SCORE_LENGTH_MS);
  player->seek(-5);
  QCOMPARE(player->positionMs(), int64_t(0));
  QCoreApplication::processEvents();
  QCOMPARE(notifies_, 2);
  QVERIFY(!notifiedOffThread_);
}

void FluidMediaPlayerTest::theRequestEndsOnceAtTheEndOfTheSong() {
  auto player = openPlayer({Output::Offline});
  player->seek(SCORE_LENGTH_MS - 200);
  QVERIFY(player->play(nullptr));
  renderMs(*player, 150);
  QCoreApplication::processEvents();
  QCOMPARE(notifies_, 0);
  renderMs(*player, 100);
  QCoreApplication::processEvents();
  QCOMPARE(notifies_, 1);
  QCOMPARE(player->positionMs(), SCORE_LENGTH_MS);

  // FluidSynth's own end, seconds later while the notes fade, is not a second one.
  renderMs(*player, 4000);
  QCoreApplication::processEvents();
  QCOMPARE(notifies_, 1);
  QCOMPARE(player->positionMs(), SCORE_LENGTH_MS);

  // Playing at the end ends at once; from 0 again it plays (a loop).
  QVERIFY(player->play(nullptr));
  QCoreApplication::processEvents();
  QCOMPARE(notifies_, 2);
  player->seek(0);
  QVERIFY(player->play(nullptr));
  renderMs(*player, 100);
  QVERIFY(qAbs(player->positionMs() - 100) <= TOLERANCE_MS);
  QCoreApplication::processEvents();
  QCOMPARE(notifies_, 2);
}

void FluidMediaPlayerTest::anEndOvertakenBySeekIsReportedOnce() {
  auto player = openPlayer({Output::Offline});
  // The output has seen the end, but a seek comes before the end is handled.
  player->seek(SCORE_LENGTH_MS - 50);
  QVERIFY(player->play(nullptr));
  renderMs(*player, 100);
  player->seek(0);
  QCoreApplication::processEvents();
  QCOMPARE(notifies_, 1);

  // The same, with a new play after the seek: the old end does not stop it.
  player->seek(SCORE_LENGTH_MS - 50);
  QVERIFY(player->play(nullptr));
  renderMs(*player, 100);
  player->seek(1000);
  QVERIFY(player->play(nullptr));
  QCoreApplication::processEvents();
  QCOMPARE(notifies_, 2);
  renderMs(*player, 100);
  QVERIFY(qAbs(player->positionMs() - 1100) <= TOLERANCE_MS);
}

void FluidMediaPlayerTest::closeEndsPlaybackAndForgetsTheFile() {
  auto player = openPlayer({Output::Offline});
  QVERIFY(player->play(nullptr));
  renderMs(*player, 300);
  player->close();
  QCOMPARE(player->lengthMs(), int64_t(0));
  QCOMPARE(player->positionMs(), int64_t(0));
  player->close();
  QCoreApplication::processEvents();
  QCOMPARE(notifies_, 1);

  QString error;
  QVERIFY(!player->play(&error));
  QCOMPARE(error, QString("No MIDI file is open."));
  player->seek(1000);
  QCOMPARE(player->positionMs(), int64_t(0));

  QVERIFY(player->open(midiPath_, &error));
  QCOMPARE(player->lengthMs(), SCORE_LENGTH_MS);
  QVERIFY(player->play(&error));
  renderMs(*player, 100);
  QVERIFY(player->positionMs() > 0);
  // Opening another file stops the one playing.
  QVERIFY(player->open(midiPath_, &error));
  QCOMPARE(player->positionMs(), int64_t(0));
  QCoreApplication::processEvents();
  QCOMPARE(notifies_, 2);
}

void FluidMediaPlayerTest::theSilentOutputPlaysInRealTime() {
  auto player = openPlayer({Output::Silent});
  QString error;
  QVERIFY2(player->play(&error), qPrintable(error));
  QVERIFY(player->silent());
  QTRY_VERIFY_WITH_TIMEOUT(player->positionMs() > 0, REAL_TIME_TIMEOUT_MS);

  player->seek(SCORE_LENGTH_MS - 300);
  QVERIFY(player->play(&error));
  QTRY_COMPARE_WITH_TIMEOUT(notifies_, 2, REAL_TIME_TIMEOUT_MS);
  QCOMPARE(player->positionMs(), SCORE_LENGTH_MS);
  QVERIFY(!notifiedOffThread_);

  // Destroyed while playing: the output's thread is joined before the synthesizer goes.
  player->seek(0);
  QVERIFY(player->play(&error));
  QTRY_VERIFY_WITH_TIMEOUT(player->positionMs() > 0, REAL_TIME_TIMEOUT_MS);
  player.reset();
}

void FluidMediaPlayerTest::withoutAnyOutputPlayFails() {
  auto player = openPlayer({});
  QString error;
  QVERIFY(!player->play(&error));
  QCOMPARE(error, QString("No audio output can be opened."));
  QVERIFY(!player->silent());
  QCOMPARE(player->positionMs(), int64_t(0));
  QCoreApplication::processEvents();
  QCOMPARE(notifies_, 0);
}

void FluidMediaPlayerTest::aMissingSoundFontIsReported() {
  FluidMediaPlayer player({Output::Offline}, "/nonexistent/none.sf2");
  QString error;
  QVERIFY(player.open(midiPath_, &error));
  QVERIFY(!player.play(&error));
  QVERIFY2(error.startsWith("Cannot load the SoundFont /nonexistent/none.sf2: "),
           qPrintable(error));
}

void FluidMediaPlayerTest::openRefusesWhatIsNotAMidiFile() {
  const QString scorePath = dir_.filePath("score.fms");
  QFile score(scorePath);
  QVERIFY(score.open(QIODevice::WriteOnly));
  score.write(SCORE);
  score.close();

  FluidMediaPlayer player({Output::Offline});
  QString error;
  QVERIFY(!player.open(scorePath, &error));
  QCOMPARE(error, scorePath + " cannot be played: not a Standard MIDI File");
  QCOMPARE(player.lengthMs(), int64_t(0));
  const QString missing = dir_.filePath("missing.mid");
  QVERIFY(!player.open(missing, &error));
  QCOMPARE(error, "Cannot open " + missing + ": No such file or directory");
  QVERIFY(!player.play(&error));
}

QTEST_GUILESS_MAIN(FluidMediaPlayerTest)
#include "fluid_media_player_test.moc"
