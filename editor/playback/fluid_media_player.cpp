#include "editor/playback/fluid_media_player.h"

#include <QFile>
#include <QMetaObject>
#include <QStringList>
#include <QThread>
#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "editor/playback/fluid_log.h"

namespace {

constexpr qint64 FILE_BYTES_MAX = 64 << 20;  // far above the largest file the compiler writes
constexpr double SAMPLE_RATE = 44100;

bool fail(QString* error, const QString& text) {
  if (error) *error = text;
  return false;
}

}  // namespace

QString FluidMediaPlayer::defaultSoundFont() {
  return QStringLiteral("/usr/share/sounds/sf2/default-GM.sf2");
}

namespace {

constexpr double CHECK_SAMPLE_RATE = 44100;

}  // namespace

SoundChoices fluidSoundChoices() {
  // The loader lives as long as any copy of the choices; an answer due after that is dropped.
  auto loader = std::make_shared<SoundFontLoader>();
  return {selectableAudioOutputs(), FluidMediaPlayer::defaultSoundFont(), soundFontFileProblem,
          [loader](const QString& path, SoundChoices::CheckDone done) {
            loader->load(path, CHECK_SAMPLE_RATE, [done = std::move(done)](SoundFontLoad loaded) {
              done(loaded.engine ? QString() : loaded.error);
            });
          }};
}

FluidMediaPlayer::FluidMediaPlayer(AudioOutputFactories outputs, QString soundFont,
                                   AudioOutputByName byName, SoundFontLoadFunction load,
                                   QObject* parent)
    : QObject(parent),
      outputs_(std::move(outputs)),
      defaultSoundFont_(std::move(soundFont)),
      byName_(std::move(byName)),
      load_(std::move(load)),
      loader_(new SoundFontLoader(load_, this)) {
  installFluidLogging();
}

FluidMediaPlayer::~FluidMediaPlayer() {
  checkThread("~FluidMediaPlayer");
  audio_.reset();  // the output has stopped rendering when this returns
  if (filePlayer_) {
    fluid_player_stop(filePlayer_);
    delete_fluid_player(filePlayer_);
  }
  if (synth_) delete_fluid_synth(synth_);
  if (settings_) delete_fluid_settings(settings_);
}

// A cheap guard on every public call: the player's state outside mutex_ belongs to its thread.
void FluidMediaPlayer::checkThread(const char* call) const {
  if (QThread::currentThread() == thread()) return;
  if (warnedOffThread_.exchange(true)) return;
  qWarning("FluidMediaPlayer::%s called outside the thread the player lives on", call);
}

void FluidMediaPlayer::close() {
  checkThread("close");
  interrupt();
  stoppedPositionMs_ = 0;
  fileOpen_ = false;
  file_.clear();
  map_ = MidiTempoMap();
}

bool FluidMediaPlayer::open(const QString& path, QString* error) {
  checkThread("open");
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
  file_.assign(bytes.begin(), bytes.end());
  map_ = std::move(map);
  fileOpen_ = true;
  return true;
}

int64_t FluidMediaPlayer::lengthMs() const {
  checkThread("lengthMs");
  return fileOpen_ ? map_.lengthMs() : 0;
}

int64_t FluidMediaPlayer::positionMs() const {
  checkThread("positionMs");
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
  checkThread("seek");
  interrupt();
  stoppedPositionMs_ = std::clamp<int64_t>(positionMs, 0, lengthMs());
}

bool FluidMediaPlayer::play(QString* error) {
  checkThread("play");
  if (!fileOpen_) return fail(error, "No MIDI file is open.");
  takeNewSound();
  if (!startEngine(error) || !openOutput(error) || !startRequest(error)) return false;
  audio_->wake();
  return true;
}

void FluidMediaPlayer::setSound(const SoundSettings& sound) {
  checkThread("setSound");
  sound_ = sound;
  if (standIn_) retryChosen_ = true;
}

// The notes of a channel silenced now stop while no block renders.
void FluidMediaPlayer::setChannelMix(const ChannelMix& mix) {
  checkThread("setChannelMix");
  const uint16_t silenced = gate_.setMix(mix);
  std::lock_guard lock(mutex_);
  ChannelGate::stopChannels(synth_, silenced);
}

QString FluidMediaPlayer::soundFontPath(const SoundSettings& sound) const {
  return sound.soundFont.isEmpty() ? defaultSoundFont_ : sound.soundFont;
}

// Before a play: closes what the sound settings no longer describe, for startEngine() and
// openOutput() to make anew, and sets the effects that changed.
void FluidMediaPlayer::takeNewSound() {
  if (synth_ && soundFontPath(sound_) != soundFontPath(built_)) {
    closeEngine();
  } else if (audio_ && (sound_.audioOutput != built_.audioOutput || (standIn_ && retryChosen_))) {
    closeOutput();
  }
  retryChosen_ = false;
  if (synth_ && (sound_.reverb != built_.reverb || sound_.chorus != built_.chorus ||
                 sound_.gain != built_.gain)) {
    pauseSynth();
    applyEffects();
    resumeSynth();
  }
}

// The running request is cut short (and reported) first: its file player renders through the
// output that goes.
void FluidMediaPlayer::closeOutput() {
  interrupt();
  audio_.reset();
  namedOutput_.reset();
  outputName_.clear();
  standIn_ = false;
}

void FluidMediaPlayer::closeEngine() {
  closeOutput();
  if (synth_) delete_fluid_synth(synth_);
  if (settings_) delete_fluid_settings(settings_);
  synth_ = nullptr;
  settings_ = nullptr;
}

// Only while no output renders the synthesizer or it is paused.
void FluidMediaPlayer::applyEffects() {
  fluid_synth_reverb_on(synth_, -1, sound_.reverb ? 1 : 0);
  fluid_synth_chorus_on(synth_, -1, sound_.chorus ? 1 : 0);
  fluid_synth_set_gain(synth_, float(sound_.gain));
  built_.reverb = sound_.reverb;
  built_.chorus = sound_.chorus;
  built_.gain = sound_.gain;
}

bool FluidMediaPlayer::silent() const {
  checkThread("silent");
  return audio_ && audio_->silent();
}

QString FluidMediaPlayer::outputName() const {
  checkThread("outputName");
  return outputName_;
}

const MidiTempoMap& FluidMediaPlayer::tempoMap() const {
  checkThread("tempoMap");
  return map_;
}

// The synthesizer with the SoundFont, kept for every later file until the SoundFont changes.
// Loaded here only when prepareSound() did not load it before. No output exists yet, so nothing
// renders while the SoundFont loads.
bool FluidMediaPlayer::startEngine(QString* error) {
  if (synth_) return true;
  const QString path = soundFontPath(sound_);
  SoundFontLoad loaded = load_(path, SAMPLE_RATE);
  if (!loaded.engine) {
    return fail(error, QString("Cannot load the SoundFont %1: %2").arg(path, loaded.error));
  }
  takeEngine(std::move(loaded.engine), sound_.soundFont);
  return true;
}

// A loaded synthesizer replaces the one in use, whose output goes with it.
void FluidMediaPlayer::takeEngine(std::unique_ptr<SynthEngine> engine, const QString& soundFont) {
  closeEngine();
  settings_ = std::exchange(engine->settings, nullptr);
  synth_ = std::exchange(engine->synth, nullptr);
  built_.soundFont = soundFont;
  applyEffects();
}

bool FluidMediaPlayer::soundReady() const {
  checkThread("soundReady");
  return synth_ && soundFontPath(sound_) == soundFontPath(built_);
}

// A path that is no regular file is refused before any thread starts; the load's result is
// taken only if no other load has begun since.
void FluidMediaPlayer::prepareSound(std::function<void(const QString& error)> done) {
  checkThread("prepareSound");
  prepared_.push_back(std::move(done));
  const QString path = soundFontPath(sound_);
  if (soundReady()) {
    loadingPath_.clear();
    ++loads_;
    QMetaObject::invokeMethod(
        this, [this] { answerPrepared(QString()); }, Qt::QueuedConnection);
    return;
  }
  if (path == loadingPath_) return;
  loadingPath_ = path;
  const uint64_t load = ++loads_;
  const QString problem = soundFontFileProblem(path);
  if (!problem.isEmpty()) {
    SoundFontLoad refused;
    refused.error = problem;
    auto result = std::make_shared<SoundFontLoad>(std::move(refused));
    QMetaObject::invokeMethod(
        this,
        [this, load, soundFont = sound_.soundFont, result] {
          soundLoaded(load, soundFont, std::move(*result));
        },
        Qt::QueuedConnection);
    return;
  }
  loader_->load(path, SAMPLE_RATE,
                [this, load, soundFont = sound_.soundFont](SoundFontLoad loaded) {
                  soundLoaded(load, soundFont, std::move(loaded));
                });
}

void FluidMediaPlayer::soundLoaded(uint64_t load, const QString& soundFont, SoundFontLoad loaded) {
  if (load != loads_) return;  // overtaken: the synthesizer goes with `loaded`
  loadingPath_.clear();
  if (!loaded.engine) {
    answerPrepared(QString("Cannot load the SoundFont %1: %2")
                       .arg(soundFontPath({.soundFont = soundFont}), loaded.error));
    return;
  }
  takeEngine(std::move(loaded.engine), soundFont);
  answerPrepared(QString());
}

// Every request waiting gets the answer; one made from inside an answer waits for the next.
void FluidMediaPlayer::answerPrepared(const QString& error) {
  for (const std::function<void(const QString&)>& done : std::exchange(prepared_, {})) {
    if (done) done(error);
  }
}

// The chosen output if it opens, else the first of the list that opens, which then says so
// through onOutputFallback. An output may start rendering before create() returns.
bool FluidMediaPlayer::openOutput(QString* error) {
  if (audio_) return true;
  const AudioOutputTarget target{*this, settings_, SAMPLE_RATE};
  const QString& chosen = sound_.audioOutput;
  QStringList failures;
  std::optional<OutputFallback> fallback;
  if (!chosen.isEmpty()) {
    AudioOutputFactory* factory = chosenOutput();
    OpenedOutput opened =
        factory ? factory->create(target) : OpenedOutput{nullptr, QStringLiteral("no such output")};
    if (opened.output) {
      audio_ = std::move(opened.output);
      outputName_ = chosen;
      built_.audioOutput = chosen;
      return true;
    }
    failures << QString("%1: %2").arg(chosen, opened.failure);
    fallback = OutputFallback{chosen, opened.failure, QString()};
  }
  for (const std::unique_ptr<AudioOutputFactory>& factory : outputs_) {
    if (!chosen.isEmpty() && factory->name() == chosen) continue;  // failed just now
    OpenedOutput opened = factory->create(target);
    if (opened.output) {
      audio_ = std::move(opened.output);
      outputName_ = factory->name();
      built_.audioOutput = chosen;
      standIn_ = fallback.has_value();
      if (fallback && onOutputFallback) {
        fallback->used = outputName_;
        onOutputFallback(*fallback);
      }
      return true;
    }
    failures << QString("%1: %2").arg(factory->name(), opened.failure);
  }
  const QString reasons = failures.isEmpty() ? QString() : " (" + failures.join("; ") + ")";
  return fail(error, "No audio output can be opened" + reasons + ".");
}

// The factory of the chosen output: the list's of that name, or one made by name.
AudioOutputFactory* FluidMediaPlayer::chosenOutput() {
  for (const std::unique_ptr<AudioOutputFactory>& factory : outputs_) {
    if (factory->name() == sound_.audioOutput) return factory.get();
  }
  namedOutput_ = byName_ ? byName_(sound_.audioOutput) : nullptr;
  return namedOutput_.get();
}

// A fresh file player from the current position; at the end already, the request ends at once.
bool FluidMediaPlayer::startRequest(QString* error) {
  interrupt();
  const int64_t endTick = map_.endTick();
  const int64_t startTick =
      stoppedPositionMs_ >= map_.lengthMs() ? endTick : map_.msToTick(stoppedPositionMs_);
  fluid_player_t* player = nullptr;
  if (startTick < endTick) {
    pauseSynth();
    player = newFilePlayer(startTick, error);
    if (!player) {
      resumeSynth();
      return false;
    }
    if (startTick > 0) applySetup(map_.setupBefore(startTick));
  }
  std::lock_guard lock(mutex_);
  filePlayer_ = player;
  endTick_ = endTick;
  playing_ = true;
  ++request_;
  endReported_ = false;
  synthPaused_ = false;
  if (startTick >= endTick) reportEndLocked();
  return true;
}

// A play that starts in the middle of the song starts with the programs, controllers and pitch
// bends the song has set by then, so that an instrument chosen before that point is heard.
// FluidSynth's own seek sends them again as it skips to the start; the result is the same. Only
// while the synthesizer is paused.
void FluidMediaPlayer::applySetup(const MidiChannelSetup& setup) {
  for (int channel = 0; channel < MidiChannelSetup::CHANNELS; ++channel) {
    const MidiChannelSetup::Channel& state = setup.channels[channel];
    for (int controller = 0; controller < MidiChannelSetup::CONTROLLERS; ++controller) {
      if (state.controllers[controller] >= 0)
        fluid_synth_cc(synth_, channel, controller, state.controllers[controller]);
    }
    if (state.program >= 0) fluid_synth_program_change(synth_, channel, state.program);
    if (state.pitchBend >= 0) fluid_synth_pitch_bend(synth_, channel, state.pitchBend);
  }
}

int FluidMediaPlayer::channelProgram(int channel) const {
  checkThread("channelProgram");
  if (!synth_) return -1;
  int font = 0, bank = 0, program = 0;
  if (fluid_synth_get_program(synth_, channel, &font, &bank, &program) != FLUID_OK) return -1;
  return program;
}

// A file player on a copy of the open file, started at `startTick`; FluidSynth parses the copy
// in the first block it plays. Only while the synthesizer is paused.
fluid_player_t* FluidMediaPlayer::newFilePlayer(int64_t startTick, QString* error) {
  forgetFluidError();
  fluid_player_t* player = new_fluid_player(synth_);
  if (player) gate_.attach(player, synth_);
  const bool started = player &&
                       fluid_player_add_mem(player, file_.data(), file_.size()) == FLUID_OK &&
                       (startTick == 0 || fluid_player_seek(player, int(startTick)) == FLUID_OK) &&
                       fluid_player_play(player) == FLUID_OK;
  if (started) return player;
  fail(error, "FluidSynth cannot play the file: " + takeFluidError("player failed"));
  deleteFilePlayer(player);
  return nullptr;
}

// Deletes a file player that no longer runs a request and cuts its sound. Only while the
// synthesizer is paused.
void FluidMediaPlayer::deleteFilePlayer(fluid_player_t* player) {
  if (!player) return;
  fluid_player_stop(player);
  delete_fluid_player(player);
  fluid_synth_all_notes_off(synth_, -1);
  fluid_synth_all_sounds_off(synth_, -1);
}

// Deletes the file player stopRequestLocked() took out, then lets the synthesizer render again.
void FluidMediaPlayer::retireFilePlayer(fluid_player_t* player) {
  if (!player) return;
  deleteFilePlayer(player);
  resumeSynth();
}

// Waits for the block in progress, if any; render() then leaves the synthesizer alone.
void FluidMediaPlayer::pauseSynth() {
  std::lock_guard lock(mutex_);
  synthPaused_ = true;
}

void FluidMediaPlayer::resumeSynth() {
  std::lock_guard lock(mutex_);
  synthPaused_ = false;
}

bool FluidMediaPlayer::render(int frames, float* left, float* right, int step) {
  std::lock_guard lock(mutex_);
  if (synthPaused_) {
    for (int i = 0; i < frames; ++i) left[i * step] = right[i * step] = 0.0f;
    return playing_;
  }
  fluid_synth_write_float(synth_, frames, left, 0, step, right, 0, step);
  // The request ends when the song does, not when the file player stops seconds later.
  if (playing_ && !endReported_ && filePlayer_ &&
      (fluid_player_get_current_tick(filePlayer_) >= endTick_ ||
       fluid_player_get_status(filePlayer_) != FLUID_PLAYER_PLAYING)) {
    reportEndLocked();
  }
  return playing_;
}

// The running request has reached the end: endRequest() finishes it on the user-interface thread.
void FluidMediaPlayer::reportEndLocked() {
  endReported_ = true;
  const uint64_t request = request_;
  QMetaObject::invokeMethod(
      this, [this, request] { endRequest(request); }, Qt::QueuedConnection);
}

// The running request stops where it is: no request runs, and the file player leaves
// filePlayer_ for the caller to delete, with the synthesizer paused until it has.
fluid_player_t* FluidMediaPlayer::stopRequestLocked() {
  stoppedPositionMs_ = positionLocked();
  playing_ = false;
  fluid_player_t* player = std::exchange(filePlayer_, nullptr);
  if (player) synthPaused_ = true;
  return player;
}

// On the user-interface thread, after the end was reported: unless the request was already
// interrupted, it stops where it is (the end of the song) and is reported.
void FluidMediaPlayer::endRequest(uint64_t request) {
  fluid_player_t* player;
  {
    std::lock_guard lock(mutex_);
    if (!playing_ || request != request_) return;
    player = stopRequestLocked();
  }
  retireFilePlayer(player);
  if (onNotify) onNotify();
}

// Seek, close, open or a new play cut the running request short: it keeps its position and is
// reported like one that ended.
void FluidMediaPlayer::interrupt() {
  fluid_player_t* player;
  {
    std::lock_guard lock(mutex_);
    if (!playing_) return;
    player = stopRequestLocked();
  }
  retireFilePlayer(player);
  postNotify();
}

void FluidMediaPlayer::postNotify() {
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (onNotify) onNotify();
      },
      Qt::QueuedConnection);
}
