// Compile and play: the compilations of the editor text, the play of the temporary file they
// write, where it starts, its stop, and the score marked as it sounds.
#include "editor/ui/playback_commands.h"

#include <QAction>

#include "editor/document/score_document.h"
#include "editor/settings/additional_settings.h"
#include "editor/ui/check_as_you_type.h"
#include "editor/ui/command_window.h"
#include "editor/ui/failure_place.h"
#include "editor/ui/file_commands.h"
#include "editor/ui/player_window.h"
#include "editor/ui/roll_link.h"
#include "editor/view/score_view.h"

namespace {

const char TEMP_NOT_REMOVED[] = "tmp file remove error!!";

}  // namespace

PlaybackCommands::PlaybackCommands(MediaPlayer& player, const QString& tempDir, Actions actions)
    : temporaryMidi_(tempDir), controller_(player, temporaryMidi_), actions_(actions) {
  QObject::connect(actions_.loop, &QAction::toggled, &controller_, &PlaybackController::setLoop);
}

void PlaybackCommands::attach(const Rooms& rooms) {
  rooms_.emplace(rooms);
  QObject::connect(&controller_, &PlaybackController::started, &controller_,
                   [this](const PlaybackStart& play) { started(play); });
  showOptions(rooms_->settings.playback());
  QObject::connect(actions_.followScore, &QAction::toggled, &controller_, [this](bool on) {
    if (!on) rooms_->view.clearSounding();
    storeOptions();
  });
  QObject::connect(actions_.keepPlace, &QAction::toggled, &controller_, [this] { storeOptions(); });
}

CompileResult PlaybackCommands::compile(CompileTarget target) {
  ScoreView& view = rooms_->view;
  rooms_->window.clearMessages();
  view.clearFailureMark();
  rooms_->check.compilationStarting();
  CompileController& compiler = rooms_->compiler;
  CompileResult result = compiler.compile({view.text(), rooms_->document.encoding()}, target,
                                          rooms_->document.midiOutputPath());
  if (result.failure) {
    view.markFailure(failurePlace(*result.failure));
    rooms_->roll.setStale(true);
  }
  if (result.sourceMapReady) rooms_->roll.compiled(*compiler.sourceMap());
  return result;
}

CompileResult PlaybackCommands::compileAndPlay(CompileTarget target, PlayFrom from,
                                               int64_t fromMs) {
  CompileController& compiler = rooms_->compiler;
  if (compiler.busy()) return {};
  const bool fromStart = target == CompileTarget::Play && from == PlayFrom::Start;
  const int64_t placeMs = fromStart ? keptPlaceMs() : 0;
  stop();
  if (rooms_->files.autoSaveOn()) rooms_->files.save();
  CompileResult result = compile(target);
  if (!result.ok() || target != CompileTarget::Play) return result;
  if (!result.producedData) {
    deleteTemporaryFile();  // the empty file written for nothing
    rooms_->window.showStop("演奏データがありません");
    return result;
  }
  ScoreView& view = rooms_->view;
  view.followCompiled(compiler.sourceMap());
  start(from == PlayFrom::Caret  ? view.caretTimeMs(compiler.sourceMap())
        : from == PlayFrom::Time ? fromMs
                                 : placeMs);
  return result;
}

void PlaybackCommands::deleteTemporaryFile() {
  if (!controller_.deleteTemporaryFile()) rooms_->window.showStop(TEMP_NOT_REMOVED, QString(""));
}

void PlaybackCommands::stop() {
  rooms_->playerWindow.Timer1->stop();
  rooms_->view.clearSounding();
  if (!controller_.stop()) rooms_->window.showStop(TEMP_NOT_REMOVED, QString(""));
}

void PlaybackCommands::playerWindowClosed() {
  stop();
  actions_.run->setEnabled(true);
}

void PlaybackCommands::followScore() {
  if (followingScore()) rooms_->view.showSounding(controller_.player().positionMs());
}

void PlaybackCommands::storeOptions() {
  rooms_->settings.setPlayback(options());
}

// Plays the temporary file just written. A SoundFont to load first is loaded off this thread,
// and the play begins when it is in; F9 again or a stop meanwhile drops that play.
void PlaybackCommands::start(int64_t startMs) {
  controller_.player().setSound(rooms_->settings.sound());
  const PlaybackStart play = controller_.play(startMs);
  if (play.pending) {
    rooms_->window.appendMessage(" SoundFont を読み込んでいます...");
    return;
  }
  started(play);
}

// Where no sound can be made the user is told, the file is removed and the editor goes on.
void PlaybackCommands::started(const PlaybackStart& play) {
  if (!play.ok) {
    deleteTemporaryFile();
    rooms_->window.showStop(QString("演奏できません.\n%1").arg(play.error));
    return;
  }
  if (play.silent && takeSilentNotice()) {
    rooms_->window.appendMessage(" [注意] 音声出力装置がないため, 音を出さずに再生します");
  }
  rooms_->playerWindow.startFollowing(play.lengthMs);
}

// Where the output taken instead is the silent one, this line says so and the general notice
// is not needed.
void PlaybackCommands::outputFellBack(const OutputFallback& fallback) {
  const bool silent = fallback.used == QLatin1String("silent");
  if (silent) takeSilentNotice();  // this line is the notice
  const QString instead =
      silent ? QString("音を出さずに再生します") : QString("%1 で再生します").arg(fallback.used);
  rooms_->window.appendMessage(QString(" [注意] 音声出力 %1 を開けません: %2 → %3")
                                   .arg(fallback.chosen, fallback.reason, instead));
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
