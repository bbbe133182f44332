// The notify contract of editor_services.h, held against both media players the editor is tested
// with: FluidMediaPlayer on the offline output, and the scenario tests' ScriptedMediaPlayer. The
// same calls must give the same notifications, each delivered by the event loop on the player's
// thread and never from inside a call. A fake that drifted from the real player would let the
// scenario tests pass on behaviour the program does not have.
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <functional>

#include "editor/playback/fluid_media_player.h"
#include "tests/editor/support/offline_audio_output.h"
#include "tests/editor/support/scripted_services.h"

namespace {

// One quarter note at 120 beats per minute, division 480, in a format-0 file.
const QByteArray SONG = QByteArray::fromHex(
    "4d546864 00000006 0000 0001 01e0"
    "4d54726b 00000014 00ff510307a120 00903c40 8360803c00 00ff2f00");
constexpr int64_t SONG_LENGTH_MS = 500;

// A player under test: the calls of the MediaPlayer interface, and the one thing each player
// does its own way, letting the running request reach the end of the song.
struct Subject {
  MediaPlayer& player;
  std::function<void()> reachEnd;
};

// Runs blank-separated steps: open, close, play, seek0, seekEnd (to the length), end (the song
// reaches its end), sound (new sound settings, which the real player's next play makes a new
// output for) and "|", a return to the event loop. The trace has the number of
// notifications so far at each "|", "refused" for a play that failed and "inside <step>" for a
// notification delivered during a call.
QString runSteps(const Subject& subject, const QString& songPath, const QString& steps) {
  MediaPlayer& player = subject.player;
  int notified = 0;
  bool offThread = false;
  player.onNotify = [&] {
    ++notified;
    if (QThread::currentThread() != QCoreApplication::instance()->thread()) offThread = true;
  };
  QStringList trace;
  bool chosenOutput = false;
  for (const QString& step : steps.split(' ', Qt::SkipEmptyParts)) {
    const int before = notified;
    if (step == "|") {
      QCoreApplication::processEvents();
      trace << QString::number(notified);
      continue;
    }
    if (step == "open") {
      player.open(songPath, nullptr);
    } else if (step == "close") {
      player.close();
    } else if (step == "play") {
      if (!player.play(nullptr)) trace << "refused";
    } else if (step == "seek0") {
      player.seek(0);
    } else if (step == "seekEnd") {
      player.seek(player.lengthMs());
    } else if (step == "end") {
      subject.reachEnd();
    } else if (step == "sound") {
      chosenOutput = !chosenOutput;
      player.setSound({.audioOutput = chosenOutput ? "offline" : ""});
    } else {
      trace << "unknown " + step;
    }
    if (notified != before) trace << "inside " + step;
  }
  if (offThread) trace << "off the player's thread";
  player.onNotify = nullptr;
  return trace.join(' ');
}

}  // namespace

class MediaPlayerContractTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void initTestCase();
  void bothPlayersNotifyAlike_data();
  void bothPlayersNotifyAlike();

 private:
  QTemporaryDir dir_;
  QString songPath_;
};

void MediaPlayerContractTest::initTestCase() {
  QVERIFY(dir_.isValid());
  songPath_ = dir_.filePath("song.mid");
  QFile file(songPath_);
  QVERIFY(file.open(QIODevice::WriteOnly));
  QCOMPARE(file.write(SONG), SONG.size());
}

void MediaPlayerContractTest::bothPlayersNotifyAlike_data() {
  QTest::addColumn<QString>("steps");
  QTest::addColumn<QString>("trace");
  QTest::newRow("a seek ends the request") << "open play seek0 | play | close |"
                                           << "1 1 2";
  QTest::newRow("another play ends the request") << "open play play | end |"
                                                 << "1 2";
  QTest::newRow("open ends the request") << "open play open |"
                                         << "1";
  QTest::newRow("close ends the request") << "open play close close |"
                                          << "1";
  QTest::newRow("the end is reported once") << "open play end | end |"
                                            << "1 1";
  QTest::newRow("an end overtaken by a seek") << "open play end seek0 |"
                                              << "1";
  QTest::newRow("a new request outlives the old end") << "open play end seek0 play | end |"
                                                      << "1 2";
  QTest::newRow("an end overtaken by close") << "open play end close |"
                                             << "1";
  QTest::newRow("a play at the end ends at once") << "open seekEnd play |"
                                                  << "1";
  QTest::newRow("nothing runs, nothing ends") << "close seek0 open seek0 close |"
                                              << "0";
  QTest::newRow("a play in a new sound ends the request once") << "open play sound play | end |"
                                                               << "1 2";
  QTest::newRow("a new sound alone ends nothing") << "open play sound | end |"
                                                  << "0 1";
  QTest::newRow("no file, no request") << "play | open close play |"
                                       << "refused 0 refused 0";
}

void MediaPlayerContractTest::bothPlayersNotifyAlike() {
  QFETCH(QString, steps);
  QFETCH(QString, trace);

  OfflineAudioOutput* offline = nullptr;
  FluidMediaPlayer real(OfflineAudioOutput::only(&offline));
  QVERIFY(real.open(songPath_, nullptr));
  QCOMPARE(real.lengthMs(), SONG_LENGTH_MS);
  real.close();
  QCOMPARE(runSteps({real, [&] { offline->renderMs(2 * SONG_LENGTH_MS); }}, songPath_, steps),
           trace);

  ScriptedMediaPlayer fake;
  fake.length = SONG_LENGTH_MS;
  QCOMPARE(runSteps({fake, [&] { fake.reachEnd(); }}, songPath_, steps), trace);
}

QTEST_GUILESS_MAIN(MediaPlayerContractTest)
#include "media_player_contract_test.moc"
