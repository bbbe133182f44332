#include "editor/roll/roll_painter.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <limits>

#include "core/compile_session.h"
#include "core/midi_writer.h"
#include "editor/roll/roll_keys.h"
#include "editor/roll/roll_model.h"

namespace {

constexpr int KEY_COUNT = MIDI_KEY_COUNT;
constexpr int PIANO_KEYS_WIDTH = 22;  // the drawn keys at the keyboard's right edge
constexpr int BAR_LINE_MIN_PX = 6;    // closer bar lines are thinned out
constexpr int BAR_LABEL_MIN_PX = 34;
constexpr int BEAT_LINE_MIN_PX = 12;
constexpr int TIME_LABEL_MIN_PX = 56;
constexpr int NOTE_EDGE_MIN_PX = 4;  // a narrower note gets no edge at its start
constexpr int VELOCITY_BAR_PX = 3;
constexpr double VELOCITY_FLOOR = 0.28;  // the strength of velocity 1; velocity 127 is full
constexpr int64_t MS_PER_SECOND = 1000;
constexpr int64_t TIME_STEPS_S[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 1200, 1800, 3600};
constexpr double MICROS_PER_MINUTE = 60e6;

// Colours for notes that stay apart from each other on white and on a dark grey; the dark set is
// a little lighter.
constexpr QRgb LIGHT_COLOURS[CHANNEL_COUNT] = {0x2F6DB5, 0xE0771B, 0x3A9A3A, 0xD0343A, 0x8A5CC2,
                                               0x1E9E9A, 0xC7479B, 0x5E6670, 0x8F7A00};
constexpr QRgb DARK_COLOURS[CHANNEL_COUNT] = {0x5FA0F0, 0xFF9A3C, 0x62C862, 0xFF6268, 0xB48CF0,
                                              0x3CCFC8, 0xF07CC8, 0xA8B0BA, 0xE6D44A};
constexpr QRgb PLAY_LINE_COLOUR = 0xE0301E;

QRgb mix(QRgb from, QRgb to, double amount) {
  auto channel = [&](int a, int b) { return static_cast<int>(std::lround(a + (b - a) * amount)); };
  return qRgb(channel(qRed(from), qRed(to)), channel(qGreen(from), qGreen(to)),
              channel(qBlue(from), qBlue(to)));
}

// 1, 2, 5, 10, 20, 50 ...: the least of them at or above `least`.
int64_t niceStep(double least) {
  int64_t step = 1;
  for (;;) {
    for (const int64_t f : {1, 2, 5}) {
      if (static_cast<double>(step * f) >= least) return step * f;
    }
    step *= 10;
  }
}

// Sets pixels of a 32-bit picture directly, inside a clip rectangle.
class PixelCanvas {
 public:
  PixelCanvas(QImage& image, QRect clip)
      : bits_(reinterpret_cast<QRgb*>(image.bits())),
        stride_(image.bytesPerLine() / 4),
        clip_(clip & image.rect()) {}

  void fill(int x0, int x1, int y0, int y1, QRgb colour) {
    x0 = std::max(x0, clip_.left());
    x1 = std::min(x1, clip_.right() + 1);
    y0 = std::max(y0, clip_.top());
    y1 = std::min(y1, clip_.bottom() + 1);
    if (x0 >= x1 || y0 >= y1) return;
    const QRgb pixel = colour | 0xFF000000u;
    for (int y = y0; y < y1; ++y)
      std::fill(bits_ + y * stride_ + x0, bits_ + y * stride_ + x1, pixel);
  }

  void frame(int x0, int x1, int y0, int y1, QRgb colour) {
    fill(x0, x1, y0, y0 + 1, colour);
    fill(x0, x1, y1 - 1, y1, colour);
    fill(x0, x0 + 1, y0, y1, colour);
    fill(x1 - 1, x1, y0, y1, colour);
  }

 private:
  QRgb* bits_;
  qsizetype stride_;
  QRect clip_;
};

struct NotePixels {
  int x0, x1, y0, y1;
};

// Where a note's bar lies; paintNotes() computes the same inline.
NotePixels notePixels(const RollGeometry& g, const RollNote& note) {
  const double left = g.x(0);
  const double tpp = g.viewport().ticksPerPixel;
  const int x0 = static_cast<int>(std::floor(left + note.on / tpp));
  const int x1 = std::max(x0 + 1, static_cast<int>(std::floor(left + note.off / tpp)));
  const int rowHeight = g.viewport().rowHeight;
  const int y0 = g.y(note.key) + (rowHeight >= 5 ? 1 : 0);
  return {x0, x1, y0, g.y(note.key) + rowHeight};
}

class RollPainter {
 public:
  RollPainter(QImage& image, const RollModel& model, const RollGeometry& g, const RollScene& scene)
      : image_(image), model_(model), g_(g), scene_(scene) {
    dark_ = isDarkPalette(scene.palette);
    base_ = scene.palette.color(QPalette::Base).rgb();
    text_ = scene.palette.color(QPalette::Text).rgb();
    window_ = scene.palette.color(QPalette::Window).rgb();
    fromTick_ = static_cast<int64_t>(std::floor(g.tickAt(g.notes().left())));
    toTick_ = static_cast<int64_t>(std::ceil(g.tickAt(g.notes().right() + 1))) + 1;
  }

  void paint() {
    {
      QPainter p(&image_);
      p.fillRect(image_.rect(), QColor(window_));
      paintRows(p);
      paintGrid(p);
    }
    paintNotes();
    paintOutlines();
    paintVelocities();
    paintPreview();
    QPainter p(&image_);
    p.setFont(scene_.font);
    if (scene_.stale) {
      QColor wash(base_);
      wash.setAlpha(160);
      p.fillRect(g_.notes(), wash);
      p.fillRect(g_.velocityLane(), wash);
    }
    paintVelocityCorner(p);
    paintRuler(p);
    paintTempo(p);
    paintKeyboard(p);
    paintPlayLine(p);
    paintHint(p);
  }

 private:
  bool shown(int channel) const { return (scene_.hiddenChannels & (1u << (channel - 1))) == 0; }

  // The width of a bar in the middle of the view, which the lead-in's short bar is not.
  double typicalBarPx() const {
    const int64_t middle = (fromTick_ + toTick_) / 2;
    return static_cast<double>(std::max(model_.barTicks(middle), model_.barTicks(fromTick_))) /
           g_.viewport().ticksPerPixel;
  }

  // The key rows: black keys a shade darker, a line under each C.
  void paintRows(QPainter& p) {
    const QRect area = g_.notes();
    const QRgb black = mix(base_, text_, dark_ ? 0.10 : 0.06);
    const QRgb octave = mix(base_, text_, 0.22);
    for (int key = KEY_COUNT - 1; key >= 0; --key) {
      const int top = g_.y(key);
      if (top > area.bottom()) break;
      if (top + g_.viewport().rowHeight <= area.top()) continue;
      const QRect row(area.left(), top, area.width(), g_.viewport().rowHeight);
      p.fillRect(row & area, QColor(isBlackKey(key) ? black : base_));
      if (key % 12 == 0 && row.bottom() <= area.bottom())
        p.fillRect(QRect(area.left(), row.bottom(), area.width(), 1), QColor(octave));
    }
    if (g_.y(0) + g_.viewport().rowHeight <= area.bottom()) {
      p.fillRect(QRect(area.left(), g_.y(0) + g_.viewport().rowHeight, area.width(),
                       area.bottom() - g_.y(0) - g_.viewport().rowHeight + 1),
                 QColor(window_));
    }
  }

  // Bar lines, thinned out when they come close, and beat lines when a bar is wide.
  void paintGrid(QPainter& p) {
    const QRect area = g_.notes();
    const double tpp = g_.viewport().ticksPerPixel;
    const int64_t every = niceStep(BAR_LINE_MIN_PX / std::max(typicalBarPx(), 1e-9));
    bars_.clear();
    model_.bars(fromTick_, toTick_, every, bars_);
    const QColor barLine(mix(base_, text_, 0.30));
    const QColor beatLine(mix(base_, text_, 0.12));
    const int64_t beat = model_.division();
    const bool beats = every == 1 && static_cast<double>(beat) / tpp >= BEAT_LINE_MIN_PX;
    for (size_t i = 0; i < bars_.size(); ++i) {
      const int x = static_cast<int>(std::floor(g_.x(static_cast<double>(bars_[i].tick))));
      if (x >= area.left()) p.fillRect(QRect(x, area.top(), 1, area.height()), barLine);
      if (!beats) continue;
      const int64_t end = bars_[i].tick + model_.barTicks(bars_[i].tick);
      for (int64_t t = bars_[i].tick + beat; t < end && t < toTick_; t += beat) {
        const int bx = static_cast<int>(std::floor(g_.x(static_cast<double>(t))));
        if (bx >= area.left()) p.fillRect(QRect(bx, area.top(), 1, area.height()), beatLine);
      }
    }
  }

  void paintNotes() {
    PixelCanvas canvas(image_, g_.notes());
    const QRect area = g_.notes();
    const double left = g_.x(0);  // the picture's x of tick 0
    const double tpp = g_.viewport().ticksPerPixel;
    const int rowHeight = g_.viewport().rowHeight;
    const int rowTop = rowHeight >= 5 ? 1 : 0;
    const int yOfKey127 = g_.y(KEY_COUNT - 1);
    for (int channel = 1; channel <= CHANNEL_COUNT; ++channel) {
      if (!shown(channel)) continue;
      const QRgb full = channelColour(channel, dark_).rgb();
      QRgb shade[128];
      for (int v = 0; v < 128; ++v)
        shade[v] = mix(base_, full, VELOCITY_FLOOR + (1 - VELOCITY_FLOOR) * v / 127.0);
      const QRgb edge = mix(full, text_, 0.45);
      int coveredTo[KEY_COUNT];
      std::fill(std::begin(coveredTo), std::end(coveredTo), std::numeric_limits<int>::min());
      const auto [first, last] = model_.sounding(channel, fromTick_, toTick_);
      const RollNote* notes = model_.notes().data();
      for (int32_t i = first; i < last; ++i) {
        const RollNote& n = notes[i];
        const int x0 = static_cast<int>(std::floor(left + n.on / tpp));
        const int x1 = std::max(x0 + 1, static_cast<int>(std::floor(left + n.off / tpp)));
        if (x1 <= coveredTo[n.key]) continue;  // only pixels already set
        coveredTo[n.key] = x1;
        const int y0 = yOfKey127 + (KEY_COUNT - 1 - n.key) * rowHeight;
        if (y0 + rowHeight <= area.top() || y0 > area.bottom()) continue;
        canvas.fill(x0, x1, y0 + rowTop, y0 + rowHeight, shade[n.velocity & 0x7F]);
        if (x1 - x0 >= NOTE_EDGE_MIN_PX) canvas.fill(x0, x0 + 1, y0 + rowTop, y0 + rowHeight, edge);
      }
    }
  }

  // The notes of the commands at the caret or in the selection, framed just outside.
  void paintOutlines() {
    PixelCanvas canvas(image_, g_.notes());
    const QRgb colour = text_;
    for (const int32_t i : scene_.outlined) {
      if (i < 0 || static_cast<size_t>(i) >= model_.notes().size()) continue;
      const RollNote& n = model_.notes()[static_cast<size_t>(i)];
      if (!shown(n.channel) || n.off < fromTick_ || n.on > toTick_) continue;
      const NotePixels px = notePixels(g_, n);
      canvas.frame(px.x0 - 1, px.x1 + 1, px.y0 - 1, px.y1 + 1, colour);
    }
  }

  void paintHint(QPainter& p) {
    if (!model_.empty() || scene_.hint.isEmpty()) return;
    p.setPen(scene_.palette.color(QPalette::Text));
    p.drawText(g_.notes().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap, scene_.hint);
  }

  // A bar a note at its note-on, as high as its velocity, in its channel's colour.
  void paintVelocities() {
    const QRect lane = g_.velocityLane();
    if (lane.height() <= 0) return;
    PixelCanvas canvas(image_, lane);
    canvas.fill(lane.left(), lane.right() + 1, lane.top(), lane.bottom() + 1,
                mix(window_, base_, 0.5));
    canvas.fill(lane.left(), lane.right() + 1, lane.top(), lane.top() + 1,
                mix(window_, text_, 0.3));
    const double left = g_.x(0);
    const double tpp = g_.viewport().ticksPerPixel;
    for (int channel = 1; channel <= CHANNEL_COUNT; ++channel) {
      if (!shown(channel)) continue;
      const QRgb colour = channelColour(channel, dark_).rgb();
      const auto [first, last] = model_.sounding(channel, fromTick_, toTick_);
      int lastX = std::numeric_limits<int>::min();
      for (int32_t i = first; i < last; ++i) {
        const RollNote& n = model_.notes()[static_cast<size_t>(i)];
        const int x0 = static_cast<int>(std::floor(left + n.on / tpp));
        if (x0 == lastX) continue;
        lastX = x0;
        canvas.fill(x0, x0 + VELOCITY_BAR_PX, g_.velocityY(n.velocity), lane.bottom(), colour);
      }
    }
  }

  void paintVelocityCorner(QPainter& p) {
    const QRect lane = g_.velocityLane();
    const QRect corner(0, lane.top(), g_.keyboard().width(), lane.height());
    p.fillRect(corner, scene_.palette.color(QPalette::Button));
    p.setPen(scene_.palette.color(QPalette::ButtonText));
    p.drawText(corner.adjusted(3, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter, "音量");
  }

  // The note a drag would leave, framed; a velocity drag's new bar.
  void paintPreview() {
    if (!scene_.preview) return;
    const RollPreview& preview = *scene_.preview;
    const QRgb colour = mix(channelColour(preview.channel, dark_).rgb(), text_, 0.5);
    if (preview.velocity >= 0) {
      PixelCanvas canvas(image_, g_.velocityLane());
      const int x0 = static_cast<int>(std::floor(g_.x(static_cast<double>(preview.on))));
      canvas.frame(x0 - 1, x0 + VELOCITY_BAR_PX + 1, g_.velocityY(preview.velocity) - 1,
                   g_.velocityLane().bottom(), colour);
      return;
    }
    PixelCanvas canvas(image_, g_.notes());
    RollNote note;
    note.on = static_cast<int32_t>(preview.on);
    note.off = static_cast<int32_t>(preview.off);
    note.key = static_cast<uint8_t>(std::clamp(preview.key, 0, KEY_COUNT - 1));
    const NotePixels px = notePixels(g_, note);
    canvas.frame(px.x0, px.x1, px.y0, px.y1, colour);
    canvas.frame(px.x0 + 1, px.x1 - 1, px.y0 + 1, px.y1 - 1, colour);
  }

  // Bar numbers over the time in minutes and seconds.
  void paintRuler(QPainter& p) {
    const QRect ruler = g_.ruler();
    p.fillRect(ruler, scene_.palette.color(QPalette::Button));
    const QColor ink = scene_.palette.color(QPalette::ButtonText);
    const QColor line(mix(scene_.palette.color(QPalette::Button).rgb(), ink.rgb(), 0.45));
    p.fillRect(QRect(ruler.left(), ruler.bottom(), ruler.width(), 1), line);
    p.fillRect(QRect(ruler.left(), ruler.top() + ruler.height() / 2, ruler.width(), 1), line);
    p.setClipRect(ruler);
    p.setPen(ink);
    const int half = ruler.height() / 2;
    const int64_t every = niceStep(BAR_LABEL_MIN_PX / std::max(typicalBarPx(), 1e-9));
    bars_.clear();
    model_.bars(fromTick_, toTick_, every, bars_);
    for (const RollBar& bar : bars_) {
      if (bar.number == 0) continue;  // the lead-in
      const int x = static_cast<int>(std::floor(g_.x(static_cast<double>(bar.tick))));
      p.fillRect(QRect(x, ruler.top(), 1, half), line);
      p.drawText(QRect(x + 3, ruler.top(), BAR_LABEL_MIN_PX * 4, half),
                 Qt::AlignLeft | Qt::AlignVCenter, QString::number(bar.number));
    }
    const MidiTempoMap& tempo = model_.tempoMap();
    if (!tempo.empty()) {
      const int64_t fromMs = tempo.tickToMs(fromTick_);
      const int64_t toMs = tempo.tickToMs(toTick_);
      // The step that keeps labels apart where the tempo is fastest on screen is found by trying.
      int64_t stepS = TIME_STEPS_S[std::size(TIME_STEPS_S) - 1];
      for (const int64_t s : TIME_STEPS_S) {
        const int64_t count = (toMs - fromMs) / (s * MS_PER_SECOND) + 1;
        if (count * TIME_LABEL_MIN_PX <= ruler.width() + TIME_LABEL_MIN_PX) {
          stepS = s;
          break;
        }
      }
      const int64_t stepMs = stepS * MS_PER_SECOND;
      int lastRight = std::numeric_limits<int>::min();
      for (int64_t ms = (fromMs + stepMs - 1) / stepMs * stepMs; ms <= toMs; ms += stepMs) {
        const int x = static_cast<int>(std::floor(g_.x(static_cast<double>(tempo.msToTick(ms)))));
        p.fillRect(QRect(x, ruler.bottom() - 4, 1, 4), line);
        if (x < lastRight) continue;
        const int64_t s = ms / MS_PER_SECOND;
        const QString text =
            QString("%1:%2").arg(s / 60).arg(static_cast<int>(s % 60), 2, 10, QChar('0'));
        p.drawText(QRect(x + 3, ruler.top() + half, TIME_LABEL_MIN_PX, half),
                   Qt::AlignLeft | Qt::AlignVCenter, text);
        lastRight = x + TIME_LABEL_MIN_PX;
      }
    }
    p.setClipping(false);
  }

  // The tempo in force as a step line between the song's slowest and fastest tempo, the value
  // written at each change where there is room.
  void paintTempo(QPainter& p) {
    const QRect lane = g_.tempoLane();
    p.fillRect(lane, QColor(mix(window_, base_, 0.5)));
    p.fillRect(QRect(lane.left(), lane.bottom(), lane.width(), 1),
               QColor(mix(window_, text_, 0.3)));
    const MidiTempoMap& tempo = model_.tempoMap();
    if (tempo.empty()) return;
    const std::vector<MidiTempoMap::TempoChange> changes = shownTempoChanges(tempo);
    double slow = 1e9, fast = 0;
    for (const MidiTempoMap::TempoChange& c : changes) {
      const double bpm = MICROS_PER_MINUTE / c.microsPerQuarter;
      slow = std::min(slow, bpm);
      fast = std::max(fast, bpm);
    }
    const int top = lane.top() + 4, bottom = lane.bottom() - 4;
    auto yOf = [&](double bpm) {
      if (fast - slow < 1e-9) return (top + bottom) / 2;
      return static_cast<int>(std::lround(bottom - (bpm - slow) / (fast - slow) * (bottom - top)));
    };
    const auto later =
        std::upper_bound(changes.begin(), changes.end(), fromTick_,
                         [](int64_t t, const MidiTempoMap::TempoChange& c) { return t < c.tick; });
    size_t i = later == changes.begin() ? 0 : static_cast<size_t>(later - changes.begin()) - 1;
    p.setClipRect(lane);
    QPen pen(QColor(mix(base_, text_, 0.55)));
    pen.setWidth(2);
    QFont small = scene_.font;
    small.setPixelSize(10);
    p.setFont(small);
    int lastRight = std::numeric_limits<int>::min();
    for (; i < changes.size() && changes[i].tick < toTick_; ++i) {
      const double bpm = MICROS_PER_MINUTE / changes[i].microsPerQuarter;
      const int x0 = std::max(lane.left(), static_cast<int>(std::floor(g_.x(changes[i].tick))));
      const int x1 = i + 1 < changes.size()
                         ? static_cast<int>(std::floor(g_.x(changes[i + 1].tick)))
                         : lane.right() + 1;
      const int y = yOf(bpm);
      p.setPen(pen);
      p.drawLine(x0, y, std::min(x1, lane.right() + 1), y);
      if (i + 1 < changes.size() && x1 <= lane.right())
        p.drawLine(x1, y, x1, yOf(MICROS_PER_MINUTE / changes[i + 1].microsPerQuarter));
      // A change that the next one follows too closely for both values leaves the room to it.
      const QString text = QString::number(std::lround(bpm));
      const int right = x0 + 3 + p.fontMetrics().horizontalAdvance(text) + 4;
      if (x0 >= lastRight && (i + 1 == changes.size() || x1 >= right)) {
        p.setPen(scene_.palette.color(QPalette::Text));
        const int labelY = y > (top + bottom) / 2 ? lane.top() : lane.top() + lane.height() / 2;
        p.drawText(QRect(x0 + 3, labelY, 40, lane.height() / 2), Qt::AlignLeft | Qt::AlignVCenter,
                   text);
        lastRight = right;
      }
    }
    p.setClipping(false);
    p.setFont(scene_.font);
  }

  // Piano keys at the right edge, the C names beside them, and the drum sounds of the keys the
  // drum channel plays when it is shown.
  void paintKeyboard(QPainter& p) {
    const QRect board = g_.keyboard();
    p.fillRect(board, scene_.palette.color(QPalette::Window));
    const QRect corner(0, 0, board.width(), g_.notes().top());
    p.fillRect(corner, scene_.palette.color(QPalette::Button));
    p.setClipRect(board);
    const int rowHeight = g_.viewport().rowHeight;
    const QRgb white = dark_ ? 0xC8C8C8 : 0xFAFAFA;
    const QRgb black = dark_ ? 0x1A1A1A : 0x303030;
    const int keysLeft = board.right() + 1 - PIANO_KEYS_WIDTH;
    bool drums[KEY_COUNT] = {};
    const bool drumNames = shown(DRUM_CHANNEL) && rowHeight >= DRUM_NAME_MIN_ROW_PX;
    if (drumNames) {
      for (const RollNote& n : model_.channelNotes(DRUM_CHANNEL)) drums[n.key] = true;
    }
    QFont small = scene_.font;
    small.setPixelSize(std::clamp(rowHeight + 1, 8, 11));
    QFont label = scene_.font;
    label.setPixelSize(10);
    const QColor ink = scene_.palette.color(QPalette::WindowText);
    for (int key = KEY_COUNT - 1; key >= 0; --key) {
      const int top = g_.y(key);
      if (top > board.bottom()) break;
      if (top + rowHeight <= board.top()) continue;
      const QRect row(keysLeft, top, PIANO_KEYS_WIDTH, rowHeight);
      p.fillRect(row, QColor(isBlackKey(key) ? black : white));
      p.fillRect(QRect(keysLeft, top + rowHeight - 1, PIANO_KEYS_WIDTH, 1),
                 QColor(mix(white, black, 0.35)));
      if (drums[key]) {
        if (const char* name = drumName(key)) {
          p.setFont(small);
          p.setPen(ink);
          p.drawText(QRect(board.left() + 2, top - 2, keysLeft - 4, rowHeight + 4),
                     Qt::AlignLeft | Qt::AlignVCenter, QString::fromLatin1(name));
        }
      }
    }
    p.setFont(label);
    p.setPen(ink);
    for (int key = 0; key < KEY_COUNT; key += 12) {
      const int top = g_.y(key);
      if (top > board.bottom() || top + rowHeight <= board.top()) continue;
      const QRect at(board.left(), top + rowHeight - 12, keysLeft - 3, 12);
      if (!drums[key]) p.drawText(at, Qt::AlignRight | Qt::AlignBottom, octaveName(key));
    }
    p.fillRect(QRect(board.right(), board.top(), 1, board.height()),
               QColor(mix(window_, text_, 0.4)));
    p.setClipping(false);
  }

  void paintPlayLine(QPainter& p) {
    if (!scene_.playTick) return;
    const int x = static_cast<int>(std::floor(g_.x(static_cast<double>(*scene_.playTick))));
    const QRect area = g_.notes();
    if (x < area.left() || x > area.right()) return;
    p.fillRect(QRect(x, g_.ruler().top(), 2, area.bottom() - g_.ruler().top() + 1),
               QColor(PLAY_LINE_COLOUR));
  }

  QImage& image_;
  const RollModel& model_;
  const RollGeometry& g_;
  const RollScene& scene_;
  bool dark_ = false;
  QRgb base_, text_, window_;
  int64_t fromTick_ = 0, toTick_ = 0;
  std::vector<RollBar> bars_;
};

}  // namespace

RollGeometry::RollGeometry(QSize size, const RollViewport& viewport, int keyboardWidth)
    : size_(size), viewport_(viewport), keyboardWidth_(keyboardWidth) {}

QRect RollGeometry::keyboard() const {
  return QRect(0, notes().top(), keyboardWidth_, notes().height());
}

QRect RollGeometry::ruler() const {
  return QRect(keyboardWidth_, 0, std::max(0, size_.width() - keyboardWidth_), RULER_HEIGHT);
}

QRect RollGeometry::tempoLane() const {
  return QRect(keyboardWidth_, RULER_HEIGHT, std::max(0, size_.width() - keyboardWidth_),
               TEMPO_HEIGHT);
}

QRect RollGeometry::notes() const {
  const int top = RULER_HEIGHT + TEMPO_HEIGHT;
  return QRect(keyboardWidth_, top, std::max(0, size_.width() - keyboardWidth_),
               std::max(0, size_.height() - top - VELOCITY_HEIGHT));
}

QRect RollGeometry::velocityLane() const {
  const QRect above = notes();
  return QRect(keyboardWidth_, above.top() + above.height(), above.width(),
               std::min(VELOCITY_HEIGHT, std::max(0, size_.height() - above.top())));
}

// The lane keeps a pixel free at the top and at the bottom.
int RollGeometry::velocityY(int velocity) const {
  const QRect lane = velocityLane();
  const int span = std::max(1, lane.height() - 3);
  return lane.bottom() - 1 - std::clamp(velocity, 0, 127) * span / 127;
}

int RollGeometry::velocityAt(int y) const {
  const QRect lane = velocityLane();
  const int span = std::max(1, lane.height() - 3);
  return std::clamp((lane.bottom() - 1 - y) * 127 / span, 0, 127);
}

double RollGeometry::x(double tick) const {
  return keyboardWidth_ + (tick - viewport_.leftTick) / viewport_.ticksPerPixel;
}

double RollGeometry::tickAt(double x) const {
  return viewport_.leftTick + (x - keyboardWidth_) * viewport_.ticksPerPixel;
}

int RollGeometry::y(int key) const {
  return notes().top() - viewport_.topPixel + (KEY_COUNT - 1 - key) * viewport_.rowHeight;
}

int RollGeometry::keyAt(int y) const {
  const int row = y - notes().top() + viewport_.topPixel;
  if (row < 0) return -1;
  const int key = KEY_COUNT - 1 - row / viewport_.rowHeight;
  return key >= 0 ? key : -1;
}

QColor channelColour(int channel, bool dark) {
  const int index = std::clamp(channel, 1, CHANNEL_COUNT) - 1;
  return QColor(dark ? DARK_COLOURS[index] : LIGHT_COLOURS[index]);
}

bool isDarkPalette(const QPalette& palette) {
  return palette.color(QPalette::Base).lightness() < 128;
}

std::vector<MidiTempoMap::TempoChange> shownTempoChanges(const MidiTempoMap& map) {
  std::vector<MidiTempoMap::TempoChange> shown;
  for (const MidiTempoMap::TempoChange& c : map.tempoChanges()) {
    const long bpm = std::lround(MICROS_PER_MINUTE / c.microsPerQuarter);
    if (!shown.empty() && std::lround(MICROS_PER_MINUTE / shown.back().microsPerQuarter) == bpm)
      continue;
    shown.push_back(c);
  }
  return shown;
}

void paintRoll(QImage& image, const RollModel& model, const RollGeometry& geometry,
               const RollScene& scene) {
  RollPainter(image, model, geometry, scene).paint();
}
