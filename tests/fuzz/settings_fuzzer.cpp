// libFuzzer target: any bytes, any length, as the editor's settings file. The reader either
// accepts the file (correct magic; a font size of 0, 1 or 2) or refuses it and leaves the
// settings as they were, saying it is of another version exactly when the magic is wrong.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "editor/settings/settings_file.h"

namespace {

const QString& settingsPath() {
  static QTemporaryDir dir;
  static const QString path = QDir(dir.path()).filePath("tarvik32.cfg");
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    QFile file(settingsPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
    if (file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) !=
        static_cast<qint64>(size)) {
      std::abort();
    }
  }
  StartupSettings settings;
  settings.FontSizeIndex = 7;  // a value no file can give: shows whether the reader wrote
  bool q7Default = true;
  const SettingsLoad result = loadSettings(settingsPath(), settings, q7Default);
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
