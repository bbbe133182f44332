// The playback controller without a window: the temporary file's lifetime on every path (played
// and stopped, a failed start, a failed delete retried, the destructor), and what the player's
// notify does at the song's end with and without the loop.
#include "editor/playback/playback_controller.h"

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "tests/editor/support/scripted_services.h"

class PlaybackControllerTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void init() {
    dir = std::make_unique<QTemporaryDir>();
    player = std::make_unique<ScriptedMediaPlayer>();
    file = std::make_unique<TemporaryMidiFile>(dir->path());
  }
  void temporaryFileLivesFromCreationToStop();
  void failedDeleteIsRetried();
  void failedStartClosesThePlayer();
  void songEndLoopsOrEnds();
  void aPlayWaitsForItsSoundFontAndAStopDropsIt();
  void missingTemporaryFolderIsReported();

 private:
  // A temporary file with some bytes, as a compilation leaves it.
  QString createWritten(PlaybackController& playback) {
    const TemporaryMidiFile::Created created = file->create();
    if (created.fd < 0) return QString();
    (void)!::write(created.fd, "MThd", 4);
    ::close(created.fd);
    return playback.playPath();
  }
  std::unique_ptr<QTemporaryDir> dir;
  std::unique_ptr<ScriptedMediaPlayer> player;
  std::unique_ptr<TemporaryMidiFile> file;  // what a compilation writes
};

void PlaybackControllerTest::temporaryFileLivesFromCreationToStop() {
  QString first;
  {
    PlaybackController playback(*player, *file);
    first = createWritten(playback);
    QVERIFY(first.endsWith(".mid") && QFile::exists(first));
    player->length = 1000;
    const PlaybackController::Started started = playback.play();
    QVERIFY(started.ok && playback.isPlaying());
    QCOMPARE(started.lengthMs, int64_t(1000));
    QVERIFY(playback.stop());
    QVERIFY(!QFile::exists(first) && !playback.hasTemporaryFile() && !playback.isPlaying());

    const QString second = createWritten(playback);
    QVERIFY(second != first);
    QVERIFY(playback.play().ok);
  }
  // The destructor stops and deletes too.
  QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList());
  QCOMPARE(player->calls.last(), QString("close"));
}

void PlaybackControllerTest::failedDeleteIsRetried() {
  PlaybackController playback(*player, *file);
  const QString path = createWritten(playback);
  // Something that cannot be removed as a file takes the temporary file's name.
  QVERIFY(QFile::remove(path));
  QVERIFY(QDir().mkpath(path + "/inside"));
  QVERIFY(!playback.stop());
  QVERIFY(playback.hasTemporaryFile());
  QVERIFY(QDir(path).removeRecursively());
  QVERIFY(playback.deleteTemporaryFile());  // gone now: nothing left to delete
  QVERIFY(!playback.hasTemporaryFile());
}

void PlaybackControllerTest::failedStartClosesThePlayer() {
  PlaybackController playback(*player, *file);
  createWritten(playback);
  player->plays = false;
  const PlaybackController::Started started = playback.play();
  QVERIFY(!started.ok);
  QCOMPARE(started.error, QString("scripted play failure"));
  QVERIFY(!playback.isPlaying() && !player->isOpen);
  QVERIFY(playback.hasTemporaryFile());  // the window deletes it after saying why
}

void PlaybackControllerTest::songEndLoopsOrEnds() {
  PlaybackController playback(*player, *file);
  QSignalSpy ended(&playback, &PlaybackController::endReached);
  createWritten(playback);
  player->length = 500;
  playback.playerNotified();  // not playing yet: nothing
  QVERIFY(playback.play().ok);
  player->position = 200;
  playback.playerNotified();  // interrupted before the end (a seek): nothing
  QCOMPARE(ended.size(), 0);

  playback.setLoop(true);
  player->position = 500;
  player->calls.clear();
  playback.playerNotified();
  QCOMPARE(player->calls, (QStringList{"seek 0", "play"}));
  QCOMPARE(ended.size(), 0);

  playback.setLoop(false);
  player->position = 500;
  playback.playerNotified();
  QCOMPARE(ended.size(), 1);
}

// The SoundFont still loads: the play is pending, starts once the load is in, and a stop or a
// newer play before that leaves it unstarted; a failed load closes the player and says why.
void PlaybackControllerTest::aPlayWaitsForItsSoundFontAndAStopDropsIt() {
  PlaybackController playback(*player, *file);
  QSignalSpy started(&playback, &PlaybackController::started);
  player->length = 1000;
  player->soundLoaded = false;
  createWritten(playback);
  const PlaybackStart pending = playback.play(300);
  QVERIFY(pending.pending && !pending.ok);
  QVERIFY(playback.isStarting() && !playback.isPlaying());
  QCOMPARE(player->calls.mid(2), (QStringList{"seek 300", "prepare"}));
  player->finishSoundLoad();
  QTRY_COMPARE(started.size(), 1);
  const auto outcome = started.takeFirst().at(0).value<PlaybackStart>();
  QVERIFY(outcome.ok && !outcome.pending);
  QCOMPARE(outcome.lengthMs, int64_t(1000));
  QVERIFY(playback.isPlaying() && !playback.isStarting());
  QCOMPARE(player->calls.last(), QString("play"));

  // Stopped, then played anew, while the load runs: only the newest play starts.
  player->soundLoaded = false;
  QVERIFY(playback.play().pending);
  QVERIFY(playback.stop());
  createWritten(playback);
  QVERIFY(playback.play().pending);
  player->calls.clear();
  QCOMPARE(player->preparing.size(), size_t(2));
  player->preparing.front()(QString());  // the stopped play's answer comes first
  QCOMPARE(started.size(), 0);
  player->preparing.erase(player->preparing.begin());
  player->finishSoundLoad();
  QTRY_COMPARE(started.size(), 1);
  QCOMPARE(player->calls, QStringList{"play"});

  QVERIFY(playback.stop());
  player->soundLoaded = false;
  createWritten(playback);
  QVERIFY(playback.play().pending);
  QVERIFY(playback.stop());
  player->finishSoundLoad();
  QCoreApplication::processEvents();
  QCOMPARE(started.size(), 1);  // nothing for the stopped one
  QVERIFY(!playback.isPlaying());

  started.clear();
  createWritten(playback);
  player->soundLoaded = false;
  QVERIFY(playback.play().pending);
  player->finishSoundLoad("no SoundFont");
  QTRY_COMPARE(started.size(), 1);
  const auto failed = started.takeFirst().at(0).value<PlaybackStart>();
  QVERIFY(!failed.ok);
  QCOMPARE(failed.error, QString("no SoundFont"));
  QVERIFY(!playback.isPlaying() && !playback.isStarting() && !player->isOpen);
}

void PlaybackControllerTest::missingTemporaryFolderIsReported() {
  TemporaryMidiFile gone(dir->filePath("gone"));
  PlaybackController playback(*player, gone);
  const TemporaryMidiFile::Created created = gone.create();
  QCOMPARE(created.fd, -1);
  QCOMPARE(created.error, QString("Temp Path error"));
  QVERIFY(!playback.hasTemporaryFile());
}

QTEST_GUILESS_MAIN(PlaybackControllerTest)
#include "playback_controller_test.moc"
