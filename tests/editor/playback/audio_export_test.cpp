// The audio export on scores compiled by the real compiler, read back through libsndfile: the
// file's format and length against the tempo map, the fading tail, sound in it, the sound
// settings and the channel mix applied, FLAC holding the same samples, and the failures (a
// SoundFont that does not load, a folder that is not there, a file-size limit) leaving the previous
// file as it was and no temporary file beside it. Cancelling is tested through the command's
// progress dialog.
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
#include "tests/editor/support/test_files.h"
#include "tests/support/memory_host.h"

namespace {

// A piano chord whose last note sounds up to the song's end, and the same followed by two
// silent bars.
const char RINGING[] = "ch1 {\n  \"t120 @0 v13 o4 l4 c e g >c\"\n}\n";
const char FADED[] = "ch1 {\n  \"t120 @0 v13 o4 l4 c e g >c r1 r1\"\n}\n";
// One channel at a time: ch1 sounds in bar 1 (0.25 s to 2.25 s, after the lead-in), ch2 in
// bar 3 (4.25 s to 6.25 s); the bar between lets ch1's note die away.
const char TURNS[] =
    "ch1 {\n  \"t120 @0 v13 o4 l1 c r1 r1\"\n}\n"
    "ch2 {\n  \"@0 v13 o4 l1 r1 r1 c\"\n}\n";
constexpr int64_t CH1_FROM_MS = 300, CH2_FROM_MS = 4300, SPAN_MS = 1500;
constexpr int NOTE_PEAK = 400;  // one dry piano note of TURNS peaks at about 830
constexpr int QUIET_PEAK = 30;  // nothing played: no more than dither
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
  int peak() const { return peakIn(0, frames()); }
  // The peak of the frames [from, to).
  int peakIn(int64_t from, int64_t to) const {
    int peak = 0;
    const int64_t end = std::min(to, frames()) * info.channels;
    for (int64_t i = from * info.channels; i < end; ++i)
      peak = std::max(peak, std::abs(int(samples[size_t(i)])));
    return peak;
  }
  int peakOfSpan(int64_t fromMs) const {
    return peakIn(fromMs * AUDIO_SAMPLE_RATE / 1000, (fromMs + SPAN_MS) * AUDIO_SAMPLE_RATE / 1000);
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
  void mutedChannelIsSilentAndSoloWins();
  void failuresLeaveThePreviousFileAlone();
  void fileSizeLimitLeavesNothingPartial();

 private:
  QString path(const QString& name) const { return dir_->filePath(name); }
  QStringList entries() const {
    return QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
  }
  AudioExportResult exportTo(const QString& name, const char* score, SoundSettings sound = {},
                             const AudioExportProgress& progress = {}, ChannelMix mix = {}) {
    return exportAudio({compileScore(score), path(name), audioFormatOf(name), sound, mix},
                       progress);
  }
  // The peaks of ch1's and ch2's spans of TURNS exported dry with `mix`.
  std::pair<int, int> turnPeaks(ChannelMix mix) {
    SoundSettings dry;
    dry.reverb = false;
    dry.chorus = false;
    const AudioExportResult result = exportTo("turns.wav", TURNS, dry, {}, mix);
    if (!result.ok()) return {-1, -1};
    const Decoded decoded = readAudio(path("turns.wav"));
    return {decoded.peakOfSpan(CH1_FROM_MS), decoded.peakOfSpan(CH2_FROM_MS)};
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

// A muted channel's notes are absent from the file, the others' are not; while a channel is
// soloed only it sounds, muted or not.
void AudioExportTest::mutedChannelIsSilentAndSoloWins() {
  const auto [ch1, ch2] = turnPeaks({});
  QVERIFY2(ch1 >= NOTE_PEAK && ch2 >= NOTE_PEAK, qPrintable(QString("%1, %2").arg(ch1).arg(ch2)));

  const auto [muted1, kept2] = turnPeaks({.muted = ChannelMix::bit(1)});
  QVERIFY2(muted1 <= QUIET_PEAK, qPrintable(QString("muted ch1 peaks at %1").arg(muted1)));
  QVERIFY2(kept2 >= NOTE_PEAK, qPrintable(QString("ch2 peaks at %1").arg(kept2)));

  const auto [soloed1, silenced2] =
      turnPeaks({.muted = ChannelMix::bit(1), .soloed = ChannelMix::bit(1)});
  QVERIFY2(soloed1 >= NOTE_PEAK, qPrintable(QString("soloed ch1 peaks at %1").arg(soloed1)));
  QVERIFY2(silenced2 <= QUIET_PEAK, qPrintable(QString("ch2 peaks at %1").arg(silenced2)));
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
