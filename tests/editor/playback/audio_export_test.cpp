// The audio export on scores compiled by the real compiler, read back through libsndfile: the
// file's format and length against the tempo map, the fading tail, sound in it, the sound
// settings applied, FLAC holding the same samples, and the failures (a SoundFont that does not
// load, a folder that is not there, a file-size limit) leaving the previous file as it was and
// no temporary file beside it. Cancelling is tested through the command's progress dialog.
#include "editor/playback/audio_export.h"

#include <sndfile.h>
#include <sys/resource.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cerrno>
#include <memory>

#include "core/midi_tempo_map.h"
#include "editor/ui/ending_signals.h"
#include "tests/editor/support/test_files.h"
#include "tests/support/memory_host.h"

namespace {

// A piano chord whose last note sounds up to the song's end, and the same followed by two
// silent bars.
const char RINGING[] = "ch1 {\n  \"t120 @0 v13 o4 l4 c e g >c\"\n}\n";
const char FADED[] = "ch1 {\n  \"t120 @0 v13 o4 l4 c e g >c r1 r1\"\n}\n";
constexpr int64_t TAIL_FRAMES_MAX = TAIL_MS_MAX * AUDIO_SAMPLE_RATE / 1000;
constexpr int LOUD_PEAK = 1000;  // about -30 dB: clearly sound, not dither

std::vector<uint8_t> compileScore(const char* score) {
  auto compile = std::make_unique<MemoryCompile>(FLAVOUR_EDITOR, score);
  if (compile->run() != 0) return {};
  return compile->host.kept;
}

int64_t songFrames(const std::vector<uint8_t>& midi) {
  MidiTempoMap map;
  std::string why;
  if (!map.parse(midi.data(), midi.size(), &why)) return -1;
  return map.lengthMs() * AUDIO_SAMPLE_RATE / 1000;
}

struct Decoded {
  SF_INFO info{};
  std::vector<short> samples;  // interleaved
  bool ok = false;
  int64_t frames() const { return info.frames; }
  int peak() const {
    int peak = 0;
    for (short sample : samples) peak = std::max(peak, std::abs(int(sample)));
    return peak;
  }
};

Decoded readAudio(const QString& path) {
  Decoded decoded;
  SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &decoded.info);
  if (!file) return decoded;
  decoded.samples.resize(size_t(decoded.info.frames * decoded.info.channels));
  decoded.ok =
      sf_readf_short(file, decoded.samples.data(), decoded.info.frames) == decoded.info.frames;
  sf_close(file);
  return decoded;
}

}  // namespace

class AudioExportTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void init();
  void wavHasTheSongsLengthFormatAndSoundAndFlacTheSameSamples();
  void tailEndsWhenTheOutputFallsSilent();
  void soundSettingsAreApplied();
  void failuresLeaveThePreviousFileAlone();
  void fileSizeLimitLeavesNothingPartial();

 private:
  QString path(const QString& name) const { return dir_->filePath(name); }
  QStringList entries() const {
    return QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
  }
  AudioExportResult exportTo(const QString& name, const char* score, SoundSettings sound = {},
                             const AudioExportProgress& progress = {}) {
    return exportAudio({compileScore(score), path(name), audioFormatOf(name), sound}, progress);
  }

  std::unique_ptr<QTemporaryDir> dir_;
};

void AudioExportTest::init() {
  dir_ = std::make_unique<QTemporaryDir>();
}

void AudioExportTest::wavHasTheSongsLengthFormatAndSoundAndFlacTheSameSamples() {
  writeTestFile(path("song.wav"), "previous");
  const AudioExportResult result = exportTo("song.wav", RINGING);
  QVERIFY2(result.ok(), qPrintable(describeAudioExportFailure(result)));
  const Decoded wav = readAudio(path("song.wav"));
  QVERIFY(wav.ok);
  QCOMPARE(wav.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  QCOMPARE(wav.info.samplerate, 44100);
  QCOMPARE(wav.info.channels, 2);
  QCOMPARE(wav.frames(), result.frames);
  const int64_t song = songFrames(compileScore(RINGING));
  QVERIFY2(wav.frames() > song && wav.frames() <= song + TAIL_FRAMES_MAX,
           qPrintable(QString("%1 frames for a song of %2").arg(wav.frames()).arg(song)));
  QVERIFY2(wav.peak() >= LOUD_PEAK, qPrintable(QString("peak %1").arg(wav.peak())));

  QVERIFY(exportTo("song.FLAC", RINGING).ok());
  const Decoded flac = readAudio(path("song.FLAC"));
  QCOMPARE(flac.info.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
  QCOMPARE(flac.info.samplerate, 44100);
  QCOMPARE(flac.info.channels, 2);
  QVERIFY(flac.samples == wav.samples);
  QCOMPARE(entries(), (QStringList{"song.FLAC", "song.wav"}));
}

// The song's end with notes still sounding gets a tail; two silent bars before it get none.
void AudioExportTest::tailEndsWhenTheOutputFallsSilent() {
  QVERIFY(exportTo("faded.wav", FADED).ok());
  const Decoded faded = readAudio(path("faded.wav"));
  QCOMPARE(faded.frames(), songFrames(compileScore(FADED)));
  QVERIFY(faded.peak() >= LOUD_PEAK);

  // The last note cut short by the song's end rings on: a tail of at least some blocks.
  QVERIFY(exportTo("ringing.wav", RINGING).ok());
  const int64_t tail = readAudio(path("ringing.wav")).frames() - songFrames(compileScore(RINGING));
  QVERIFY2(tail >= AUDIO_SAMPLE_RATE / 10 && tail <= TAIL_FRAMES_MAX,
           qPrintable(QString("tail of %1 frames").arg(tail)));
}

void AudioExportTest::soundSettingsAreApplied() {
  QVERIFY(exportTo("default.wav", FADED).ok());
  SoundSettings dry;
  dry.reverb = false;
  dry.chorus = false;
  QVERIFY(exportTo("dry.wav", FADED, dry).ok());
  SoundSettings loud;
  loud.gain = SoundSettings::GAIN_DEFAULT * 2;
  QVERIFY(exportTo("loud.wav", FADED, loud).ok());
  const Decoded normal = readAudio(path("default.wav"));
  QVERIFY(readAudio(path("dry.wav")).samples != normal.samples);
  const int loudPeak = readAudio(path("loud.wav")).peak();
  QVERIFY2(loudPeak > normal.peak() * 3 / 2,
           qPrintable(QString("peaks %1 and %2").arg(normal.peak()).arg(loudPeak)));
}

void AudioExportTest::failuresLeaveThePreviousFileAlone() {
  writeTestFile(path("song.wav"), "previous");
  writeTestFile(path("broken.sf2"), "not a SoundFont");
  SoundSettings broken;
  broken.soundFont = path("broken.sf2");
  AudioExportResult result = exportTo("song.wav", RINGING, broken);
  QCOMPARE(result.status, AudioExportStatus::SoundFontRefused);
  QVERIFY2(describeAudioExportFailure(result).startsWith("SoundFont を読み込めません: " +
                                                         path("broken.sf2")),
           qPrintable(describeAudioExportFailure(result)));

  result = exportTo("gone/song.wav", RINGING);
  QCOMPARE(result.status, AudioExportStatus::WriteFailed);
  QCOMPARE(result.write.failure, WriteFailure::CreateTemporary);
  QCOMPARE(result.write.error, ENOENT);

  QCOMPARE(readTestFile(path("song.wav")), QByteArray("previous"));
  QCOMPARE(entries(), (QStringList{"broken.sf2", "song.wav"}));
}

// Under `ulimit -f`, with the editor's signal handling: the write fails with EFBIG, the export
// says so and the previous file stays. The limit is set in this process, not in a forked child:
// FluidSynth loads SoundFonts with OpenMP, whose thread pool a child of a process that used it
// cannot run.
void AudioExportTest::fileSizeLimitLeavesNothingPartial() {
  ignoreFileSizeSignal();
  for (const QString name : {"song.wav", "song.flac"}) {
    writeTestFile(path(name), "previous");
    rlimit unlimited{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &unlimited), 0);
    const rlimit limited{65536, unlimited.rlim_max};
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const AudioExportResult result = exportTo(name, RINGING);
    ::setrlimit(RLIMIT_FSIZE, &unlimited);
    QCOMPARE(result.status, AudioExportStatus::WriteFailed);
    QCOMPARE(result.write.error, EFBIG);
    QCOMPARE(readTestFile(path(name)), QByteArray("previous"));
    QCOMPARE(entries(), QStringList{name});
    QFile::remove(path(name));
  }
}

QTEST_GUILESS_MAIN(AudioExportTest)
#include "audio_export_test.moc"
