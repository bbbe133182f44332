// The platform services the editor cannot drive inside a test: message boxes, file dialogs,
// modal dialogs, the media player and the help viewer. The program uses DesktopServices; the
// scenario tests use a scripted implementation that answers and records every call.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>

#include "editor/sound/channel_mix.h"
#include "editor/sound/sound_settings.h"

class QDialog;
class QWidget;

enum class BoxIcon { None, Stop, Error, Question };  // Stop and Error both show as critical
enum class BoxButtons { Ok, YesNo, YesNoCancel };
enum class BoxAnswer { Ok, Yes, No, Cancel };

// A box's caption: std::nullopt gives no caption at all (the platform's default title shows);
// an empty text gives a blank title bar; any other text is shown as it is.
using BoxCaption = std::optional<QString>;

// What a file dialog shows: Qt name filters ("name (*.a *.b)" entries), the suffix added to a
// name typed without one, the folder it opens in and the file name it suggests there.
struct FileDialogRequest {
  QStringList filters;
  QString defaultSuffix;
  QString folder;                 // absolute; empty: the home folder
  QString initialName;            // a name without folder; empty: none
  bool confirmOverwrite = false;  // save dialogs: ask before replacing an existing file
};

// A chosen audio output that could not be opened, and the one that plays instead.
struct OutputFallback {
  QString chosen;  // the output of the sound settings ("jack")
  QString reason;  // why it could not be opened, in the library's words
  QString used;    // the output that plays instead ("pulseaudio", or "silent": no sound)
};

// The sequencer that plays a MIDI file. Positions and lengths are in milliseconds of the file's
// own tempo map. Playing is asynchronous: play() returns at once, and onNotify runs once on the
// user-interface thread when that play request ends, whether it reached the end or was
// interrupted by seek(), close() or another play().
class MediaPlayer {
 public:
  virtual ~MediaPlayer() = default;

  virtual void close() = 0;                                    // stops and releases the file
  virtual bool open(const QString& path, QString* error) = 0;  // false: *error says why
  virtual int64_t lengthMs() const = 0;                        // 0 when nothing is open
  virtual int64_t positionMs() const = 0;
  virtual void seek(int64_t positionMs) = 0;  // playback stops until the next play()
  virtual bool play(QString* error) = 0;      // false: no sound can be made; *error says why
  // True when play() runs without an audio device (paced in real time, no sound).
  virtual bool silent() const { return false; }
  // The sound of the plays to come. The next play() makes what changed (the SoundFont, the
  // output, the effects) take effect, and tries again a chosen output that could not be opened
  // before; the plays after it keep what that one opened.
  virtual void setSound(const SoundSettings& sound) = 0;
  // The channels that sound, from the next note on: a channel silenced while playing stops its
  // notes at once, one unsilenced sounds from its next note.
  virtual void setChannelMix(const ChannelMix& mix) = 0;
  // False while the SoundFont of the sound settings still has to be loaded before play() can
  // start; play() would then load it on the calling thread.
  virtual bool soundReady() const { return true; }
  // Loads that SoundFont without making the calling thread wait. `done` runs once, on the
  // user-interface thread through its event loop, never inside the call: with an empty text once
  // play() can start without loading, or with why the SoundFont cannot be loaded. A request
  // while an earlier one loads the same SoundFont waits for that load.
  virtual void prepareSound(std::function<void(const QString& error)> done) = 0;

  std::function<void()> onNotify;
  // Runs inside the play() that could not open the chosen output and opened another.
  std::function<void(const OutputFallback&)> onOutputFallback;
};

class EditorServices {
 public:
  virtual ~EditorServices() = default;

  virtual BoxAnswer messageBox(QWidget* parent, const QString& text, const BoxCaption& caption,
                               BoxButtons buttons, BoxIcon icon) = 0;
  // The chosen file's absolute path, or an empty text when the user cancelled.
  virtual QString openFileName(QWidget* parent, const FileDialogRequest& request) = 0;
  virtual QString saveFileName(QWidget* parent, const FileDialogRequest& request) = 0;
  // Shows a modal dialog and returns its result (QDialog::Accepted, QDialog::Rejected or the
  // value given to done()).
  virtual int execDialog(QDialog& dialog) = 0;
  virtual MediaPlayer& mediaPlayer() = 0;
  // Opens a local file (the manual) in the desktop's viewer; false when nothing can show it.
  virtual bool openDocument(const QString& path) = 0;
};
