// The piano roll in the main window: its dock panel "ピアノロール", shown and hidden by the View
// menu's item and its tool button; what it shows (the clean compilations that wrote MIDI); and
// the ties both ways to the text and the player: a clicked note selects the command that made
// it, the caret and the selection outline the notes their commands made, the play line follows
// the player, a click on the ruler while playing seeks and a double-click plays from there; a
// gesture on the notes edits the text (one undo step, then the check as you type), or its
// refusal shows in the status bar; the player window opens clear of the panel's ruler; the
// legend's mute and solo go to the player at once. The panel's visibility, place, zoom, grid and
// mix are kept in the additional settings, where the audio export finds the mix.
#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <vector>

class EditorServices;
class PianoRoll;
class QAction;
class QDockWidget;
class QWidget;
class ScoreSourceMap;
class TForm1;
struct ChannelMix;
struct RollGesture;
struct RollNote;

// The height a docked panel gets when first shown.
inline constexpr int FIRST_ROLL_HEIGHT = 300;

class RollLink : public QObject {
  Q_OBJECT
 public:
  // `toggle` is the window's checkable action that shows the panel.
  RollLink(TForm1& window, EditorServices& services, QAction* toggle);
  ~RollLink() override;

  PianoRoll& roll() const { return *roll_; }
  QDockWidget* dock() const { return dock_; }

  // A clean compilation of the text as it stands now. A hidden panel builds its picture only
  // once shown; the map must then still time the same compilation (the compile controller's
  // does until the next clean compilation, which comes here too).
  void compiled(const ScoreSourceMap& map);
  void compiled(std::shared_ptr<const ScoreSourceMap> map);
  // The text no longer compiles: the roll greys its last picture; a compilation clears it.
  void setStale(bool stale);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void shownChanged(bool shown);
  void giveFirstSize();
  void keepScoreHalf();
  void placePlayer();
  void buildPending();
  void caretMoved();
  void noteClicked(const RollNote& note);
  void rulerClicked(int64_t ms);
  void rulerDoubleClicked(int64_t ms);
  void followPlayer();
  void gesturesMade(const std::vector<RollGesture>& gestures);
  void notice(const QString& text);
  void saveAsked();
  void mixChanged(const ChannelMix& mix);
  void restore();
  void store();

  TForm1& window_;
  EditorServices& services_;
  QAction* toggle_;
  QDockWidget* dock_ = nullptr;
  PianoRoll* roll_ = nullptr;
  QWidget* player_ = nullptr;  // the window's player window
  QTimer storeTimer_;
  // What the hidden panel has not drawn yet: a shared map, or the compile controller's.
  std::shared_ptr<const ScoreSourceMap> pendingShared_;
  const ScoreSourceMap* pending_ = nullptr;
  // The compilation the roll shows, for the gestures' edits while the text matches it.
  std::shared_ptr<const ScoreSourceMap> shownShared_;
  const ScoreSourceMap* shown_ = nullptr;
  bool textMatches_ = false;  // the text is what the shown compilation read
  bool restoring_ = false;
  bool sized_ = false;  // the panel has had a height: kept from the last run, or given once
};
