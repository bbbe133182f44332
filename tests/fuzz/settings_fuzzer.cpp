// libFuzzer target: any bytes, any length, as the editor's settings file. The reader either
// accepts the file (correct magic; a font size of 0, 1 or 2) or refuses it and leaves the
// settings as they were, showing the version box exactly when the magic is wrong.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "editor/editor_services.h"
#include "editor/settings/settings_file.h"

namespace {

class CountingServices : public EditorServices {
 public:
  BoxAnswer messageBox(QWidget*, const QString&, const BoxCaption&, BoxButtons,
                       BoxIcon) override {
    ++boxes;
    return BoxAnswer::Ok;
  }
  QString openFileName(QWidget*, const FileDialogRequest&) override { return {}; }
  QString saveFileName(QWidget*, const FileDialogRequest&) override { return {}; }
  int execDialog(QDialog&) override { return 0; }
  MediaPlayer& mediaPlayer() override { std::abort(); }
  bool openDocument(const QString&) override { return false; }
  int boxes = 0;
};

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
  CountingServices services;
  const int result = loadSettings(settingsPath(), settings, q7Default, services, nullptr);
  const bool magic = size >= 9 && std::memcmp(data, "TARVIK000", 9) == 0;
  if ((result == 0) != magic) std::abort();
  if (services.boxes != (magic ? 0 : 1)) std::abort();
  if (result == 0) {
    if (settings.FontSizeIndex < 0 || settings.FontSizeIndex > 2) std::abort();
    const uint8_t a = size > 16 ? data[16] : 0;
    if (q7Default != ((a & 0x80) != 0)) std::abort();
  } else if (settings.FontSizeIndex != 7 || !q7Default) {
    std::abort();
  }
  return 0;
}
