// A SoundFont named by the settings is loaded where no user-interface thread waits for it: a
// path that is no regular file (a named pipe would block its reader for good) is refused with
// its reason before anything opens it, by the loader, at play and by the audio export; and a
// slow load leaves the event loop running while the player waits for it, one load serving every
// request for the same SoundFont and a newer SoundFont overtaking an older one.
#include <unistd.h>

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>

#include "editor/playback/audio_export.h"
#include "editor/playback/fluid_media_player.h"
#include "editor/playback/playback_controller.h"
#include "editor/playback/sound_font_loader.h"
#include "tests/editor/support/named_pipe.h"
#include "tests/editor/support/offline_audio_output.h"
#include "tests/editor/support/test_files.h"
#include "tests/support/memory_host.h"

namespace {

const char SCORE[] = "ch1 {\n  \"t120 @0 v13 o4 l4 c e g >c\"\n}\n";
const QString PIPE_REASON = "通常のファイルではありません (名前付きパイプ)";
// How long a gated load waits for the test to open the gate before it goes on by itself.
constexpr auto GATE_LIMIT = std::chrono::seconds(10);

std::vector<uint8_t> compileScore() {
  auto compile = std::make_unique<MemoryCompile>(FLAVOUR_EDITOR, SCORE);
  if (compile->run() != 0) return {};
  return compile->host.kept;
}

// A load that waits at a gate before it begins, as a slow file or disk would make it wait.
struct GatedLoad {
  std::promise<void> gate;
  std::shared_future<void> opened = gate.get_future().share();
  std::atomic<int> calls = 0;
  std::atomic<int> finished = 0;
  std::atomic<bool> gateWasOpen = false;  // the last load found the gate open in time

  SoundFontLoadFunction function() {
    return [this](const QString& path, double sampleRate) {
      ++calls;
      gateWasOpen = opened.wait_for(GATE_LIMIT) == std::future_status::ready;
      SoundFontLoad load = loadSoundFont(path, sampleRate);
      ++finished;
      return load;
    };
  }
};

}  // namespace

class SoundFontLoadingTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void initTestCase();
  void pathsThatAreNoRegularFileAreRefusedUnopened();
  void aNamedPipeIsRefusedAtPlayAndByTheAudioExport();
  void aSlowLoadLeavesTheEventLoopRunning();
  void aNewerSoundFontOvertakesTheLoadUnderWay();

 private:
  QString path(const QString& name) const { return dir_.filePath(name); }
  std::unique_ptr<FluidMediaPlayer> openPlayer(SoundFontLoadFunction load = loadSoundFont);

  QTemporaryDir dir_;
  QString midiPath_;
  OfflineAudioOutput* offline_ = nullptr;
};

void SoundFontLoadingTest::initTestCase() {
  QVERIFY(dir_.isValid());
  QVERIFY(QFile::exists(FluidMediaPlayer::defaultSoundFont()));
  const std::vector<uint8_t> midi = compileScore();
  QVERIFY(!midi.empty());
  midiPath_ = path("song.mid");
  writeTestFile(midiPath_,
                QByteArray(reinterpret_cast<const char*>(midi.data()), qsizetype(midi.size())));
}

std::unique_ptr<FluidMediaPlayer> SoundFontLoadingTest::openPlayer(SoundFontLoadFunction load) {
  auto player = std::make_unique<FluidMediaPlayer>(OfflineAudioOutput::only(&offline_),
                                                   FluidMediaPlayer::defaultSoundFont(),
                                                   audioOutputNamed, std::move(load));
  QString error;
  if (!player->open(midiPath_, &error)) qWarning("open: %s", qPrintable(error));
  return player;
}

void SoundFontLoadingTest::pathsThatAreNoRegularFileAreRefusedUnopened() {
  NamedPipe pipe(path("pipe.sf2"));
  const QString cases[][2] = {{pipe.path(), PIPE_REASON},
                              {"/dev/zero", "通常のファイルではありません (デバイス)"},
                              {dir_.path(), "通常のファイルではありません (フォルダ)"},
                              {FluidMediaPlayer::defaultSoundFont(), QString()}};
  for (const auto& [file, reason] : cases) {
    QCOMPARE(soundFontFileProblem(file), reason);
    const SoundFontLoad load = loadSoundFont(file, 44100);
    QCOMPARE(load.error, reason);
    QCOMPARE(load.engine != nullptr, reason.isEmpty());
  }
  QVERIFY(!pipe.released());
  // A missing file is FluidSynth's to explain.
  QCOMPARE(soundFontFileProblem(path("missing.sf2")), QString());
  QVERIFY(!loadSoundFont(path("missing.sf2"), 44100).error.isEmpty());
}

// At play the refusal comes through the event loop at its next turn, with no thread started;
// a play() that was not prepared refuses the same way instead of blocking.
void SoundFontLoadingTest::aNamedPipeIsRefusedAtPlayAndByTheAudioExport() {
  NamedPipe pipe(path("pipe at play.sf2"));
  const QString refusal = "Cannot load the SoundFont " + pipe.path() + ": " + PIPE_REASON;
  auto player = openPlayer();
  TemporaryMidiFile file(dir_.path());
  PlaybackController playback(*player, file);
  const TemporaryMidiFile::Created created = file.create();
  QVERIFY(created.fd >= 0);
  const QByteArray midi = readTestFile(midiPath_);
  QCOMPARE(::write(created.fd, midi.constData(), size_t(midi.size())), ssize_t(midi.size()));
  ::close(created.fd);
  player->setSound({.soundFont = pipe.path()});
  QSignalSpy started(&playback, &PlaybackController::started);
  QVERIFY(playback.play().pending);
  QTRY_COMPARE(started.size(), 1);
  const auto outcome = started.takeFirst().at(0).value<PlaybackStart>();
  QVERIFY(!outcome.ok);
  QCOMPARE(outcome.error, refusal);
  QVERIFY(!playback.isPlaying() && !playback.isStarting());
  QCOMPARE(player->lengthMs(), int64_t(0));  // closed again

  QVERIFY(player->open(midiPath_, nullptr));
  QString error;
  QVERIFY(!player->play(&error));
  QCOMPARE(error, refusal);

  const AudioExportResult exported = exportAudio(
      {compileScore(), path("song.wav"), AudioFileFormat::Wav, {.soundFont = pipe.path()}, {}});
  QCOMPARE(exported.status, AudioExportStatus::SoundFontRefused);
  QCOMPARE(describeAudioExportFailure(exported),
           "SoundFont を読み込めません: " + pipe.path() + ": " + PIPE_REASON);
  QVERIFY(!pipe.released());
  QVERIFY(!QFile::exists(path("song.wav")));
}

// While the load waits at its gate, the event loop turns (a timer fires) and a second request
// for the same SoundFont joins the load under way; once it is in, both hear so and the play
// sounds.
void SoundFontLoadingTest::aSlowLoadLeavesTheEventLoopRunning() {
  GatedLoad load;
  auto player = openPlayer(load.function());
  QVERIFY(!player->soundReady());
  QStringList heard;
  player->prepareSound([&](const QString& error) { heard << "first [" + error + "]"; });
  bool timerFired = false;
  QTimer::singleShot(0, [&] {
    timerFired = true;
    player->prepareSound([&](const QString& error) { heard << "second [" + error + "]"; });
  });
  QTRY_VERIFY(timerFired);
  QCOMPARE(heard, QStringList());  // still loading
  load.gate.set_value();
  QTRY_COMPARE(heard, (QStringList{"first []", "second []"}));
  QVERIFY(load.gateWasOpen);
  QCOMPARE(load.calls.load(), 1);
  QVERIFY(player->soundReady());
  QString error;
  QVERIFY2(player->play(&error), qPrintable(error));
  QCOMPARE(load.calls.load(), 1);  // play() loaded nothing more
  offline_->renderMs(600);
  QVERIFY(offline_->takePeak() > 0);
}

// A request for another SoundFont while one loads: the older load's synthesizer is dropped and
// the newer one plays; every request waiting hears the newer outcome.
void SoundFontLoadingTest::aNewerSoundFontOvertakesTheLoadUnderWay() {
  const QString broken = path("broken.sf2");
  writeTestFile(broken, "not a SoundFont");
  GatedLoad load;
  auto player = openPlayer(load.function());
  QStringList heard;
  player->prepareSound([&](const QString& error) { heard << "default [" + error + "]"; });
  player->setSound({.soundFont = broken});
  player->prepareSound([&](const QString& error) { heard << "broken [" + error + "]"; });
  load.gate.set_value();
  QTRY_COMPARE(heard.size(), 2);
  QVERIFY2(heard[0].startsWith("default [Cannot load the SoundFont " + broken + ": "),
           qPrintable(heard[0]));
  QCOMPARE(heard[0].mid(heard[0].indexOf('[')), heard[1].mid(heard[1].indexOf('[')));
  QTRY_COMPARE(load.finished.load(), 2);
  QCoreApplication::processEvents();  // the older load's result has had its turn
  player->setSound({});
  QVERIFY(!player->soundReady());  // its synthesizer was dropped, not kept

  heard.clear();
  player->prepareSound([&](const QString& error) { heard << "[" + error + "]"; });
  QTRY_COMPARE(heard, QStringList{"[]"});
  QVERIFY(player->soundReady());
  QCOMPARE(load.calls.load(), 3);
}

QTEST_MAIN(SoundFontLoadingTest)
#include "sound_font_loading_test.moc"
