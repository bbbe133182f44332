#include "editor/ui/playback_commands.h"

#include <QAction>

#include "editor/settings/additional_settings.h"

PlaybackCommands::PlaybackCommands(MediaPlayer& player, const QString& tempDir, Actions actions)
    : temporaryMidi_(tempDir), controller_(player, temporaryMidi_), actions_(actions) {
  QObject::connect(actions_.loop, &QAction::toggled, &controller_, &PlaybackController::setLoop);
}

bool PlaybackCommands::loopOn() const {
  return actions_.loop->isChecked();
}

int64_t PlaybackCommands::keptPlaceMs() const {
  if (!actions_.keepPlace->isChecked() || !controller_.isPlaying()) return 0;
  return controller_.player().positionMs();
}

bool PlaybackCommands::followingScore() const {
  return actions_.followScore->isChecked() && controller_.isPlaying();
}

PlaybackOptions PlaybackCommands::options() const {
  return {actions_.followScore->isChecked(), actions_.keepPlace->isChecked()};
}

void PlaybackCommands::showOptions(const PlaybackOptions& options) {
  actions_.followScore->setChecked(options.followScore);
  actions_.keepPlace->setChecked(options.keepPlace);
}

bool PlaybackCommands::takeSilentNotice() {
  if (silentNoticeShown_) return false;
  silentNoticeShown_ = true;
  return true;
}
