// The additional settings file over QSettings in INI format. QSettings writes an INI file whole:
// on Linux it writes a temporary file in the same folder (QSaveFile), syncs it and renames it
// over the old file, under a ".lock" file beside it, and it creates a missing folder. Traced
// with strace on Qt 6.4: open(O_TMPFILE), write, fdatasync, rename onto the target. So a kill
// at any moment leaves the old file or the new one, never a part of either.
#include "editor/settings/additional_settings.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <algorithm>
#include <cstdlib>
#include <iterator>

namespace {

const char RECENT_FILES_ARRAY[] = "RecentFiles";
const char RECENT_FILE_KEY[] = "path";
const char SOUND_GROUP[] = "Sound";
const char SOUND_FONT_KEY[] = "Sound/SoundFont";
const char AUDIO_OUTPUT_KEY[] = "Sound/AudioOutput";
const char REVERB_KEY[] = "Sound/Reverb";
const char CHORUS_KEY[] = "Sound/Chorus";
const char GAIN_KEY[] = "Sound/Gain";
const char PLAYBACK_GROUP[] = "Playback";
const char FOLLOW_SCORE_KEY[] = "Playback/FollowScore";
const char KEEP_PLACE_KEY[] = "Playback/KeepPlace";
const char CHECK_AS_YOU_TYPE_KEY[] = "Check/AsYouType";
const char MIDI_IMPORT_GROUP[] = "MidiImport";
const char MIDI_IMPORT_GRID_KEY[] = "MidiImport/Grid";  // "16", "8t"; absent: none
const char MIDI_IMPORT_STEADY_KEY[] = "MidiImport/SteadyVelocity";
const char ROLL_GROUP[] = "PianoRoll";
const char ROLL_SHOWN_KEY[] = "PianoRoll/Shown";
const char ROLL_PLACE_KEY[] = "PianoRoll/Place";
const char ROLL_GEOMETRY_KEY[] = "PianoRoll/Geometry";
const char ROLL_TICKS_PER_PIXEL_KEY[] = "PianoRoll/TicksPerPixel";
const char ROLL_ROW_HEIGHT_KEY[] = "PianoRoll/RowHeight";
const char ROLL_GRID_KEY[] = "PianoRoll/Grid";
const char ROLL_MUTED_KEY[] = "PianoRoll/Muted";
const char ROLL_SOLOED_KEY[] = "PianoRoll/Soloed";
// The panel's places as the file names them; order matches RollSettings::Place.
const char* const ROLL_PLACES[] = {"bottom", "left", "right", "top", "floating"};

// The message pane's lines for a file at the file's name that is neither read nor written.
const char NOT_A_FILE_NOTICE[] =
    " [注意] 追加設定ファイル %1 は通常のファイルではないため, 読み込みも保存もしません";
const char TOO_LARGE_NOTICE[] =
    " [注意] 追加設定ファイル %1 は %2 バイトを超えるため, 読み込みも保存もしません";

QString comparable(const QString& path) {
  const QFileInfo info(path);
  const QString canonical = info.canonicalFilePath();
  return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

// A text of the file, or an empty one when it is longer than any path or name the editor keeps.
QString readText(const QSettings& settings, const char* key) {
  QString text = settings.value(key).toString();
  return text.size() <= ADDITIONAL_SETTING_TEXT_MAX ? text : QString();
}

// QSettings writes a bool as "true" or "false"; anything else is not one.
bool readBool(const QSettings& settings, const char* key, bool fallback) {
  const QString text = settings.value(key).toString();
  if (text == QLatin1String("true")) return true;
  if (text == QLatin1String("false")) return false;
  return fallback;
}

// "x,y,width,height" within RollSettings::EXTENT_MAX, the size at least 1 by 1; anything else
// reads as no geometry.
QRect readGeometry(const QSettings& settings) {
  // Written quoted; a hand-written value without quotes reads as a list.
  QStringList parts = settings.value(ROLL_GEOMETRY_KEY).toStringList();
  if (parts.size() == 1) parts = parts.front().split(',');
  if (parts.size() != 4) return QRect();
  int values[4];
  for (int i = 0; i < 4; ++i) {
    bool numeric = false;
    values[i] = parts[i].trimmed().toInt(&numeric);
    if (!numeric || std::abs(values[i]) > RollSettings::EXTENT_MAX) return QRect();
  }
  if (values[2] < 1 || values[3] < 1) return QRect();
  return QRect(values[0], values[1], values[2], values[3]);
}

// Channel numbers 1..9 as "2,5" (quoted or not); an empty text is none, anything else reads as
// none too.
uint16_t readChannels(const QSettings& settings, const char* key) {
  const QString text = settings.value(key).toStringList().join(',');
  if (text.isEmpty() || text.size() > ADDITIONAL_SETTING_TEXT_MAX) return 0;
  uint16_t channels = 0;
  for (const QString& item : text.split(',')) {
    bool numeric = false;
    const int channel = item.trimmed().toInt(&numeric);
    if (!numeric || channel < 1 || channel > ChannelMix::CHANNELS) return 0;
    channels |= ChannelMix::bit(channel);
  }
  return channels;
}

QString channelList(uint16_t channels) {
  QStringList numbers;
  for (int channel = 1; channel <= ChannelMix::CHANNELS; ++channel) {
    if (channels & ChannelMix::bit(channel)) numbers << QString::number(channel);
  }
  return numbers.join(',');
}

MidiImportChoice readMidiImport(const QSettings& settings) {
  MidiImportChoice choice;
  QString grid = settings.value(MIDI_IMPORT_GRID_KEY).toString();
  const bool triplets = grid.endsWith('t');
  if (triplets) grid.chop(1);
  for (const int value : MidiImportChoice::GRID_VALUES) {
    if (grid == QString::number(value)) {
      choice.grid = value;
      choice.triplets = triplets;
    }
  }
  choice.steadyVelocity = readBool(settings, MIDI_IMPORT_STEADY_KEY, false);
  return choice;
}

RollSettings readRoll(const QSettings& settings) {
  RollSettings roll;
  roll.shown = readBool(settings, ROLL_SHOWN_KEY, roll.shown);
  const QString place = settings.value(ROLL_PLACE_KEY).toString();
  for (int i = 0; i < int(std::size(ROLL_PLACES)); ++i) {
    if (place == QLatin1String(ROLL_PLACES[i])) roll.place = RollSettings::Place(i);
  }
  roll.geometry = readGeometry(settings);
  bool numeric = false;
  const double ticks = settings.value(ROLL_TICKS_PER_PIXEL_KEY).toDouble(&numeric);
  if (numeric && ticks >= RollSettings::TICKS_PER_PIXEL_MIN &&
      ticks <= RollSettings::TICKS_PER_PIXEL_MAX)
    roll.ticksPerPixel = ticks;
  const int row = settings.value(ROLL_ROW_HEIGHT_KEY).toInt(&numeric);
  if (numeric && row >= RollSettings::ROW_HEIGHT_MIN && row <= RollSettings::ROW_HEIGHT_MAX)
    roll.rowHeight = row;
  const int grid = settings.value(ROLL_GRID_KEY).toInt(&numeric);
  if (numeric && grid >= 0 && grid < RollSettings::GRID_COUNT) roll.grid = grid;
  roll.mix.muted = readChannels(settings, ROLL_MUTED_KEY);
  roll.mix.soloed = readChannels(settings, ROLL_SOLOED_KEY);
  return roll;
}

}  // namespace

QString additionalSettingsFilePath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         "/tarvik32/tarvik32.conf";
}

bool sameFile(const QString& a, const QString& b) {
  return comparable(a) == comparable(b);
}

AdditionalSettings::AdditionalSettings(QString path) : path_(std::move(path)) {
  read();
}

std::optional<QString> AdditionalSettings::takeNotice() {
  if (!noticeDue_ || noticeGiven_) return std::nullopt;
  noticeGiven_ = true;
  return noticeDue_;
}

// QSettings opens the file by its name, blocking on a named pipe and reading a device without
// end, and reads the whole file before it writes one back, so the name is checked first (stat
// does not open it).
bool AdditionalSettings::usableOrAbsent() {
  struct stat info {};
  if (::stat(QFile::encodeName(path_).constData(), &info) != 0) return true;
  const QString name = QDir::toNativeSeparators(path_);
  if (!S_ISREG(info.st_mode)) {
    noticeDue_ = QString(NOT_A_FILE_NOTICE).arg(name);
  } else if (info.st_size > ADDITIONAL_SETTINGS_MAX_BYTES) {
    noticeDue_ = QString(TOO_LARGE_NOTICE).arg(name).arg(ADDITIONAL_SETTINGS_MAX_BYTES);
  } else {
    return true;
  }
  return false;
}

// Only the first RECENT_FILES_MAX entries are looked at, whatever size the file claims; those
// that are empty, relative, too long or repeated are skipped: a file edited by hand or damaged
// still gives a usable menu.
void AdditionalSettings::read() {
  if (path_.isEmpty() || !usableOrAbsent() || !QFileInfo(path_).isFile()) return;
  QSettings settings(path_, QSettings::IniFormat);
  if (settings.status() != QSettings::NoError) return;
  const int size = std::min(settings.beginReadArray(RECENT_FILES_ARRAY), RECENT_FILES_MAX);
  for (int i = 0; i < size; ++i) {
    settings.setArrayIndex(i);
    const QString path = readText(settings, RECENT_FILE_KEY);
    if (path.isEmpty() || QDir::isRelativePath(path)) continue;
    const bool known = std::any_of(recentFiles_.cbegin(), recentFiles_.cend(),
                                   [&path](const QString& entry) { return sameFile(entry, path); });
    if (!known) recentFiles_.append(path);
  }
  settings.endArray();

  const SoundSettings defaults;
  const QString soundFont = readText(settings, SOUND_FONT_KEY);
  if (!QDir::isRelativePath(soundFont)) sound_.soundFont = soundFont;
  sound_.audioOutput = readText(settings, AUDIO_OUTPUT_KEY);
  sound_.reverb = readBool(settings, REVERB_KEY, defaults.reverb);
  sound_.chorus = readBool(settings, CHORUS_KEY, defaults.chorus);
  const PlaybackOptions playbackDefaults;
  playback_.followScore = readBool(settings, FOLLOW_SCORE_KEY, playbackDefaults.followScore);
  playback_.keepPlace = readBool(settings, KEEP_PLACE_KEY, playbackDefaults.keepPlace);
  const QString check = settings.value(CHECK_AS_YOU_TYPE_KEY).toString();
  if (check == QLatin1String("true") || check == QLatin1String("false"))
    checkAsYouType_ = check == QLatin1String("true");
  roll_ = readRoll(settings);
  midiImport_ = readMidiImport(settings);
  bool numeric = false;
  const double gain = settings.value(GAIN_KEY, SoundSettings::GAIN_DEFAULT).toDouble(&numeric);
  if (numeric && gain >= SoundSettings::GAIN_MIN && gain <= SoundSettings::GAIN_MAX)
    sound_.gain = gain;
}

bool AdditionalSettings::write() {
  if (path_.isEmpty()) return true;
  if (!usableOrAbsent()) return false;
  QSettings settings(path_, QSettings::IniFormat);
  settings.remove(RECENT_FILES_ARRAY);
  settings.beginWriteArray(RECENT_FILES_ARRAY, int(recentFiles_.size()));
  for (int i = 0; i < recentFiles_.size(); ++i) {
    settings.setArrayIndex(i);
    settings.setValue(RECENT_FILE_KEY, recentFiles_.at(i));
  }
  settings.endArray();
  // The sound is written only when chosen: a file of recent files alone stays as it was.
  if (sound_ == SoundSettings()) {
    settings.remove(SOUND_GROUP);
  } else {
    settings.setValue(SOUND_FONT_KEY, sound_.soundFont);
    settings.setValue(AUDIO_OUTPUT_KEY, sound_.audioOutput);
    settings.setValue(REVERB_KEY, sound_.reverb);
    settings.setValue(CHORUS_KEY, sound_.chorus);
    settings.setValue(GAIN_KEY, sound_.gain);
  }
  if (playback_ == PlaybackOptions()) {
    settings.remove(PLAYBACK_GROUP);
  } else {
    settings.setValue(FOLLOW_SCORE_KEY, playback_.followScore);
    settings.setValue(KEEP_PLACE_KEY, playback_.keepPlace);
  }
  if (checkAsYouType_) {
    settings.setValue(CHECK_AS_YOU_TYPE_KEY, *checkAsYouType_);
  } else {
    settings.remove(CHECK_AS_YOU_TYPE_KEY);
  }
  if (roll_ == RollSettings()) {
    settings.remove(ROLL_GROUP);
  } else {
    settings.setValue(ROLL_SHOWN_KEY, roll_.shown);
    settings.setValue(ROLL_PLACE_KEY, ROLL_PLACES[int(roll_.place)]);
    const QRect& g = roll_.geometry;
    settings.setValue(
        ROLL_GEOMETRY_KEY,
        g.isEmpty() ? QString()
                    : QString("%1,%2,%3,%4").arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height()));
    settings.setValue(ROLL_TICKS_PER_PIXEL_KEY, roll_.ticksPerPixel);
    settings.setValue(ROLL_ROW_HEIGHT_KEY, roll_.rowHeight);
    settings.setValue(ROLL_GRID_KEY, roll_.grid);
    settings.setValue(ROLL_MUTED_KEY, channelList(roll_.mix.muted));
    settings.setValue(ROLL_SOLOED_KEY, channelList(roll_.mix.soloed));
  }
  if (midiImport_ == MidiImportChoice()) {
    settings.remove(MIDI_IMPORT_GROUP);
  } else {
    settings.setValue(MIDI_IMPORT_GRID_KEY,
                      midiImport_.grid == 0
                          ? QString()
                          : QString::number(midiImport_.grid) + (midiImport_.triplets ? "t" : ""));
    settings.setValue(MIDI_IMPORT_STEADY_KEY, midiImport_.steadyVelocity);
  }
  settings.sync();
  return settings.status() == QSettings::NoError;
}

bool AdditionalSettings::addRecentFile(const QString& path) {
  const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
  recentFiles_.removeIf([&absolute](const QString& entry) { return sameFile(entry, absolute); });
  recentFiles_.prepend(absolute);
  while (recentFiles_.size() > RECENT_FILES_MAX) recentFiles_.removeLast();
  return write();
}

bool AdditionalSettings::removeRecentFile(const QString& path) {
  if (recentFiles_.removeIf([&path](const QString& entry) { return sameFile(entry, path); }) == 0)
    return true;
  return write();
}

bool AdditionalSettings::setSound(const SoundSettings& sound) {
  if (sound == sound_) return true;
  sound_ = sound;
  return write();
}

bool AdditionalSettings::setRoll(const RollSettings& roll) {
  if (roll == roll_) return true;
  roll_ = roll;
  return write();
}

bool AdditionalSettings::setMidiImport(const MidiImportChoice& choice) {
  if (choice == midiImport_) return true;
  midiImport_ = choice;
  return write();
}

bool AdditionalSettings::setPlayback(const PlaybackOptions& playback) {
  if (playback == playback_) return true;
  playback_ = playback;
  return write();
}

bool AdditionalSettings::setCheckAsYouType(bool on) {
  if (checkAsYouType_ == on) return true;
  checkAsYouType_ = on;
  return write();
}
