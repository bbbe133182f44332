// Scripted editor services for scenario tests: each message box, file dialog and modal dialog
// takes the next scripted answer and is recorded with everything it showed, so a test can check
// the exact text, caption, buttons and icon of every box in order. An unscripted box answers
// with its first button (Ok or Yes); an unscripted file dialog is cancelled.
#pragma once

#include <QDialog>
#include <QObject>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "editor/editor_services.h"

struct RecordedBox {
  QString text;
  BoxCaption caption;
  BoxButtons buttons;
  BoxIcon icon;
};

struct RecordedFileDialog {
  bool save;
  FileDialogRequest request;
};

// A media player that plays nothing: tests set its length and position, and reachEnd() stands
// for the song reaching its end. It keeps the notify contract as the real player does: each play
// request that ends, whether at the end or cut short by seek(), close(), open() or another
// play(), is reported once, queued to the thread the player lives on, never from inside a call.
// play() without an open file fails, and play() at or past the length ends at once. The sound
// settings it is given are kept in `sounds`, the channel mixes in `mixes`; a scripted fallback is
// reported by the next play().
class ScriptedMediaPlayer : public MediaPlayer {
 public:
  void close() override;
  bool open(const QString& path, QString* error) override;
  int64_t lengthMs() const override { return isOpen ? length : 0; }
  int64_t positionMs() const override { return position; }
  void seek(int64_t positionMs) override;
  bool play(QString* error) override;
  void setSound(const SoundSettings& sound) override { sounds.push_back(sound); }
  void setChannelMix(const ChannelMix& mix) override { mixes.push_back(mix); }
  bool soundReady() const override { return soundLoaded; }
  bool silent() const override { return silentOutput; }
  // Recorded as "prepare"; answered at once when the sound is loaded, else by finishSoundLoad().
  void prepareSound(std::function<void(const QString& error)> done) override;
  // The SoundFont load under way ends: every waiting request hears it through the event loop.
  void finishSoundLoad(const QString& error = QString());

  // The running request reaches the end of the song. It is finished and reported when the
  // event loop runs, with the position at the length, unless something ends it before.
  void reachEnd();

  // Every call in order: "close", "open <path>", "seek <ms>", "play", "prepare".
  QStringList calls;
  bool isOpen = false;
  bool playing = false;  // a play request is running
  QString openedPath;
  int64_t length = 0;    // reported for the open file
  int64_t position = 0;  // reported position
  bool opens = true;     // knobs for the failure paths
  bool plays = true;
  std::optional<OutputFallback> fallback;  // reported to onOutputFallback by the next play()
  std::vector<SoundSettings> sounds;       // every setSound(), in order
  std::vector<ChannelMix> mixes;           // every setChannelMix(), in order
  bool soundLoaded = true;                 // false: play() must wait for prepareSound()
  bool silentOutput = false;               // playing without an audio device
  std::vector<std::function<void(const QString&)>> preparing;  // requests waiting for the load

 private:
  void interrupt();
  void finishAtEnd(uint64_t request);
  void postNotify();

  uint64_t request_ = 0;  // counts play requests, so that an end overtaken by another is dropped
  QObject context_;       // queued calls go through it, to the thread the player lives on
};

// The sound settings in one line, so that a failing comparison shows every field.
QString describeSound(const SoundSettings& sound);

// A box in one line ("text | caption | buttons | icon"), so a failing comparison shows all of it.
QString describeBox(const RecordedBox& box);

// A settings file image of 512 bytes with the right magic and the two flag bytes.
QByteArray settingsImage(uint8_t flagsA, uint8_t flagsB);

class ScriptedServices : public EditorServices {
 public:
  BoxAnswer messageBox(QWidget* parent, const QString& text, const BoxCaption& caption,
                       BoxButtons buttons, BoxIcon icon) override;
  QString openFileName(QWidget* parent, const FileDialogRequest& request) override;
  QString saveFileName(QWidget* parent, const FileDialogRequest& request) override;
  int execDialog(QDialog& dialog) override;
  MediaPlayer& mediaPlayer() override { return player; }
  bool openDocument(const QString& path) override;

  // Scripted answers, taken front first.
  std::deque<BoxAnswer> boxAnswers;
  std::deque<QString> fileNames;  // an empty text cancels the dialog
  // Each modal dialog runs the next script: it may set the dialog's controls and returns the
  // dialog's result. Without a script the dialog is rejected.
  std::deque<std::function<int(QDialog&)>> dialogScripts;
  bool documentOpens = true;

  std::vector<RecordedBox> boxes;
  QStringList boxesShown() const;  // every box so far, described
  std::vector<RecordedFileDialog> fileDialogs;
  QStringList documentsOpened;
  int dialogsShown = 0;

  ScriptedMediaPlayer player;
};
