#include "editor/playback/audio_outputs.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "editor/playback/fluid_log.h"

#ifdef TARV_HAVE_SDL2
#include <SDL.h>
#endif
#ifdef TARV_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

namespace {

constexpr int CHANNELS = 2;
// The drivers a user may choose, in the order they are offered.
constexpr const char* SELECTABLE_OUTPUTS[] = {"pulseaudio", "alsa", "jack", "sdl2"};
constexpr int SILENT_BLOCK_FRAMES = 512;  // about 12 ms
constexpr int SDL_BLOCK_FRAMES = 1024;    // SDL wants a power of two
// A silent output that fell further behind than this (a suspended machine) does not catch up.
constexpr auto SILENT_MAX_LAG = std::chrono::milliseconds(200);

#ifdef TARV_HAVE_ALSA
// ALSA reports a missing sound card on standard error by itself; the player says why it could
// not play in its own words, so the library's lines are dropped.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}
#endif

// Before any device is tried: FluidSynth's drivers and SDL may both reach ALSA.
void keepAlsaQuiet() {
#ifdef TARV_HAVE_ALSA
  snd_lib_error_set_handler(quietAlsa);
#endif
}

// A FluidSynth driver in callback mode: its thread asks for every block.
class FluidDriverOutput : public AudioOutput {
 public:
  explicit FluidDriverOutput(fluid_audio_driver_t* driver) : driver_(driver) {}
  ~FluidDriverOutput() override { delete_fluid_audio_driver(driver_); }

  static int renderBlock(void* data, int frames, int fxCount, float* fx[], int outCount,
                         float* out[]) {
    for (int i = 0; i < fxCount; ++i) {
      if (fx[i]) std::fill(fx[i], fx[i] + frames, 0.0f);
    }
    if (outCount < CHANNELS) return FLUID_FAILED;
    static_cast<AudioRenderer*>(data)->render(frames, out[0], out[1], 1);
    return FLUID_OK;
  }

 private:
  fluid_audio_driver_t* driver_;
};

// One of FluidSynth's drivers, by its name in the "audio.driver" setting.
class FluidDriverFactory : public AudioOutputFactory {
 public:
  explicit FluidDriverFactory(const QString& driver) : driver_(driver.toUtf8()) {}

  QString name() const override { return QString::fromUtf8(driver_); }

  OpenedOutput create(const AudioOutputTarget& target) override {
    keepAlsaQuiet();
    fluid_settings_setstr(target.settings, "audio.driver", driver_.constData());
    // JACK's ports are otherwise left unconnected, and nothing is heard until the user connects
    // them by hand.
    fluid_settings_setint(target.settings, "audio.jack.autoconnect", 1);
    fluid_settings_setstr(target.settings, "audio.jack.id", "tarvik32");
    forgetFluidError();
    fluid_audio_driver_t* driver =
        new_fluid_audio_driver2(target.settings, FluidDriverOutput::renderBlock, &target.renderer);
    if (driver) return {std::make_unique<FluidDriverOutput>(driver), {}};
    return {nullptr, takeFluidError("cannot be opened")};
  }

 private:
  const QByteArray driver_;
};

#ifdef TARV_HAVE_SDL2
// SDL2's audio device in callback mode, found by SDL itself.
class SdlOutput : public AudioOutput {
 public:
  explicit SdlOutput(SDL_AudioDeviceID device) : device_(device) {}
  ~SdlOutput() override {
    SDL_CloseAudioDevice(device_);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
  }

  static void renderBlock(void* data, Uint8* stream, int bytes) {
    float* samples = reinterpret_cast<float*>(stream);
    const int frames = bytes / int(CHANNELS * sizeof(float));
    static_cast<AudioRenderer*>(data)->render(frames, samples, samples + 1, CHANNELS);
  }

 private:
  SDL_AudioDeviceID device_;
};

class SdlFactory : public AudioOutputFactory {
 public:
  QString name() const override { return QStringLiteral("sdl2"); }

  OpenedOutput create(const AudioOutputTarget& target) override {
    keepAlsaQuiet();
    // SDL would otherwise turn the editor's SIGINT and SIGTERM into events nobody reads.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return {nullptr, QString::fromUtf8(SDL_GetError())};
    SDL_AudioSpec wanted{};
    wanted.freq = int(target.sampleRate);
    wanted.format = AUDIO_F32SYS;
    wanted.channels = CHANNELS;
    wanted.samples = SDL_BLOCK_FRAMES;
    wanted.callback = SdlOutput::renderBlock;
    wanted.userdata = &target.renderer;
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &wanted, nullptr, 0);
    if (device == 0) {
      OpenedOutput failed{nullptr, QString::fromUtf8(SDL_GetError())};
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
      return failed;
    }
    SDL_PauseAudioDevice(device, 0);
    return {std::make_unique<SdlOutput>(device), {}};
  }
};
#endif

// No device: a thread of ours renders block after block at the pace of a sound card and throws
// the sound away. It sleeps while no play request runs.
class SilentOutput : public AudioOutput {
 public:
  SilentOutput(AudioRenderer& renderer, double sampleRate)
      : renderer_(renderer), sampleRate_(sampleRate), thread_([this] { run(); }) {}
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

  bool silent() const override { return true; }

 private:
  using Clock = std::chrono::steady_clock;

  void run() {
    std::vector<float> block(CHANNELS * SILENT_BLOCK_FRAMES);
    const auto blockTime = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(SILENT_BLOCK_FRAMES / sampleRate_));
    std::unique_lock lock(mutex_);
    auto due = Clock::now();
    while (!stop_) {
      const uint64_t wakes = wakes_;
      lock.unlock();
      const bool busy =
          renderer_.render(SILENT_BLOCK_FRAMES, block.data(), block.data() + 1, CHANNELS);
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

  AudioRenderer& renderer_;
  const double sampleRate_;
  std::mutex mutex_;
  std::condition_variable wakeUp_;
  bool stop_ = false;
  uint64_t wakes_ = 0;
  std::thread thread_;  // last: starts once the members above exist
};

class SilentFactory : public AudioOutputFactory {
 public:
  QString name() const override { return QStringLiteral("silent"); }

  OpenedOutput create(const AudioOutputTarget& target) override {
    return {std::make_unique<SilentOutput>(target.renderer, target.sampleRate), {}};
  }
};

}  // namespace

AudioOutputFactories defaultAudioOutputs() {
  AudioOutputFactories outputs;
  outputs.push_back(audioOutputNamed(QStringLiteral("pulseaudio")));
  outputs.push_back(audioOutputNamed(QStringLiteral("alsa")));
#ifdef TARV_HAVE_SDL2
  outputs.push_back(audioOutputNamed(QStringLiteral("sdl2")));
#endif
  outputs.push_back(silentAudioOutput());
  return outputs;
}

std::unique_ptr<AudioOutputFactory> audioOutputNamed(const QString& name) {
#ifdef TARV_HAVE_SDL2
  if (name == QLatin1String("sdl2")) return std::make_unique<SdlFactory>();
#endif
  return std::make_unique<FluidDriverFactory>(name);
}

QStringList selectableAudioOutputs() {
  QStringList drivers;
  fluid_settings_t* settings = new_fluid_settings();
  if (!settings) return {};
  fluid_settings_foreach_option(settings, "audio.driver", &drivers,
                                [](void* data, const char*, const char* option) {
                                  static_cast<QStringList*>(data)->append(option);
                                });
  delete_fluid_settings(settings);
  QStringList selectable;
  for (const char* name : SELECTABLE_OUTPUTS) {
    if (drivers.contains(QLatin1String(name))) selectable << name;
  }
  return selectable;
}

std::unique_ptr<AudioOutputFactory> silentAudioOutput() {
  return std::make_unique<SilentFactory>();
}
