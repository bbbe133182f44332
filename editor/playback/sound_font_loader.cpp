#include "editor/playback/sound_font_loader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QMetaObject>
#include <mutex>
#include <thread>
#include <utility>

#include "editor/playback/fluid_log.h"

namespace {

// What a path that is no regular file names, in the reason's words.
QString kindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return "名前付きパイプ";
  if (S_ISDIR(mode)) return "フォルダ";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "デバイス";
  if (S_ISSOCK(mode)) return "ソケット";
  return "特殊なファイル";
}

QString notRegular(mode_t mode) {
  return QString("通常のファイルではありません (%1)").arg(kindOf(mode));
}

// The file opened for reading, checked to be a regular file; fd is -1 when it was refused
// (problem says why) or cannot be opened (problem empty). The type is looked at before the open,
// so a device is never opened, and again on the descriptor, which nothing can swap.
struct CheckedFile {
  int fd = -1;
  QString problem;
};

CheckedFile openRegular(const QString& path) {
  const QByteArray name = QFile::encodeName(path);
  struct stat info {};
  if (::stat(name.constData(), &info) == 0 && !S_ISREG(info.st_mode)) {
    return {-1, notRegular(info.st_mode)};
  }
  const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return {-1, notRegular(info.st_mode)};
  }
  return {fd, QString()};
}

}  // namespace

SynthEngine::~SynthEngine() {
  if (synth) delete_fluid_synth(synth);
  if (settings) delete_fluid_settings(settings);
}

QString soundFontFileProblem(const QString& path) {
  const CheckedFile file = openRegular(path);
  if (file.fd >= 0) ::close(file.fd);
  return file.problem;
}

QString loadSoundFontInto(fluid_synth_t* synth, const QString& path) {
  const CheckedFile file = openRegular(path);
  if (!file.problem.isEmpty()) return file.problem;
  // FluidSynth opens the file by name: through the descriptor's own name it reaches the very
  // file checked above. A path that cannot be opened goes as it is, for FluidSynth's reason.
  QByteArray name = QFile::encodeName(path);
  if (file.fd >= 0) {
    const QByteArray own = "/proc/self/fd/" + QByteArray::number(file.fd);
    if (::access(own.constData(), R_OK) == 0) name = own;
  }
  installFluidLogging();
  forgetFluidError();
  // The first line FluidSynth logs says why; the last only that loading failed.
  const QString problem = fluid_synth_sfload(synth, name.constData(), 1) == FLUID_FAILED
                              ? takeFirstFluidError("cannot be loaded")
                              : QString();
  if (file.fd >= 0) ::close(file.fd);
  return problem;
}

SoundFontLoad loadSoundFont(const QString& path, double sampleRate) {
  SoundFontLoad load;
  auto engine = std::make_unique<SynthEngine>();
  engine->settings = new_fluid_settings();
  if (engine->settings) {
    fluid_settings_setnum(engine->settings, "synth.sample-rate", sampleRate);
    fluid_settings_setint(engine->settings, "synth.lock-memory", 0);
    engine->synth = new_fluid_synth(engine->settings);
  }
  if (!engine->synth) {
    load.error = "FluidSynth cannot start";
    return load;
  }
  load.error = loadSoundFontInto(engine->synth, path);
  if (load.error.isEmpty()) load.engine = std::move(engine);
  return load;
}

// Shared by the loader and its threads: a thread delivers through it only while the loader
// exists, and the loader's destructor waits for a delivery in progress.
struct SoundFontLoader::Delivery {
  std::mutex mutex;
  SoundFontLoader* loader = nullptr;
};

SoundFontLoader::SoundFontLoader(SoundFontLoadFunction load, QObject* parent)
    : QObject(parent), load_(std::move(load)), delivery_(std::make_shared<Delivery>()) {
  delivery_->loader = this;
}

SoundFontLoader::~SoundFontLoader() {
  std::lock_guard lock(delivery_->mutex);
  delivery_->loader = nullptr;
}

void SoundFontLoader::load(const QString& path, double sampleRate,
                           std::function<void(SoundFontLoad)> done) {
  std::thread([load = load_, delivery = delivery_, path, sampleRate, done = std::move(done)] {
    auto result = std::make_shared<SoundFontLoad>(load(path, sampleRate));
    std::lock_guard lock(delivery->mutex);
    if (!delivery->loader) return;
    // Posted events of a receiver that is destroyed meanwhile are dropped with it.
    QMetaObject::invokeMethod(
        delivery->loader, [done, result] { done(std::move(*result)); }, Qt::QueuedConnection);
  }).detach();
}
