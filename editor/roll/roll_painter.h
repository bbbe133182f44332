// Drawing the piano roll: where its parts lie in a picture of a given size (the keyboard at the
// left, the ruler and the tempo lane at the top, the notes, the velocity lane under them), the
// conversions between ticks and keys and pixels, and the painting itself. Only what the picture
// shows is drawn: the notes come from a binary search per channel and are set pixel by pixel, a
// zoomed-out note that would only cover pixels already set is skipped, so a redraw costs what is
// visible.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPalette>
#include <QRect>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/midi_tempo_map.h"

class RollModel;

// The drum channel's keys are named when a key row is at least this high.
inline constexpr int DRUM_NAME_MIN_ROW_PX = 6;

// What part of the song the roll shows and how large.
struct RollViewport {
  static constexpr double TICKS_PER_PIXEL_MIN = 0.25;
  static constexpr double TICKS_PER_PIXEL_MAX = 200000;
  static constexpr int ROW_HEIGHT_MIN = 3;
  static constexpr int ROW_HEIGHT_MAX = 24;

  double ticksPerPixel = 8;  // a quarter note is 60 pixels
  double leftTick = 0;       // the tick at the notes' left edge
  int rowHeight = 8;         // pixels of one key
  int topPixel = 0;          // pixels of key rows above the shown ones (key 127's top is 0)
};

class RollGeometry {
 public:
  static constexpr int RULER_HEIGHT = 34;  // bar numbers over the time
  static constexpr int TEMPO_HEIGHT = 26;
  static constexpr int KEYBOARD_WIDTH = 44;
  static constexpr int VELOCITY_HEIGHT = 40;  // a bar for each note's velocity

  RollGeometry(QSize size, const RollViewport& viewport, int keyboardWidth = KEYBOARD_WIDTH);

  const RollViewport& viewport() const { return viewport_; }
  QSize size() const { return size_; }
  QRect keyboard() const;
  QRect ruler() const;
  QRect tempoLane() const;
  QRect notes() const;
  QRect velocityLane() const;
  // The y in the velocity lane of a velocity 0..127, and the velocity at a y.
  int velocityY(int velocity) const;
  int velocityAt(int y) const;

  // Left edge of a tick's pixel column (picture coordinates), and the tick at a column.
  double x(double tick) const;
  double tickAt(double x) const;
  // Top of a key's row, and the key at a row (-1 above or below every key).
  int y(int key) const;
  int keyAt(int y) const;
  // Pixels of all 128 rows.
  int keysHeight() const { return 128 * viewport_.rowHeight; }

 private:
  QSize size_;
  RollViewport viewport_;
  int keyboardWidth_;
};

// A note as a gesture would leave it, outlined while the mouse drags.
struct RollPreview {
  int channel = 1;
  int key = 0;
  int64_t on = 0;  // ticks
  int64_t off = 0;
  int velocity = -1;  // a velocity bar's new height, or -1
};

// Everything besides the model and the geometry that decides the picture.
struct RollScene {
  std::optional<RollPreview> preview;
  uint16_t hiddenChannels = 0;    // bit channel - 1
  std::vector<int32_t> outlined;  // note indices
  std::optional<int64_t> playTick;
  bool stale = false;  // the text has changed in a way no clean compilation shows: greyed
  QString hint;        // shown in the middle of the notes' area when there are no notes
  QPalette palette;
  QFont font;
};

// The colour of a channel's notes at full velocity, for a light or dark background.
QColor channelColour(int channel, bool dark);
bool isDarkPalette(const QPalette& palette);

// The tempo changes the tempo lane marks: those that change the beats a minute as shown (whole
// numbers); a file that states the same tempo again marks it once.
std::vector<MidiTempoMap::TempoChange> shownTempoChanges(const MidiTempoMap& map);

// Paints the whole roll into `image` (ARGB32 premultiplied or RGB32, of the geometry's size).
void paintRoll(QImage& image, const RollModel& model, const RollGeometry& geometry,
               const RollScene& scene);
