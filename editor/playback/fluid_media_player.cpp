#include "editor/playback/fluid_media_player.h"

#include <QFile>
#include <QMetaObject>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <string>
#include <thread>

#ifdef TARV_HAVE_SDL2
#include <SDL.h>
#endif
#ifdef TARV_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

// An open audio output. It renders through FluidMediaPlayer::render() until it is destroyed.
class FluidAudioOutput {
 public:
  virtual ~FluidAudioOutput() = default;
  virtual void wake() {}  // a play request has started
};

namespace {

constexpr qint64 FILE_BYTES_MAX = 64 << 20;  // far above the largest file the compiler writes
constexpr double SAMPLE_RATE = 44100;
constexpr int SILENT_BLOCK_FRAMES = 512;  // about 12 ms
constexpr int OFFLINE_BLOCK_FRAMES = 512;
constexpr int SDL_BLOCK_FRAMES = 1024;  // SDL wants a power of two
constexpr int CHANNELS = 2;
// A silent output that fell further behind than this (a suspended machine) does not catch up.
constexpr auto SILENT_MAX_LAG = std::chrono::milliseconds(200);

// FluidSynth logs through one process-wide function. Its expected failures (no sound server,
// no sound card) must not reach the console; the last error text is kept for our messages.
std::mutex& fluidErrorMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string& fluidErrorText() {
  static std::string text;
  return text;
}

void keepFluidError(int, const char* message, void*) {
  std::lock_guard lock(fluidErrorMutex());
  fluidErrorText() = message ? message : "";
}

void installFluidLogging() {
  static std::once_flag once;
  std::call_once(once, [] {
    fluid_set_log_function(FLUID_PANIC, keepFluidError, nullptr);
    fluid_set_log_function(FLUID_ERR, keepFluidError, nullptr);
    fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
    fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
    fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
  });
}

void forgetFluidError() {
  std::lock_guard lock(fluidErrorMutex());
  fluidErrorText().clear();
}

// The last error FluidSynth logged since forgetFluidError(), or `fallback`.
QString takeFluidError(const char* fallback) {
  std::lock_guard lock(fluidErrorMutex());
  QString text = fluidErrorText().empty() ? QString(fallback)
                                          : QString::fromLocal8Bit(fluidErrorText().c_str());
  fluidErrorText().clear();
  return text;
}

bool fail(QString* error, const QString& text) {
  if (error) *error = text;
  return false;
}

// A FluidSynth driver in callback mode: its thread asks us for every block.
class FluidDriverOutput : public FluidAudioOutput {
 public:
  explicit FluidDriverOutput(fluid_audio_driver_t* driver) : driver_(driver) {}
  ~FluidDriverOutput() override { delete_fluid_audio_driver(driver_); }

  static int renderBlock(void* data, int frames, int fxCount, float* fx[], int outCount,
                         float* out[]) {
    for (int i = 0; i < fxCount; ++i) {
      if (fx[i]) std::fill(fx[i], fx[i] + frames, 0.0f);
    }
    if (outCount < CHANNELS) return FLUID_FAILED;
    static_cast<FluidMediaPlayer*>(data)->render(frames, out[0], out[1], 1);
    return FLUID_OK;
  }

 private:
  fluid_audio_driver_t* driver_;
};

std::unique_ptr<FluidAudioOutput> openFluidDriver(fluid_settings_t* settings, const char* name,
                                                  FluidMediaPlayer& player, QString& why) {
  fluid_settings_setstr(settings, "audio.driver", name);
  forgetFluidError();
  fluid_audio_driver_t* driver =
      new_fluid_audio_driver2(settings, FluidDriverOutput::renderBlock, &player);
  if (driver) return std::make_unique<FluidDriverOutput>(driver);
  why = takeFluidError("cannot be opened");
  return nullptr;
}

#ifdef TARV_HAVE_SDL2
// SDL2's audio device in callback mode, found by SDL itself.
class SdlOutput : public FluidAudioOutput {
 public:
  explicit SdlOutput(SDL_AudioDeviceID device) : device_(device) {}
  ~SdlOutput() override {
    SDL_CloseAudioDevice(device_);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }

  static void renderBlock(void* data, Uint8* stream, int bytes) {
    float* samples = reinterpret_cast<float*>(stream);
    const int frames = bytes / int(CHANNELS * sizeof(float));
    static_cast<FluidMediaPlayer*>(data)->render(frames, samples, samples + 1, CHANNELS);
  }

 private:
  SDL_AudioDeviceID device_;
};

std::unique_ptr<FluidAudioOutput> openSdl(FluidMediaPlayer& player, QString& why) {
  // SDL would otherwise turn the editor's SIGINT and SIGTERM into events nobody reads.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    why = QString::fromUtf8(SDL_GetError());
    return nullptr;
  }
  SDL_AudioSpec wanted{};
  wanted.freq = int(SAMPLE_RATE);
  wanted.format = AUDIO_F32SYS;
  wanted.channels = CHANNELS;
  wanted.samples = SDL_BLOCK_FRAMES;
  wanted.callback = SdlOutput::renderBlock;
  wanted.userdata = &player;
  const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &wanted, nullptr, 0);
  if (device == 0) {
    why = QString::fromUtf8(SDL_GetError());
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return nullptr;
  }
  SDL_PauseAudioDevice(device, 0);
  return std::make_unique<SdlOutput>(device);
}
#endif

// No device: a thread of ours renders block after block at the pace of a sound card and throws
// the sound away. It sleeps while no play request runs.
class SilentOutput : public FluidAudioOutput {
 public:
  explicit SilentOutput(FluidMediaPlayer& player) : player_(player), thread_([this] { run(); }) {}
  ~SilentOutput() override {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wakeUp_.notify_one();
    thread_.join();
  }

  void wake() override {
    {
      std::lock_guard lock(mutex_);
      ++wakes_;
    }
    wakeUp_.notify_one();
  }

 private:
  using Clock = std::chrono::steady_clock;

  void run() {
    std::vector<float> block(CHANNELS * SILENT_BLOCK_FRAMES);
    const auto blockTime = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(SILENT_BLOCK_FRAMES / SAMPLE_RATE));
    std::unique_lock lock(mutex_);
    auto due = Clock::now();
    while (!stop_) {
      const uint64_t wakes = wakes_;
      lock.unlock();
      const bool busy =
          player_.render(SILENT_BLOCK_FRAMES, block.data(), block.data() + 1, CHANNELS);
      lock.lock();
      if (busy) {
        due = std::max(due + blockTime, Clock::now() - SILENT_MAX_LAG);
        wakeUp_.wait_until(lock, due, [this] { return stop_; });
      } else {  // a wake() after `wakes` was read means a request has started since
        wakeUp_.wait(lock, [&] { return stop_ || wakes_ != wakes; });
        due = Clock::now();
      }
    }
  }

  FluidMediaPlayer& player_;
  std::mutex mutex_;
  std::condition_variable wakeUp_;
  bool stop_ = false;
  uint64_t wakes_ = 0;
  std::thread thread_;  // last: starts once the members above exist
};

// No device and no thread: renderOffline() drives the synthesizer.
class OfflineOutput : public FluidAudioOutput {};

const char* outputName(FluidMediaPlayer::Output output) {
  switch (output) {
    case FluidMediaPlayer::Output::PulseAudio:
      return "pulseaudio";
    case FluidMediaPlayer::Output::Alsa:
      return "alsa";
    case FluidMediaPlayer::Output::Sdl2:
      return "sdl2";
    case FluidMediaPlayer::Output::Silent:
      return "silent";
    case FluidMediaPlayer::Output::Offline:
      return "offline";
  }
  return "?";
}

}  // namespace

std::vector<FluidMediaPlayer::Output> FluidMediaPlayer::defaultOutputs() {
  return {Output::PulseAudio, Output::Alsa, Output::Sdl2, Output::Silent};
}

QString FluidMediaPlayer::defaultSoundFont() {
  return QStringLiteral("/usr/share/sounds/sf2/default-GM.sf2");
}

FluidMediaPlayer::FluidMediaPlayer(std::vector<Output> outputs, QString soundFont, QObject* parent)
    : QObject(parent), outputs_(std::move(outputs)), soundFont_(std::move(soundFont)) {
  installFluidLogging();
}

FluidMediaPlayer::~FluidMediaPlayer() {
  audio_.reset();  // joins the output's thread: nothing renders any more
  {
    std::lock_guard lock(mutex_);
    stopFilePlayerLocked();
  }
  if (synth_) delete_fluid_synth(synth_);
  if (settings_) delete_fluid_settings(settings_);
}

void FluidMediaPlayer::close() {
  std::lock_guard lock(mutex_);
  if (playing_) interruptLocked();
  stoppedPositionMs_ = 0;
  fileOpen_ = false;
  file_.clear();
  map_ = MidiTempoMap();
}

bool FluidMediaPlayer::open(const QString& path, QString* error) {
  close();
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    return fail(error, QString("Cannot open %1: %2").arg(path, file.errorString()));
  }
  const QByteArray bytes = file.read(FILE_BYTES_MAX + 1);
  if (file.error() != QFileDevice::NoError) {
    return fail(error, QString("Cannot read %1: %2").arg(path, file.errorString()));
  }
  if (bytes.size() > FILE_BYTES_MAX) return fail(error, QString("%1 is too large").arg(path));
  MidiTempoMap map;
  std::string why;
  if (!map.parse(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()), &why)) {
    return fail(error, QString("%1 cannot be played: %2").arg(path, QString::fromStdString(why)));
  }
  std::lock_guard lock(mutex_);
  file_.assign(bytes.begin(), bytes.end());
  map_ = std::move(map);
  fileOpen_ = true;
  return true;
}

int64_t FluidMediaPlayer::lengthMs() const {
  return fileOpen_ ? map_.lengthMs() : 0;
}

int64_t FluidMediaPlayer::positionMs() const {
  std::lock_guard lock(mutex_);
  return positionLocked();
}

// While a request runs: the file player's tick through the tempo map, never before where the
// request started and never past the end (the file player runs on while the last notes fade).
int64_t FluidMediaPlayer::positionLocked() const {
  if (!playing_ || !filePlayer_) return stoppedPositionMs_;
  const int64_t tick = std::min<int64_t>(fluid_player_get_current_tick(filePlayer_), endTick_);
  return std::max(stoppedPositionMs_, map_.tickToMs(tick));
}

void FluidMediaPlayer::seek(int64_t positionMs) {
  std::lock_guard lock(mutex_);
  if (playing_) interruptLocked();
  stoppedPositionMs_ = std::clamp<int64_t>(positionMs, 0, lengthMs());
}

bool FluidMediaPlayer::play(QString* error) {
  if (!fileOpen_) return fail(error, "No MIDI file is open.");
  if (!startEngine(error) || !openOutput(error) || !startRequest(error)) return false;
  audio_->wake();
  return true;
}

bool FluidMediaPlayer::silent() const {
  return audio_ && (outputKind_ == Output::Silent || outputKind_ == Output::Offline);
}

// The synthesizer with the SoundFont, made once and kept for every later file.
bool FluidMediaPlayer::startEngine(QString* error) {
  if (synth_) return true;
  forgetFluidError();
  settings_ = new_fluid_settings();
  if (settings_) {
    fluid_settings_setnum(settings_, "synth.sample-rate", SAMPLE_RATE);
    fluid_settings_setint(settings_, "synth.lock-memory", 0);
  }
  fluid_synth_t* synth = settings_ ? new_fluid_synth(settings_) : nullptr;
  const QByteArray soundFont = QFile::encodeName(soundFont_);
  if (synth && fluid_synth_sfload(synth, soundFont.constData(), 1) != FLUID_FAILED) {
    synth_ = synth;  // no output exists yet, so no other thread reads it
    return true;
  }
  const QString why = takeFluidError("FluidSynth cannot start");
  if (synth) delete_fluid_synth(synth);
  if (settings_) delete_fluid_settings(settings_);
  settings_ = nullptr;
  return fail(error, QString("Cannot load the SoundFont %1: %2").arg(soundFont_, why));
}

#ifdef TARV_HAVE_ALSA
// ALSA reports a missing sound card on standard error by itself; the player says why it could
// not play in its own words, so the library's lines are dropped.
static void quietAlsa(const char*, int, const char*, int, const char*, ...) {}
#endif

// The first output of the list that opens; it stays open for later files.
bool FluidMediaPlayer::openOutput(QString* error) {
  if (audio_) return true;
#ifdef TARV_HAVE_ALSA
  snd_lib_error_set_handler(quietAlsa);
#endif
  QStringList failures;
  for (const Output output : outputs_) {
    QString why = "not built in";
    switch (output) {
      case Output::PulseAudio:
      case Output::Alsa:
        audio_ = openFluidDriver(settings_, outputName(output), *this, why);
        break;
      case Output::Sdl2:
#ifdef TARV_HAVE_SDL2
        audio_ = openSdl(*this, why);
#endif
        break;
      case Output::Silent:
        audio_ = std::make_unique<SilentOutput>(*this);
        break;
      case Output::Offline:
        audio_ = std::make_unique<OfflineOutput>();
        break;
    }
    if (audio_) {
      outputKind_ = output;
      return true;
    }
    failures << QString("%1: %2").arg(outputName(output), why);
  }
  const QString reasons = failures.isEmpty() ? QString() : " (" + failures.join("; ") + ")";
  return fail(error, "No audio output can be opened" + reasons + ".");
}

// A fresh file player from the current position; at the end already, the request ends at once.
bool FluidMediaPlayer::startRequest(QString* error) {
  std::lock_guard lock(mutex_);
  if (playing_) interruptLocked();
  endTick_ = map_.endTick();
  const int64_t startTick =
      stoppedPositionMs_ >= map_.lengthMs() ? endTick_ : map_.msToTick(stoppedPositionMs_);
  if (startTick < endTick_) {
    forgetFluidError();
    filePlayer_ = new_fluid_player(synth_);
    const bool started =
        filePlayer_ && fluid_player_add_mem(filePlayer_, file_.data(), file_.size()) == FLUID_OK &&
        (startTick == 0 || fluid_player_seek(filePlayer_, int(startTick)) == FLUID_OK) &&
        fluid_player_play(filePlayer_) == FLUID_OK;
    if (!started) {
      stopFilePlayerLocked();
      return fail(error, "FluidSynth cannot play the file: " + takeFluidError("player failed"));
    }
  }
  playing_ = true;
  ++request_;
  endReported_ = false;
  if (startTick >= endTick_) reportEndLocked();
  return true;
}

bool FluidMediaPlayer::render(int frames, float* left, float* right, int step) {
  std::lock_guard lock(mutex_);
  fluid_synth_write_float(synth_, frames, left, 0, step, right, 0, step);
  // The request ends when the song does, not when the file player stops seconds later.
  if (playing_ && !endReported_ && filePlayer_ &&
      (fluid_player_get_current_tick(filePlayer_) >= endTick_ ||
       fluid_player_get_status(filePlayer_) != FLUID_PLAYER_PLAYING)) {
    reportEndLocked();
  }
  return playing_;
}

void FluidMediaPlayer::renderOffline(int frames) {
  if (!audio_ || outputKind_ != Output::Offline) return;
  std::vector<float> block(CHANNELS * OFFLINE_BLOCK_FRAMES);
  for (int done = 0; done < frames; done += OFFLINE_BLOCK_FRAMES) {
    const int count = std::min(OFFLINE_BLOCK_FRAMES, frames - done);
    render(count, block.data(), block.data() + 1, CHANNELS);
  }
}

// The running request has reached the end: endRequest() finishes it on the user-interface thread.
void FluidMediaPlayer::reportEndLocked() {
  endReported_ = true;
  const uint64_t request = request_;
  QMetaObject::invokeMethod(
      this, [this, request] { endRequest(request); }, Qt::QueuedConnection);
}

// On the user-interface thread, after the end was reported: unless the request was already
// interrupted, it stops where it is (the end of the song) and is reported.
void FluidMediaPlayer::endRequest(uint64_t request) {
  {
    std::lock_guard lock(mutex_);
    if (!playing_ || request != request_) return;
    stoppedPositionMs_ = positionLocked();
    stopFilePlayerLocked();
    playing_ = false;
  }
  if (onNotify) onNotify();
}

// Seek, close or a new play cut the running request short: it keeps its position and is
// reported like one that ended.
void FluidMediaPlayer::interruptLocked() {
  stoppedPositionMs_ = positionLocked();
  stopFilePlayerLocked();
  playing_ = false;
  postNotify();
}

// Only while nothing renders (under mutex_, or after the output is gone): FluidSynth must not
// delete a file player during a block.
void FluidMediaPlayer::stopFilePlayerLocked() {
  if (!filePlayer_) return;
  fluid_player_stop(filePlayer_);
  delete_fluid_player(filePlayer_);
  filePlayer_ = nullptr;
  fluid_synth_all_notes_off(synth_, -1);
  fluid_synth_all_sounds_off(synth_, -1);
}

void FluidMediaPlayer::postNotify() {
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (onNotify) onNotify();
      },
      Qt::QueuedConnection);
}
