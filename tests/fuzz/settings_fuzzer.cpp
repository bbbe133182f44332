// libFuzzer target: any bytes, any length, as the editor's settings file and as its additional
// settings file. The settings reader either accepts the file (correct magic; a font size of 0, 1
// or 2) or refuses it and leaves the settings as they were, saying it is of another version
// exactly when the magic is wrong. The additional settings reader finishes in bounded time
// (run with -timeout: a file that makes it loop or wait is a finding) with bounded values: at
// most RECENT_FILES_MAX absolute recent files, no text over ADDITIONAL_SETTING_TEXT_MAX, the
// gain in its range, and no notice for a regular file.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "editor/settings/additional_settings.h"
#include "editor/settings/settings_file.h"

namespace {

const QTemporaryDir& folder() {
  static QTemporaryDir dir;
  return dir;
}

QString pathOf(const char* name) {
  return QDir(folder().path()).filePath(name);
}

void writeWhole(const QString& path, const uint8_t* data, size_t size) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
  if (file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) !=
      static_cast<qint64>(size)) {
    std::abort();
  }
}

bool bounded(const QString& text) {
  return text.size() <= ADDITIONAL_SETTING_TEXT_MAX;
}

void checkAdditionalSettings(const uint8_t* data, size_t size) {
  const QString path = pathOf("tarvik32.conf");
  writeWhole(path, data, size);
  AdditionalSettings settings(path);
  const QStringList& recent = settings.recentFiles();
  if (recent.size() > RECENT_FILES_MAX) std::abort();
  for (const QString& entry : recent) {
    if (entry.isEmpty() || QDir::isRelativePath(entry) || !bounded(entry)) std::abort();
  }
  const SoundSettings& sound = settings.sound();
  if (!bounded(sound.soundFont) || !bounded(sound.audioOutput)) std::abort();
  if (!sound.soundFont.isEmpty() && QDir::isRelativePath(sound.soundFont)) std::abort();
  if (!(sound.gain >= SoundSettings::GAIN_MIN && sound.gain <= SoundSettings::GAIN_MAX)) {
    std::abort();
  }
  if (settings.takeNotice()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  checkAdditionalSettings(data, size);
  const QString settingsPath = pathOf("tarvik32.cfg");
  writeWhole(settingsPath, data, size);
  StartupSettings settings;
  settings.FontSizeIndex = 7;  // a value no file can give: shows whether the reader wrote
  bool q7Default = true;
  const SettingsLoad result = loadSettings(settingsPath, settings, q7Default);
  const bool magic = size >= 9 && std::memcmp(data, "TARVIK000", 9) == 0;
  if (result != (magic ? SettingsLoad::Loaded : SettingsLoad::WrongVersion)) std::abort();
  if (result == SettingsLoad::Loaded) {
    if (settings.FontSizeIndex < 0 || settings.FontSizeIndex > 2) std::abort();
    const uint8_t a = size > 16 ? data[16] : 0;
    if (q7Default != ((a & 0x80) != 0)) std::abort();
  } else if (settings.FontSizeIndex != 7 || !q7Default) {
    std::abort();
  }
  return 0;
}
