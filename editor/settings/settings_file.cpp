#include "editor/settings/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "editor/document/whole_file_writer.h"

namespace {

constexpr qsizetype SETTINGS_FILE_BYTES = 512;
// The image starts with the magic, then CR LF and an end-of-file mark, then zeros up to the
// two flag bytes; everything after them is zero.
constexpr char SETTINGS_HEADER[] = "TARVIK000\r\n\x1a";
constexpr qsizetype SETTINGS_MAGIC_BYTES = 9;
constexpr qsizetype FLAG_A_OFFSET = 16;
constexpr qsizetype FLAG_B_OFFSET = 17;

// Flag byte A.
constexpr uint8_t FLAG_AUTO_SAVE = 0x01;
constexpr uint8_t FLAG_PLAY_LOOP = 0x02;
constexpr uint8_t FLAG_LINE_NUMBERS = 0x04;
constexpr uint8_t FLAG_MAXIMIZED = 0x08;
constexpr uint8_t FLAG_FONT_SMALL = 0x10;
constexpr uint8_t FLAG_FONT_MEDIUM = 0x20;
constexpr uint8_t FLAG_FONT_LARGE = 0x40;
constexpr uint8_t FLAG_FONT_MASK = 0x70;
constexpr uint8_t FLAG_Q7_DEFAULT = 0x80;
// Flag byte B.
constexpr uint8_t FLAG_AUTO_PAN = 0x01;

constexpr int32_t FONT_SMALL = 0;
constexpr int32_t FONT_MEDIUM = 1;
constexpr int32_t FONT_LARGE = 2;

const char* const CONFIG_FILE_NAME = "tarvik32.cfg";
QByteArray settingsImage(const StartupSettings& settings, bool q7Default) {
  QByteArray image(SETTINGS_HEADER);
  image.append(SETTINGS_FILE_BYTES - image.size(), '\0');

  uint8_t a = 0;
  if (settings.AutoSaveAtStart) a |= FLAG_AUTO_SAVE;
  if (settings.PlayLoopAtStart) a |= FLAG_PLAY_LOOP;
  if (settings.LineNumbersAtStart) a |= FLAG_LINE_NUMBERS;
  if (settings.MaximizedAtStart) a |= FLAG_MAXIMIZED;
  switch (settings.FontSizeIndex) {
    case FONT_MEDIUM:
      a |= FLAG_FONT_MEDIUM;
      break;
    case FONT_LARGE:
      a |= FLAG_FONT_LARGE;
      break;
    default:
      a |= FLAG_FONT_SMALL;
      break;
  }
  if (q7Default) a |= FLAG_Q7_DEFAULT;
  image[FLAG_A_OFFSET] = static_cast<char>(a);
  image[FLAG_B_OFFSET] = static_cast<char>(settings.AutoPanAtStart ? FLAG_AUTO_PAN : 0);
  return image;
}

int32_t fontSizeIndexFromFlags(uint8_t a) {
  switch (a & FLAG_FONT_MASK) {
    case FLAG_FONT_MEDIUM:
      return FONT_MEDIUM;
    case FLAG_FONT_LARGE:
      return FONT_LARGE;
    default:
      return FONT_SMALL;  // small, and any pattern that is not exactly one size
  }
}

}  // namespace

// The folders an installed program runs from. The superuser can write there, but settings
// belong in the user's configuration folder all the same.
static bool isInstalledProgramFolder(const QFileInfo& folder) {
  const QString path = folder.canonicalFilePath();
  for (const char* bin : {TARV_INSTALL_BINDIR, "/usr/bin", "/usr/local/bin", "/bin"}) {
    if (path == QFileInfo(QString::fromUtf8(bin)).canonicalFilePath()) return true;
  }
  return false;
}

QString settingsFilePath(const QString& programPath) {
  const QFileInfo program(programPath);
  const QFileInfo folder(program.absolutePath());
  if (folder.isDir() && folder.isWritable() && !isInstalledProgramFolder(folder))
    return program.absoluteDir().filePath(program.completeBaseName() + ".cfg");
  return QDir(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation))
      .filePath(CONFIG_FILE_NAME);
}

SettingsLoad loadSettings(const QString& path, StartupSettings& settings, bool& q7Default) {
  // Only a regular file is read: a named pipe or a device at the name would block the start.
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return SettingsLoad::Unreadable;
  struct stat info {};
  QFile file;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
      !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    return SettingsLoad::Unreadable;
  }
  QByteArray image = file.read(SETTINGS_FILE_BYTES);
  if (file.error() != QFileDevice::NoError) return SettingsLoad::Unreadable;
  file.close();
  if (image.size() < SETTINGS_FILE_BYTES) image.append(SETTINGS_FILE_BYTES - image.size(), '\0');

  if (!image.startsWith(QByteArrayView(SETTINGS_HEADER, SETTINGS_MAGIC_BYTES))) {
    return SettingsLoad::WrongVersion;
  }

  const auto a = static_cast<uint8_t>(image[FLAG_A_OFFSET]);
  const auto b = static_cast<uint8_t>(image[FLAG_B_OFFSET]);
  settings.AutoSaveAtStart = a & FLAG_AUTO_SAVE;
  settings.PlayLoopAtStart = a & FLAG_PLAY_LOOP;
  settings.LineNumbersAtStart = a & FLAG_LINE_NUMBERS;
  settings.MaximizedAtStart = a & FLAG_MAXIMIZED;
  settings.FontSizeIndex = fontSizeIndexFromFlags(a);
  settings.AutoPanAtStart = b & FLAG_AUTO_PAN;
  q7Default = a & FLAG_Q7_DEFAULT;
  return SettingsLoad::Loaded;
}

bool saveSettings(const QString& path, const StartupSettings& settings, bool q7Default) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  return writeFileWhole(path, settingsImage(settings, q7Default)).ok();
}
