#include "tests/editor/support/scripted_services.h"

#include <utility>

QString describeSound(const SoundSettings& sound) {
  return QString("font [%1] output [%2] reverb %3 chorus %4 gain %5")
      .arg(sound.soundFont, sound.audioOutput)
      .arg(sound.reverb)
      .arg(sound.chorus)
      .arg(sound.gain);
}

QString describeBox(const RecordedBox& box) {
  static const char* const BUTTONS[] = {"Ok", "YesNo", "YesNoCancel"};       // order of BoxButtons
  static const char* const ICONS[] = {"None", "Stop", "Error", "Question"};  // order of BoxIcon
  return QString("%1 | %2 | %3 | %4")
      .arg(box.text, box.caption ? '"' + *box.caption + '"' : QString("no caption"),
           BUTTONS[static_cast<int>(box.buttons)], ICONS[static_cast<int>(box.icon)]);
}

QByteArray settingsImage(uint8_t flagsA, uint8_t flagsB) {
  QByteArray bytes("TARVIK000\r\n\x1a");
  bytes.append(512 - bytes.size(), '\0');
  bytes[16] = static_cast<char>(flagsA);
  bytes[17] = static_cast<char>(flagsB);
  return bytes;
}

QStringList ScriptedServices::boxesShown() const {
  QStringList shown;
  for (const RecordedBox& box : boxes) shown << describeBox(box);
  return shown;
}

void ScriptedMediaPlayer::close() {
  calls << "close";
  interrupt();
  isOpen = false;
}

bool ScriptedMediaPlayer::open(const QString& path, QString* error) {
  calls << "open " + path;
  interrupt();
  isOpen = false;
  position = 0;
  if (!opens) {
    if (error) *error = "scripted open failure";
    return false;
  }
  isOpen = true;
  openedPath = path;
  return true;
}

void ScriptedMediaPlayer::seek(int64_t positionMs) {
  calls << QString("seek %1").arg(positionMs);
  interrupt();
  position = positionMs;
}

bool ScriptedMediaPlayer::play(QString* error) {
  calls << "play";
  if (!plays) {
    if (error) *error = "scripted play failure";
    return false;
  }
  if (!isOpen) {
    if (error) *error = "No MIDI file is open.";
    return false;
  }
  if (fallback && onOutputFallback) onOutputFallback(*std::exchange(fallback, std::nullopt));
  interrupt();
  playing = true;
  ++request_;
  if (position >= lengthMs()) reachEnd();
  return true;
}

void ScriptedMediaPlayer::prepareSound(std::function<void(const QString& error)> done) {
  calls << "prepare";
  preparing.push_back(std::move(done));
  if (soundLoaded) finishSoundLoad();
}

void ScriptedMediaPlayer::finishSoundLoad(const QString& error) {
  soundLoaded = error.isEmpty();
  for (auto& done : std::exchange(preparing, {})) {
    QMetaObject::invokeMethod(
        &context_, [done, error] { done(error); }, Qt::QueuedConnection);
  }
}

void ScriptedMediaPlayer::reachEnd() {
  if (!playing) return;
  const uint64_t request = request_;
  QMetaObject::invokeMethod(
      &context_, [this, request] { finishAtEnd(request); }, Qt::QueuedConnection);
}

void ScriptedMediaPlayer::finishAtEnd(uint64_t request) {
  if (!playing || request != request_) return;
  playing = false;
  position = lengthMs();
  if (onNotify) onNotify();
}

// The running request is cut short where it is.
void ScriptedMediaPlayer::interrupt() {
  if (!playing) return;
  playing = false;
  postNotify();
}

void ScriptedMediaPlayer::postNotify() {
  QMetaObject::invokeMethod(
      &context_,
      [this] {
        if (onNotify) onNotify();
      },
      Qt::QueuedConnection);
}

BoxAnswer ScriptedServices::messageBox(QWidget*, const QString& text, const BoxCaption& caption,
                                       BoxButtons buttons, BoxIcon icon) {
  boxes.push_back({text, caption, buttons, icon});
  if (!boxAnswers.empty()) {
    const BoxAnswer answer = boxAnswers.front();
    boxAnswers.pop_front();
    return answer;
  }
  return buttons == BoxButtons::Ok ? BoxAnswer::Ok : BoxAnswer::Yes;
}

QString ScriptedServices::openFileName(QWidget*, const FileDialogRequest& request) {
  fileDialogs.push_back({false, request});
  if (fileNames.empty()) return {};
  const QString name = fileNames.front();
  fileNames.pop_front();
  return name;
}

QString ScriptedServices::saveFileName(QWidget*, const FileDialogRequest& request) {
  fileDialogs.push_back({true, request});
  if (fileNames.empty()) return {};
  const QString name = fileNames.front();
  fileNames.pop_front();
  return name;
}

int ScriptedServices::execDialog(QDialog& dialog) {
  ++dialogsShown;
  if (dialogScripts.empty()) return QDialog::Rejected;
  auto script = std::move(dialogScripts.front());
  dialogScripts.pop_front();
  return script(dialog);
}

bool ScriptedServices::openDocument(const QString& path) {
  documentsOpened << path;
  return documentOpens;
}
