// The FluidSynth media player on a score compiled by the real compiler, without an audio device:
// the offline output renders exactly as much audio as a test asks for, so lengths and positions
// can be held against the tempo map; the silent output runs the real-time path with its thread,
// and an output whose thread renders almost without pause keeps a block in progress while file
// players are created and deleted. New sound settings take effect at the next play, and a chosen
// output that cannot open gives way to the list; mute and solo apply to the running song.
#include "editor/playback/fluid_media_player.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "core/compile_driver.h"
#include "tests/editor/support/offline_audio_output.h"

namespace {

// A 240-tick lead-in and two quarters at 120 bpm (1250 ms), two at 60 (2000 ms), four at 240
// (1000 ms).
constexpr char SCORE[] =
    "ch1 {\n"
    "  \"t120 o4 l4 c d t60 e f t240 g a b >c\"\n"
    "}\n";
constexpr int64_t SCORE_LENGTH_MS = 1250 + 2000 + 1000;
// Positions are read per rendered block and FluidSynth applies a tempo change at the block
// after it: a few 64-frame blocks of slack.
constexpr int64_t TOLERANCE_MS = 10;
constexpr int REAL_TIME_TIMEOUT_MS = 30000;
// Each round deletes a file player and creates one while a block is most likely in progress. A
// player that deleted file players under a rendering synthesizer crashed in about half the runs
// of this many rounds (the sanitizers do not see into FluidSynth, so this is the way to catch it).
constexpr int RESTART_ROUNDS = 60;

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

// An output that cannot open, recording each attempt in `attempts`.
class BrokenOutput : public AudioOutputFactory {
 public:
  BrokenOutput(QString name, QString why, QStringList& attempts)
      : name_(std::move(name)), why_(std::move(why)), attempts_(attempts) {}
  QString name() const override { return name_; }
  OpenedOutput create(const AudioOutputTarget&) override {
    attempts_ << name_;
    return {nullptr, why_};
  }

 private:
  QString name_;
  QString why_;
  QStringList& attempts_;
};

// An output whose thread renders small blocks one after the other with hardly a pause, so that
// nearly every moment falls inside a block.
class BusyOutput : public AudioOutput {
 public:
  explicit BusyOutput(AudioRenderer& renderer) : renderer_(renderer), thread_([this] { run(); }) {}
  ~BusyOutput() override {
    stop_ = true;
    thread_.join();
  }

 private:
  static constexpr int BLOCK_FRAMES = 64;
  void run() {
    float block[2 * BLOCK_FRAMES];
    while (!stop_) {
      renderer_.render(BLOCK_FRAMES, block, block + 1, 2);
      std::this_thread::sleep_for(std::chrono::microseconds(50));  // lets the mutex change hands
    }
  }
  AudioRenderer& renderer_;
  std::atomic<bool> stop_ = false;
  std::thread thread_;  // last: starts once the members above exist
};

class BusyOutputFactory : public AudioOutputFactory {
 public:
  QString name() const override { return QStringLiteral("busy"); }
  OpenedOutput create(const AudioOutputTarget& target) override {
    return {std::make_unique<BusyOutput>(target.renderer), {}};
  }
};

QString describe(const OutputFallback& fallback) {
  return fallback.chosen + " | " + fallback.reason + " | " + fallback.used;
}

template <typename... Factories>
AudioOutputFactories outputList(std::unique_ptr<Factories>... factories) {
  AudioOutputFactories outputs;
  (outputs.push_back(std::move(factories)), ...);
  return outputs;
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
  void outputsAreTriedInOrderUntilOneOpens();
  void restartsWhileTheOutputRendersFreeNothingInUse();
  void aCallFromAnotherThreadIsReportedOnce();
  void aMissingSoundFontIsReported();
  void openRefusesWhatIsNotAMidiFile();
  void aNewSoundFontTakesEffectAtTheNextPlay();
  void theGainChangesOnTheRunningSynthesizer();
  void muteSilencesTheRunningSongAndSoloOverridesIt();
  void aChosenOutputThatCannotOpenFallsBackAndSaysSo();
  void aPlayFromTheMiddleHasTheInstrumentChosenBefore();

 private:
  // A player on the score's file that counts its notifications and where they ran.
  std::unique_ptr<FluidMediaPlayer> openPlayer(AudioOutputFactories outputs);
  // The same with the offline output, which offline_ then renders.
  std::unique_ptr<FluidMediaPlayer> openOfflinePlayer();

  QTemporaryDir dir_;
  QString midiPath_;
  OfflineAudioOutput* offline_ = nullptr;
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

std::unique_ptr<FluidMediaPlayer> FluidMediaPlayerTest::openOfflinePlayer() {
  return openPlayer(OfflineAudioOutput::only(&offline_));
}

std::unique_ptr<FluidMediaPlayer> FluidMediaPlayerTest::openPlayer(AudioOutputFactories outputs) {
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
  auto player = openOfflinePlayer();
  QCOMPARE(player->lengthMs(), SCORE_LENGTH_MS);
  QCOMPARE(player->lengthMs(), player->tempoMap().lengthMs());
  QString error;
  QVERIFY2(player->play(&error), qPrintable(error));
  QVERIFY(player->silent());
  QCOMPARE(player->positionMs(), int64_t(0));

  // One point in each tempo: FluidSynth's ticks through the map give the time rendered.
  int64_t rendered = 0;
  for (const int64_t ms : {1000, 2250, 3750}) {
    offline_->renderMs(ms - rendered);
    rendered = ms;
    const int64_t position = player->positionMs();
    QVERIFY2(qAbs(position - ms) <= TOLERANCE_MS,
             qPrintable(QString("at %1 ms the position reads %2").arg(ms).arg(position)));
  }
  QCoreApplication::processEvents();
  QCOMPARE(notifies_, 0);
}

void FluidMediaPlayerTest::seekMovesThePositionToTheSoughtTime() {
  auto player = openOfflinePlayer();
  QVERIFY(player->play(nullptr));
  offline_->renderMs(500);

  player->seek(3000);
  QCOMPARE(player->positionMs(), int64_t(3000));
  QCOMPARE(notifies_, 0);  // reported through the event loop, not from inside seek()
  QCoreApplication::processEvents();
  QCOMPARE(notifies_, 1);
  offline_->renderMs(500);  // stopped until the next play
  QCOMPARE(player->positionMs(), int64_t(3000));

  // From 3000 ms: 250 ms at 60 bpm, then 250 ms at 240 bpm.
  QVERIFY(player->play(nullptr));
  QCOMPARE(player->positionMs(), int64_t(3000));
  offline_->renderMs(500);
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
  auto player = openOfflinePlayer();
  player->seek(SCORE_LENGTH_MS - 200);
  QVERIFY(player->play(nullptr));
  offline_->renderMs(150);
  QCoreApplication::processEvents();
  QCOMPARE(notifies_, 0);
  offline_->renderMs(100);
  QCoreApplication::processEvents();
  QCOMPARE(notifies_, 1);
  QCOMPARE(player->positionMs(), SCORE_LENGTH_MS);

  // FluidSynth's own end, seconds later while the notes fade, is not a second one.
  offline_->renderMs(4000);
  QCoreApplication::processEvents();
  QCOMPARE(notifies_, 1);
  QCOMPARE(player->positionMs(), SCORE_LENGTH_MS);

  // Playing at the end ends at once; from 0 again it plays (a loop).
  QVERIFY(player->play(nullptr));
  QCoreApplication::processEvents();
  QCOMPARE(notifies_, 2);
  player->seek(0);
  QVERIFY(player->play(nullptr));
  offline_->renderMs(100);
  QVERIFY(qAbs(player->positionMs() - 100) <= TOLERANCE_MS);
  QCoreApplication::processEvents();
  QCOMPARE(notifies_, 2);
}

void FluidMediaPlayerTest::anEndOvertakenBySeekIsReportedOnce() {
  auto player = openOfflinePlayer();
  // The output has seen the end, but a seek comes before the end is handled.
  player->seek(SCORE_LENGTH_MS - 50);
  QVERIFY(player->play(nullptr));
  offline_->renderMs(100);
  player->seek(0);
  QCoreApplication::processEvents();
  QCOMPARE(notifies_, 1);

  // The same, with a new play after the seek: the old end does not stop it.
  player->seek(SCORE_LENGTH_MS - 50);
  QVERIFY(player->play(nullptr));
  offline_->renderMs(100);
  player->seek(1000);
  QVERIFY(player->play(nullptr));
  QCoreApplication::processEvents();
  QCOMPARE(notifies_, 2);
  offline_->renderMs(100);
  QVERIFY(qAbs(player->positionMs() - 1100) <= TOLERANCE_MS);
}

void FluidMediaPlayerTest::closeEndsPlaybackAndForgetsTheFile() {
  auto player = openOfflinePlayer();
  QVERIFY(player->play(nullptr));
  offline_->renderMs(300);
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
  offline_->renderMs(100);
  QVERIFY(player->positionMs() > 0);
  // Opening another file stops the one playing.
  QVERIFY(player->open(midiPath_, &error));
  QCOMPARE(player->positionMs(), int64_t(0));
  QCoreApplication::processEvents();
  QCOMPARE(notifies_, 2);
}

void FluidMediaPlayerTest::theSilentOutputPlaysInRealTime() {
  auto player = openPlayer(outputList(silentAudioOutput()));
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

void FluidMediaPlayerTest::outputsAreTriedInOrderUntilOneOpens() {
  QStringList attempts;
  auto player =
      openPlayer(outputList(std::make_unique<BrokenOutput>("first", "no device", attempts),
                            std::make_unique<BrokenOutput>("second", "busy", attempts)));
  QString error;
  QVERIFY(!player->play(&error));
  QCOMPARE(error, QString("No audio output can be opened (first: no device; second: busy)."));
  QCOMPARE(attempts, (QStringList{"first", "second"}));
  QVERIFY(player->outputName().isEmpty());

  // The first that opens is kept for every later request and file.
  attempts.clear();
  AudioOutputFactories outputs = OfflineAudioOutput::only(&offline_);
  outputs.insert(outputs.begin(), std::make_unique<BrokenOutput>("first", "no device", attempts));
  outputs.push_back(std::make_unique<BrokenOutput>("third", "never asked", attempts));
  player = openPlayer(std::move(outputs));
  QVERIFY2(player->play(&error), qPrintable(error));
  QCOMPARE(player->outputName(), QString("offline"));
  QVERIFY(player->silent());
  QVERIFY(player->open(midiPath_, &error));
  QVERIFY(player->play(&error));
  QCOMPARE(attempts, QStringList{"first"});
  QCOMPARE(offline_->opened(), 1);
}

// A busy output renders nearly all the time; each seek, play, close and open below deletes or
// creates a file player while it does, and the synthesizer must render again after each.
void FluidMediaPlayerTest::restartsWhileTheOutputRendersFreeNothingInUse() {
  auto player = openPlayer(outputList(std::make_unique<BusyOutputFactory>()));
  QString error;
  for (int round = 0; round < RESTART_ROUNDS; ++round) {
    const int64_t from = round * SCORE_LENGTH_MS / RESTART_ROUNDS;
    player->seek(from);
    QVERIFY2(player->play(&error), qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(player->positionMs() > from, REAL_TIME_TIMEOUT_MS);
    if (round % 10 == 9) {
      player->close();
      QVERIFY(player->open(midiPath_, &error));
    }
  }
  player.reset();  // while the output renders
  QVERIFY(!notifiedOffThread_);
}

void FluidMediaPlayerTest::aCallFromAnotherThreadIsReportedOnce() {
  auto player = openOfflinePlayer();
  QTest::failOnWarning(QRegularExpression("FluidMediaPlayer"));
  QTest::ignoreMessage(
      QtWarningMsg, "FluidMediaPlayer::positionMs called outside the thread the player lives on");
  player->positionMs();
  std::thread([&] {
    player->positionMs();
    player->lengthMs();
  }).join();
  player->seek(100);
  QCOMPARE(player->positionMs(), int64_t(100));
}

void FluidMediaPlayerTest::aMissingSoundFontIsReported() {
  FluidMediaPlayer player(OfflineAudioOutput::only(&offline_), "/nonexistent/none.sf2");
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

  FluidMediaPlayer player(OfflineAudioOutput::only(&offline_));
  QString error;
  QVERIFY(!player.open(scorePath, &error));
  QCOMPARE(error, scorePath + " cannot be played: not a Standard MIDI File");
  QCOMPARE(player.lengthMs(), int64_t(0));
  const QString missing = dir_.filePath("missing.mid");
  QVERIFY(!player.open(missing, &error));
  QCOMPARE(error, "Cannot open " + missing + ": No such file or directory");
  QVERIFY(!player.play(&error));
}

void FluidMediaPlayerTest::aNewSoundFontTakesEffectAtTheNextPlay() {
  const QString copy = dir_.filePath("copy.sf2");
  QVERIFY(QFile::exists(copy) || QFile::copy(FluidMediaPlayer::defaultSoundFont(), copy));
  const QString bad = dir_.filePath("bad.sf2");
  QFile badFile(bad);
  QVERIFY(badFile.open(QIODevice::WriteOnly));
  badFile.write("not a SoundFont");
  badFile.close();

  auto player = openOfflinePlayer();
  QString error;
  QVERIFY2(player->play(&error), qPrintable(error));
  offline_->renderMs(600);  // past the lead-in: the first note sounds
  QVERIFY(offline_->takePeak() > 0);

  player->setSound({.soundFont = copy});
  QCOMPARE(offline_->opened(), 1);  // nothing changes until the next play
  QVERIFY2(player->play(&error), qPrintable(error));
  QCOMPARE(offline_->opened(), 2);  // the output went with the old synthesizer
  offline_->renderMs(300);
  QVERIFY(offline_->takePeak() > 0);
  QVERIFY(player->positionMs() > 600);  // from where the interrupted request stopped

  player->setSound({.soundFont = bad});
  QVERIFY(!player->play(&error));
  QVERIFY2(error.startsWith("Cannot load the SoundFont " + bad + ": "), qPrintable(error));

  player->setSound({});
  QVERIFY2(player->play(&error), qPrintable(error));
  QCOMPARE(offline_->opened(), 3);
  offline_->renderMs(300);
  QVERIFY(offline_->takePeak() > 0);
  QCoreApplication::processEvents();
  QCOMPARE(notifies_, 2);  // each interrupted request once
}

void FluidMediaPlayerTest::theGainChangesOnTheRunningSynthesizer() {
  auto player = openOfflinePlayer();
  player->setSound({.gain = 0});
  QVERIFY(player->play(nullptr));
  offline_->renderMs(600);
  QCOMPARE(offline_->takePeak(), 0.0f);

  player->setSound({.reverb = false, .chorus = false, .gain = SoundSettings::GAIN_DEFAULT});
  QVERIFY(player->play(nullptr));
  offline_->renderMs(300);
  QVERIFY(offline_->takePeak() > 0);
  QCOMPARE(offline_->opened(), 1);
}

// A channel muted while playing falls silent once its sounding note has died away and plays no
// new notes; soloed as well, it plays again from its next note.
void FluidMediaPlayerTest::muteSilencesTheRunningSongAndSoloOverridesIt() {
  auto player = openOfflinePlayer();
  player->setSound({.reverb = false, .chorus = false});
  QVERIFY(player->play(nullptr));
  offline_->renderMs(300);
  QVERIFY(offline_->takePeak() > 0);

  player->setChannelMix({.muted = ChannelMix::bit(1)});
  offline_->renderMs(800);  // the released note fades
  offline_->takePeak();
  offline_->renderMs(500);  // over the note starting at 1250 ms
  QCOMPARE(offline_->takePeak(), 0.0f);

  player->setChannelMix({.muted = ChannelMix::bit(1), .soloed = ChannelMix::bit(1)});
  offline_->renderMs(1100);  // to past the next note at 2250 ms
  QVERIFY(offline_->takePeak() > 0);
}

void FluidMediaPlayerTest::aChosenOutputThatCannotOpenFallsBackAndSaysSo() {
  QStringList attempts;
  QStringList fallbacks;
  const auto brokenByName = [&attempts](const QString& name) {
    return std::make_unique<BrokenOutput>(name, "no server", attempts);
  };
  auto player = std::make_unique<FluidMediaPlayer>(
      OfflineAudioOutput::only(&offline_), FluidMediaPlayer::defaultSoundFont(), brokenByName);
  player->onOutputFallback = [&](const OutputFallback& fallback) {
    fallbacks << describe(fallback);
  };
  QString error;
  QVERIFY(player->open(midiPath_, &error));
  player->setSound({.audioOutput = "jack"});
  QVERIFY2(player->play(&error), qPrintable(error));
  QCOMPARE(fallbacks, QStringList{"jack | no server | offline"});
  QCOMPARE(player->outputName(), QString("offline"));

  // Later plays keep the output that stands in; a new setSound() tries the chosen one again.
  QVERIFY(player->play(&error));
  QCOMPARE(attempts, QStringList{"jack"});
  player->setSound({.audioOutput = "jack"});
  QVERIFY(player->play(&error));
  QCOMPARE(attempts, (QStringList{"jack", "jack"}));
  QCOMPARE(fallbacks.size(), 2);
  QCOMPARE(offline_->opened(), 2);

  // An output of the list chosen by its name is taken from the list and tried alone.
  player->setSound({.audioOutput = "offline"});
  QVERIFY(player->play(&error));
  QCOMPARE(offline_->opened(), 3);
  QCOMPARE(attempts.size(), 2);
  QCOMPARE(fallbacks.size(), 2);
}

// Notes at 250, 750, 1250 and 1750 ms; the program becomes 40 at 1250. The program change is
// skipped with the part before the start, yet the synthesizer plays program 40 from there.
void FluidMediaPlayerTest::aPlayFromTheMiddleHasTheInstrumentChosenBefore() {
  const QByteArray midi = compileScore("ch1 {\n  \"t120 @5 l4 c c @40 c c\"\n}\n");
  const QString path = dir_.filePath("instruments.mid");
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly) && file.write(midi) == midi.size());
  file.close();
  auto player = std::make_unique<FluidMediaPlayer>(OfflineAudioOutput::only(&offline_));
  QString error;
  QVERIFY2(player->open(path, &error), qPrintable(error));
  const struct {
    int64_t startMs;
    int program;
  } cases[] = {{1500, 40}, {600, 5}, {1500, 40}};
  for (const auto& c : cases) {
    player->seek(c.startMs);
    QVERIFY2(player->play(&error), qPrintable(error));
    offline_->renderMs(20);
    QCOMPARE(player->channelProgram(1), c.program);  // ch1 plays on MIDI channel 1
  }
}

QTEST_GUILESS_MAIN(FluidMediaPlayerTest)
#include "fluid_media_player_test.moc"
