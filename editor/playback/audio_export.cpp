#include "editor/playback/audio_export.h"

#include <fluidsynth.h>
#include <sndfile.h>

#include <QMetaObject>
#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <utility>

#include "core/midi_tempo_map.h"
#include "editor/playback/channel_gate.h"
#include "editor/playback/fluid_log.h"
#include "editor/playback/fluid_media_player.h"
#include "editor/playback/sound_font_loader.h"

namespace {

constexpr int SONG_BLOCK_FRAMES = 4096;  // about 93 ms: the progress moves ten times a second
constexpr int TAIL_BLOCK_FRAMES = 882;   // 20 ms: the tail ends within 20 ms of falling silent
// A tail block whose samples all lie within this of zero is silence: FluidSynth's dither alone
// moves a silent output by one step.
constexpr int SILENCE_PEAK = 2;
constexpr int64_t TAIL_FRAMES_MAX = TAIL_MS_MAX * AUDIO_SAMPLE_RATE / 1000;
constexpr int64_t FRAME_BYTES = AUDIO_CHANNELS * 2;
// A WAV file counts its bytes in 32 bits; the header and a margin stay below that.
constexpr int64_t WAV_FRAMES_MAX = (0xFFFFFFFFLL - (1 << 20)) / FRAME_BYTES;

int64_t framesOfMs(int64_t ms) {
  return ms * AUDIO_SAMPLE_RATE / 1000;
}

int64_t msOfFrames(int64_t frames) {
  return frames * 1000 / AUDIO_SAMPLE_RATE;
}

struct FluidDeleter {
  void operator()(fluid_settings_t* settings) const { delete_fluid_settings(settings); }
  void operator()(fluid_synth_t* synth) const { delete_fluid_synth(synth); }
  void operator()(fluid_player_t* player) const {
    fluid_player_stop(player);
    delete_fluid_player(player);
  }
};

// libsndfile writes through these into the writer's temporary file: a header it completes at
// the end is written at its offset. The first failure is kept, with its errno.
struct TemporaryFileIo {
  WholeFileWriter& writer;
  sf_count_t position = 0;
  sf_count_t length = 0;
  WriteOutcome failure;
};

sf_count_t ioLength(void* user) {
  return static_cast<TemporaryFileIo*>(user)->length;
}

sf_count_t ioSeek(sf_count_t offset, int whence, void* user) {
  auto* io = static_cast<TemporaryFileIo*>(user);
  const sf_count_t base = whence == SEEK_CUR ? io->position : whence == SEEK_END ? io->length : 0;
  if (base + offset < 0) return -1;
  io->position = base + offset;
  return io->position;
}

sf_count_t ioRead(void*, sf_count_t, void*) {
  return 0;  // the file is only written
}

sf_count_t ioWrite(const void* data, sf_count_t count, void* user) {
  auto* io = static_cast<TemporaryFileIo*>(user);
  if (!io->failure.ok()) return 0;
  const WriteOutcome written =
      io->writer.writeAt(io->position, static_cast<const char*>(data), qsizetype(count));
  if (!written.ok()) {
    io->failure = written;
    return 0;
  }
  io->position += count;
  io->length = std::max(io->length, io->position);
  return count;
}

sf_count_t ioTell(void* user) {
  return static_cast<TemporaryFileIo*>(user)->position;
}

AudioExportResult failed(AudioExportStatus status, QString reason = QString()) {
  AudioExportResult result;
  result.status = status;
  result.reason = std::move(reason);
  return result;
}

AudioExportResult writeFailed(const WriteOutcome& outcome) {
  AudioExportResult result;
  result.status = AudioExportStatus::WriteFailed;
  result.write = outcome;
  return result;
}

// The synthesizer with the request's SoundFont and effects, and a file player that runs on the
// synthesizer's own sample clock, so rendering goes as fast as the processor allows.
class Renderer {
 public:
  AudioExportResult start(const AudioExportRequest& request) {
    installFluidLogging();
    forgetFluidError();
    settings_.reset(new_fluid_settings());
    if (!settings_) return failed(AudioExportStatus::SoundFontRefused, "FluidSynth cannot start");
    fluid_settings_t* settings = settings_.get();
    fluid_settings_setnum(settings, "synth.sample-rate", AUDIO_SAMPLE_RATE);
    fluid_settings_setint(settings, "synth.lock-memory", 0);
    fluid_settings_setint(settings, "synth.cpu-cores", 1);
    fluid_settings_setint(settings, "synth.reverb.active", request.sound.reverb ? 1 : 0);
    fluid_settings_setint(settings, "synth.chorus.active", request.sound.chorus ? 1 : 0);
    fluid_settings_setnum(settings, "synth.gain", request.sound.gain);
    fluid_settings_setstr(settings, "player.timing-source", "sample");
    synth_.reset(new_fluid_synth(settings));
    const QString soundFont = request.sound.soundFont.isEmpty()
                                  ? FluidMediaPlayer::defaultSoundFont()
                                  : request.sound.soundFont;
    if (!synth_) return failed(AudioExportStatus::SoundFontRefused, "FluidSynth cannot start");
    if (const QString problem = loadSoundFontInto(synth_.get(), soundFont); !problem.isEmpty()) {
      return failed(AudioExportStatus::SoundFontRefused, QString("%1: %2").arg(soundFont, problem));
    }
    player_.reset(new_fluid_player(synth_.get()));
    gate_.setMix(request.mix);
    if (player_) gate_.attach(player_.get(), synth_.get());
    if (!player_ ||
        fluid_player_add_mem(player_.get(), request.midi.data(), request.midi.size()) != FLUID_OK ||
        fluid_player_play(player_.get()) != FLUID_OK) {
      return failed(AudioExportStatus::MidiRefused, takeFluidError("FluidSynth cannot play it"));
    }
    return {};
  }

  // The next frames, interleaved left and right.
  void render(int frames, std::vector<short>& samples) {
    samples.resize(size_t(frames) * AUDIO_CHANNELS);
    fluid_synth_write_s16(synth_.get(), frames, samples.data(), 0, AUDIO_CHANNELS, samples.data(),
                          1, AUDIO_CHANNELS);
  }

 private:
  std::unique_ptr<fluid_settings_t, FluidDeleter> settings_;
  std::unique_ptr<fluid_synth_t, FluidDeleter> synth_;
  ChannelGate gate_;  // outlives the player, whose events it passes on
  std::unique_ptr<fluid_player_t, FluidDeleter> player_;  // deleted first: it uses the synth
};

bool silent(const std::vector<short>& samples) {
  return std::all_of(samples.begin(), samples.end(), [](short sample) {
    return sample >= -SILENCE_PEAK && sample <= SILENCE_PEAK;
  });
}

// The encoder over the writer's temporary file.
class Encoder {
 public:
  explicit Encoder(WholeFileWriter& writer) : io_{writer, 0, 0, {}} {}
  ~Encoder() {
    if (file_) sf_close(file_);
  }

  AudioExportResult open(AudioFileFormat format) {
    SF_INFO info{};
    info.samplerate = AUDIO_SAMPLE_RATE;
    info.channels = AUDIO_CHANNELS;
    info.format =
        (format == AudioFileFormat::Flac ? SF_FORMAT_FLAC : SF_FORMAT_WAV) | SF_FORMAT_PCM_16;
    file_ = sf_open_virtual(&callbacks_, SFM_WRITE, &info, &io_);
    if (file_) return {};
    if (!io_.failure.ok()) return writeFailed(io_.failure);
    return failed(AudioExportStatus::EncoderFailed, sf_strerror(nullptr));
  }

  AudioExportResult write(const std::vector<short>& samples) {
    const sf_count_t frames = sf_count_t(samples.size() / AUDIO_CHANNELS);
    if (sf_writef_short(file_, samples.data(), frames) == frames) return {};
    if (!io_.failure.ok()) return writeFailed(io_.failure);
    return failed(AudioExportStatus::EncoderFailed, sf_strerror(file_));
  }

  // Completes the header and flushes what the encoder holds.
  AudioExportResult close() {
    const int error = sf_close(std::exchange(file_, nullptr));
    if (!io_.failure.ok()) return writeFailed(io_.failure);
    if (error != SF_ERR_NO_ERROR) {
      return failed(AudioExportStatus::EncoderFailed, sf_error_number(error));
    }
    return {};
  }

 private:
  TemporaryFileIo io_;
  SF_VIRTUAL_IO callbacks_{ioLength, ioSeek, ioRead, ioWrite, ioTell};
  SNDFILE* file_ = nullptr;
};

}  // namespace

AudioFileFormat audioFormatOf(const QString& path) {
  return path.endsWith(".flac", Qt::CaseInsensitive) ? AudioFileFormat::Flac : AudioFileFormat::Wav;
}

QString describeAudioExportFailure(const AudioExportResult& result) {
  switch (result.status) {
    case AudioExportStatus::Done:
    case AudioExportStatus::Cancelled:
      return QString();
    case AudioExportStatus::MidiRefused:
      return QString("演奏データを読めません: %1").arg(result.reason);
    case AudioExportStatus::SoundFontRefused:
      return QString("SoundFont を読み込めません: %1").arg(result.reason);
    case AudioExportStatus::TooLong:
      return "曲が長すぎて WAV ファイルに入りません (FLAC なら書き出せます)";
    case AudioExportStatus::EncoderFailed:
      return QString("音声データを書き込めません: %1").arg(result.reason);
    case AudioExportStatus::WriteFailed:
      return describeWriteFailure(result.write);
  }
  return result.reason;
}

AudioExportResult exportAudio(const AudioExportRequest& request,
                              const AudioExportProgress& progress) {
  MidiTempoMap map;
  std::string why;
  if (!map.parse(request.midi.data(), request.midi.size(), &why)) {
    return failed(AudioExportStatus::MidiRefused, QString::fromStdString(why));
  }
  const int64_t songMs = map.lengthMs();
  const int64_t songFrames = framesOfMs(songMs);
  if (request.format == AudioFileFormat::Wav && songFrames + TAIL_FRAMES_MAX > WAV_FRAMES_MAX) {
    return failed(AudioExportStatus::TooLong);
  }
  Renderer renderer;
  if (AudioExportResult started = renderer.start(request); !started.ok()) return started;

  WholeFileWriter writer(request.target);
  if (const WriteOutcome opened = writer.open(); !opened.ok()) return writeFailed(opened);
  Encoder encoder(writer);
  if (AudioExportResult opened = encoder.open(request.format); !opened.ok()) return opened;

  std::vector<short> samples;
  int64_t frames = 0;
  const auto goOn = [&] { return !progress || progress(msOfFrames(frames), songMs); };
  while (frames < songFrames) {
    renderer.render(int(std::min<int64_t>(SONG_BLOCK_FRAMES, songFrames - frames)), samples);
    if (AudioExportResult written = encoder.write(samples); !written.ok()) return written;
    frames += int64_t(samples.size() / AUDIO_CHANNELS);
    if (!goOn()) return failed(AudioExportStatus::Cancelled);
  }
  for (int64_t tail = 0; tail < TAIL_FRAMES_MAX;) {
    renderer.render(int(std::min<int64_t>(TAIL_BLOCK_FRAMES, TAIL_FRAMES_MAX - tail)), samples);
    if (silent(samples)) break;
    if (AudioExportResult written = encoder.write(samples); !written.ok()) return written;
    const int64_t block = int64_t(samples.size() / AUDIO_CHANNELS);
    tail += block;
    frames += block;
    if (!goOn()) return failed(AudioExportStatus::Cancelled);
  }
  if (AudioExportResult closed = encoder.close(); !closed.ok()) return closed;
  if (const WriteOutcome committed = writer.commit(); !committed.ok()) {
    return writeFailed(committed);
  }
  AudioExportResult done;
  done.frames = frames;
  return done;
}

AudioExportJob::AudioExportJob(AudioExportRequest request, QObject* parent)
    : QObject(parent), request_(std::move(request)) {}

AudioExportJob::~AudioExportJob() {
  cancel();
  if (thread_.joinable()) thread_.join();
}

void AudioExportJob::start() {
  if (thread_.joinable()) return;
  thread_ = std::thread([this] {
    result_ = exportAudio(request_, [this](int64_t renderedMs, int64_t songMs) {
      renderedMs_.store(renderedMs);
      songMs_.store(songMs);
      return !cancelled_.load();
    });
    // Dropped when the job is gone by then.
    QMetaObject::invokeMethod(this, &AudioExportJob::finished, Qt::QueuedConnection);
  });
}

void AudioExportJob::cancel() {
  cancelled_.store(true);
}

const AudioExportResult& AudioExportJob::wait() {
  if (thread_.joinable()) thread_.join();
  return result_;
}
