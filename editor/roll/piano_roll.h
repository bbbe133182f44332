// The piano roll panel: the last clean compilation as notes over time (time across, pitch up),
// with a keyboard, a ruler of bars and minutes, a tempo lane, a velocity lane, a legend that
// hides, mutes and solos channels and chooses the one to draw in, the grid notes snap to, and its
// two commands, show the whole song and save the picture. It knows no text view: it is told what to
// show (a compilation, the notes to outline, the play position) and reports what the user pointed
// at (a note, a place on the ruler) and the gestures made on the notes (draw, move, resize, delete,
// velocity) in the song's time; the window turns them into edits of the text.
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "core/compile_session.h"
#include "core/source_map.h"
#include "editor/document/whole_file_writer.h"
#include "editor/roll/roll_edit.h"
#include "editor/roll/roll_model.h"
#include "editor/roll/roll_painter.h"
#include "editor/sound/channel_mix.h"

class QAction;
class QCheckBox;
class QComboBox;
class QScrollBar;
class QToolButton;
class ScoreSourceMap;

class PianoRoll : public QWidget {
  Q_OBJECT
 public:
  // After the user scrolls or zooms, the play line does not move the roll for this long.
  static constexpr int USER_QUIET_MS = 3000;
  // The grids a drawn, moved or resized note snaps to: note values 1/4 to 1/32, then their
  // triplets; the default is 1/16.
  static constexpr int GRID_COUNT = 8;  // RollSettings::GRID_COUNT
  static constexpr int DEFAULT_GRID = 2;
  // A press moves this far before it is a drag; a press this close to a note's end resizes it.
  static constexpr int DRAG_START_PX = 3;
  static constexpr int RESIZE_GRIP_PX = 4;

  explicit PianoRoll(QWidget* parent = nullptr);
  ~PianoRoll() override;

  // A clean compilation to show: the notes, the tempo and the bars of the MIDI file it wrote.
  // The roll copies what it needs; the map may change or go once this returns.
  void showCompilation(const ScoreSourceMap& map);
  void showCompilation(const std::shared_ptr<const ScoreSourceMap>& map);
  // Greys the picture: the text has changed in a way the shown compilation does not match (it
  // does not compile). The next compilation shown clears it.
  void setStale(bool stale);
  bool isStale() const { return scene_.stale; }
  const RollModel& model() const { return model_; }

  // Outlines the notes made by the text between two source points (a caret when they are
  // equal) and, when none of them is in sight, scrolls to the first.
  void outlineSource(SourcePoint from, SourcePoint to);
  void clearOutline();
  const std::vector<int32_t>& outlined() const { return scene_.outlined; }

  // The play line at `ms` of the shown song; the roll follows it a page at a time unless the
  // user scrolled or zoomed it a moment ago.
  void setPlayPosition(int64_t ms);
  void clearPlayPosition();
  std::optional<int64_t> playTick() const { return scene_.playTick; }

  // What is shown: the zoom (ticks a pixel, pixels a key) and the place.
  const RollViewport& viewport() const { return viewport_; }
  void setZoom(double ticksPerPixel, int rowHeight);
  // Zooms time by `factor` (above 1: out) keeping the tick under canvas column `x` in place.
  void zoomTimeAround(double factor, int x);
  void scrollTimeBy(int pixels);
  void scrollKeysBy(int pixels);
  // Shows the whole song, its keys filling the height as far as the rows allow.
  void fit();
  // The first compilation shown is fitted unless a zoom was kept (the window restores it).
  void keepZoom() { fitted_ = true; }

  void setChannelShown(int channel, bool shown);
  bool channelShown(int channel) const;
  QCheckBox* legendBox(int channel) const { return legend_[channel - 1]; }

  // Mute and solo, a pair of buttons beside each channel's box; the user's clicks are reported
  // by channelMixChanged(), a mix set here is not.
  const ChannelMix& channelMix() const { return mix_; }
  void setChannelMix(const ChannelMix& mix);
  QToolButton* muteButton(int channel) const { return mute_[channel - 1]; }
  QToolButton* soloButton(int channel) const { return solo_[channel - 1]; }

  // The channel new notes are drawn in, chosen in the legend (1..9).
  int drawChannel() const;
  void setDrawChannel(int channel);
  // The grid (0..GRID_COUNT - 1) and its step in units (1/32 of a quarter note).
  int grid() const;
  void setGrid(int grid);
  double gridUnits() const;
  // Del: the outlined notes become rests, one gesture a channel.
  void deleteOutlined();

  // The canvas the roll is drawn on, and its geometry now.
  QWidget* canvas() const;
  RollGeometry geometry() const;
  // The note drawn at a canvas point (the upper channel where two meet), or -1.
  int32_t noteAt(QPoint point) const;
  // The middle of the shown part of a note's bar on the canvas (of the whole bar, outside the
  // notes' area, when none of it is shown).
  QPoint notePoint(int32_t index) const;
  // The canvas point of `tick` on the ruler.
  QPoint rulerPoint(int64_t tick) const;

  // The roll as it is shown, and the same written as a PNG file at `path`, whole or not at all.
  QImage picture() const;
  WriteOutcome savePicture(const QString& path) const;

  QAction* fitAction() const { return fit_; }
  QAction* saveAction() const { return save_; }

 Q_SIGNALS:
  void noteClicked(const RollNote& note);
  void rulerClicked(int64_t ms);
  void rulerDoubleClicked(int64_t ms);
  // The save command: the window asks for a file name and calls savePicture().
  void saveRequested();
  // The zoom changed (by the user or fit()).
  void zoomChanged();
  // A gesture on the notes, one a channel it touches, ready for editForGestures().
  void gesturesMade(const std::vector<RollGesture>& gestures);
  // The user chose another grid.
  void gridChanged(int grid);
  // The user muted, unmuted, soloed or unsoloed a channel.
  void channelMixChanged(const ChannelMix& mix);

 protected:
  void changeEvent(QEvent* event) override;

 private:
  class Canvas;
  friend class Canvas;

  void createHeader();
  void refreshLegend();
  void mixClicked();
  void refreshKeyboardWidth();
  void clampViewport();
  void syncScrollBars();
  void userMoved();
  void ensureOutlinedVisible();
  void paintCanvas(QImage& image) const;
  int64_t msAt(int x) const;

  // A drag on the canvas: from a press to a release, the preview following the mouse.
  struct Drag {
    enum class Kind : uint8_t { None, Draw, Move, Resize, Velocity };
    Kind kind = Kind::None;
    QPoint from;
    int32_t note = -1;
    bool started = false;
  };
  void pressAt(QPoint at);
  void dragTo(QPoint at);
  void releaseAt(QPoint at);
  std::optional<RollGesture> gestureOf(QPoint at, RollPreview* preview) const;
  double unitsAt(int x) const;
  int64_t snapped(double units, bool down) const;
  int32_t velocityNoteAt(QPoint at) const;

  RollModel model_;
  RollViewport viewport_;
  RollScene scene_;
  int keyboardWidth_ = RollGeometry::KEYBOARD_WIDTH;
  Canvas* canvas_ = nullptr;
  QScrollBar* horizontal_ = nullptr;
  QScrollBar* vertical_ = nullptr;
  std::array<QCheckBox*, CHANNEL_COUNT> legend_{};
  std::array<QToolButton*, CHANNEL_COUNT> mute_{};
  std::array<QToolButton*, CHANNEL_COUNT> solo_{};
  ChannelMix mix_;
  QComboBox* drawChannel_ = nullptr;
  QComboBox* grid_ = nullptr;
  Drag drag_;
  QAction* fit_ = nullptr;
  QAction* save_ = nullptr;
  bool syncing_ = false;
  bool fitted_ = false;      // the first compilation shown is fitted
  QElapsedTimer sinceUser_;  // invalid: the user has not moved the roll
};
