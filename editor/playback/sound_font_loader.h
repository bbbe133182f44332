// Loading a SoundFont into a synthesizer of its own. The SoundFont is named by a setting or by the
// user and may be a named pipe or a device, whose opening or reading would wait for good: such a
// path is refused with its reason before FluidSynth opens it. A load takes as long as the file
// is large, so SoundFontLoader runs it on a thread of its own and hands the synthesizer back to
// the user-interface thread.
#pragma once

#include <fluidsynth.h>

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

// FluidSynth's settings and a synthesizer made with them; both are deleted with it.
struct SynthEngine {
  SynthEngine() = default;
  ~SynthEngine();
  SynthEngine(const SynthEngine&) = delete;
  SynthEngine& operator=(const SynthEngine&) = delete;

  fluid_settings_t* settings = nullptr;
  fluid_synth_t* synth = nullptr;
};

// A load's result: the synthesizer with the SoundFont, or why there is none.
struct SoundFontLoad {
  std::unique_ptr<SynthEngine> engine;
  QString error;  // FluidSynth's first words on the failure, or ours for a refused path
};

// Why `path` cannot be a SoundFont without even reading it: "通常のファイルではありません (名前付き
// パイプ)" for a named pipe, a device, a folder or a socket; empty for a regular file, and for a
// path that cannot be opened at all (FluidSynth's load says why). Opens without blocking and
// reads nothing.
QString soundFontFileProblem(const QString& path);

// Loads the SoundFont at `path` into `synth`; on any thread. Empty when loaded, otherwise why not.
// The file is checked as by soundFontFileProblem() on the descriptor that FluidSynth then reads,
// so a path that changes in between cannot slip a named pipe in.
QString loadSoundFontInto(fluid_synth_t* synth, const QString& path);
// The same into a new synthesizer for `sampleRate`.
SoundFontLoad loadSoundFont(const QString& path, double sampleRate);

using SoundFontLoadFunction = std::function<SoundFontLoad(const QString& path, double sampleRate)>;

// Runs loads on threads of their own. Each result is delivered to its `done` on the thread the
// loader lives on, through its event loop, unless the loader is destroyed first: then the result
// is dropped where the load ends. The destructor does not wait for a load under way.
class SoundFontLoader : public QObject {
  Q_OBJECT
 public:
  explicit SoundFontLoader(SoundFontLoadFunction load = loadSoundFont, QObject* parent = nullptr);
  ~SoundFontLoader() override;

  void load(const QString& path, double sampleRate, std::function<void(SoundFontLoad)> done);

 private:
  struct Delivery;
  const SoundFontLoadFunction load_;
  std::shared_ptr<Delivery> delivery_;
};
