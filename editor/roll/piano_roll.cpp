#include "editor/roll/piano_roll.h"

#include <QAction>
#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImageWriter>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "core/midi_writer.h"
#include "core/score_source_map.h"
#include "editor/roll/roll_keys.h"

namespace {

constexpr double WHEEL_NOTCH = 120;
constexpr double ZOOM_STEP = 1.25;     // a notch of Ctrl+wheel
constexpr int KEY_ROWS_PER_NOTCH = 3;  // a notch of the wheel
constexpr int TIME_PX_PER_NOTCH = 80;  // a notch of Shift+wheel
constexpr int AIM_SLACK_PX = 2;        // a click this close to a thin note takes it
constexpr double FOLLOW_AHEAD = 0.1;   // the play line comes back in at this part of the width
constexpr int FIT_MARGIN_ROWS = 2;
constexpr int NOTES_MIN_HEIGHT = 40;  // the rows a panel at its smallest still shows
constexpr int DRUM_NAME_GAP = 30;     // the piano keys and some air beside a drum name
constexpr double UNITS_PER_WHOLE = 128;
const char EMPTY_HINT[] =
    "コンパイル (F9 など) すると, ここに音符が出ます. 入力中にチェックがオンなら, "
    "打つたびに出ます.";

// The grids, in the order of their index: the note value and whether three of them fill two.
struct GridChoice {
  const char* name;
  int value;
  bool triplet;
};
constexpr GridChoice GRIDS[PianoRoll::GRID_COUNT] = {
    {"4分音符", 4, false}, {"8分音符", 8, false}, {"16分音符", 16, false}, {"32分音符", 32, false},
    {"4分3連符", 4, true}, {"8分3連符", 8, true}, {"16分3連符", 16, true}, {"32分3連符", 32, true},
};

int64_t unitsOfTick(int64_t tick) {
  return (tick - LEAD_IN_TICKS) / TICKS_PER_UNIT;
}

int64_t tickOfUnits(int64_t units) {
  return LEAD_IN_TICKS + units * TICKS_PER_UNIT;
}

// The `v` level nearest a velocity, at least 1 (level 0 sounds nothing).
int levelOf(int velocity) {
  int best = 1;
  for (int level = 1; level <= VELOCITY_LEVEL_MAX; ++level) {
    if (std::abs(VELOCITY_BY_LEVEL[level] - velocity) <
        std::abs(VELOCITY_BY_LEVEL[best] - velocity))
      best = level;
  }
  return best;
}

}  // namespace

// The surface the roll is painted on; it hands the mouse to the roll.
class PianoRoll::Canvas : public QWidget {
 public:
  explicit Canvas(PianoRoll& roll) : QWidget(&roll), roll_(roll) {
    setObjectName("RollCanvas");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::ClickFocus);
    setMinimumSize(120, RollGeometry::RULER_HEIGHT + RollGeometry::TEMPO_HEIGHT +
                            RollGeometry::VELOCITY_HEIGHT + NOTES_MIN_HEIGHT);
  }

  QImage image;

 protected:
  void paintEvent(QPaintEvent*) override {
    const qreal ratio = devicePixelRatioF();
    if (image.size() != size() * ratio) {
      image = QImage(size() * ratio, QImage::Format_ARGB32_Premultiplied);
    }
    image.setDevicePixelRatio(1);
    roll_.paintCanvas(image);
    image.setDevicePixelRatio(ratio);
    QPainter(this).drawImage(0, 0, image);
  }

  void resizeEvent(QResizeEvent*) override {
    roll_.clampViewport();
    roll_.syncScrollBars();
  }

  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return;
    const QPoint at = event->position().toPoint();
    const RollGeometry g = roll_.geometry();
    if (g.notes().contains(at)) {
      const int32_t hit = roll_.noteAt(at);
      if (hit >= 0) Q_EMIT roll_.noteClicked(roll_.model_.notes()[static_cast<size_t>(hit)]);
      roll_.pressAt(at);
    } else if (g.velocityLane().contains(at)) {
      roll_.pressAt(at);
    } else if (at.x() >= g.ruler().left() && at.y() <= g.tempoLane().bottom()) {
      Q_EMIT roll_.rulerClicked(roll_.msAt(at.x()));
    }
  }

  void mouseMoveEvent(QMouseEvent* event) override {
    if (event->buttons() & Qt::LeftButton) roll_.dragTo(event->position().toPoint());
  }

  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) roll_.releaseAt(event->position().toPoint());
  }

  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Delete) {
      roll_.deleteOutlined();
      event->accept();
      return;
    }
    QWidget::keyPressEvent(event);
  }

  void mouseDoubleClickEvent(QMouseEvent* event) override {
    const QPoint at = event->position().toPoint();
    const RollGeometry g = roll_.geometry();
    if (event->button() == Qt::LeftButton && at.x() >= g.ruler().left() &&
        at.y() <= g.tempoLane().bottom()) {
      Q_EMIT roll_.rulerDoubleClicked(roll_.msAt(at.x()));
    }
  }

  // Wheel: the keys; Shift: time; Ctrl: zoom time around the mouse.
  void wheelEvent(QWheelEvent* event) override {
    const QPoint angle = event->angleDelta();
    const double notches = (angle.y() != 0 ? angle.y() : angle.x()) / WHEEL_NOTCH;
    const Qt::KeyboardModifiers mods = event->modifiers();
    if (mods & Qt::ControlModifier) {
      roll_.zoomTimeAround(std::pow(ZOOM_STEP, -notches), event->position().toPoint().x());
    } else if (mods & Qt::ShiftModifier) {
      roll_.scrollTimeBy(static_cast<int>(std::lround(-notches * TIME_PX_PER_NOTCH)));
    } else {
      roll_.scrollKeysBy(
          static_cast<int>(std::lround(-notches * KEY_ROWS_PER_NOTCH * roll_.viewport_.rowHeight)));
    }
    roll_.userMoved();
    event->accept();
  }

 private:
  PianoRoll& roll_;
};

// The legend's row: it scrolls sideways rather than widen the panel (nine channels and the
// commands are wider than a narrow panel), its scroll bar shown only while it is needed.
class HeaderStrip : public QScrollArea {
 public:
  HeaderStrip(QWidget* row, QWidget* parent) : QScrollArea(parent) {
    setObjectName("RollHeader");
    setFrameShape(QFrame::NoFrame);
    setWidget(row);
    setWidgetResizable(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    fitHeight();
  }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QScrollArea::resizeEvent(event);
    fitHeight();
  }

 private:
  void fitHeight() {
    const bool scrolls = widget()->minimumSizeHint().width() > width();
    const int bar = scrolls ? horizontalScrollBar()->sizeHint().height() : 0;
    setFixedHeight(widget()->sizeHint().height() + bar);
  }
};

PianoRoll::PianoRoll(QWidget* parent) : QWidget(parent) {
  setObjectName("PianoRoll");
  canvas_ = new Canvas(*this);
  horizontal_ = new QScrollBar(Qt::Horizontal, this);
  vertical_ = new QScrollBar(Qt::Vertical, this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  createHeader();
  auto* grid = new QGridLayout;
  grid->setSpacing(0);
  grid->addWidget(canvas_, 0, 0);
  grid->addWidget(vertical_, 0, 1);
  grid->addWidget(horizontal_, 1, 0);
  layout->addLayout(grid, 1);
  scene_.palette = palette();
  scene_.font = font();
  scene_.hint = EMPTY_HINT;
  viewport_.topPixel = (127 - 84) * viewport_.rowHeight;  // C6 near the top
  for (QScrollBar* bar : {horizontal_, vertical_}) {
    connect(bar, &QScrollBar::valueChanged, this, [this] {
      if (syncing_) return;
      viewport_.leftTick = horizontal_->value() * viewport_.ticksPerPixel;
      viewport_.topPixel = vertical_->value();
      userMoved();
      canvas_->update();
    });
  }
  refreshLegend();
  syncScrollBars();
}

PianoRoll::~PianoRoll() = default;

// The legend's check boxes with their mute and solo buttons, one a channel that has notes, then
// the two commands.
void PianoRoll::createHeader() {
  auto* row = new QWidget;
  auto* header = new QHBoxLayout(row);
  header->setContentsMargins(4, 2, 4, 2);
  header->setSpacing(6);
  for (int channel = 1; channel <= CHANNEL_COUNT; ++channel) {
    auto* box = new QCheckBox(QString("ch%1").arg(channel), this);
    box->setObjectName(QString("RollChannel%1").arg(channel));
    box->setChecked(true);
    connect(box, &QCheckBox::toggled, this,
            [this, channel](bool on) { setChannelShown(channel, on); });
    header->addWidget(box);
    legend_[static_cast<size_t>(channel - 1)] = box;
    auto* mute = new QToolButton(this);
    mute->setObjectName(QString("RollMute%1").arg(channel));
    mute->setText("M");
    mute->setToolTip(QString("ch%1 をミュート").arg(channel));
    auto* solo = new QToolButton(this);
    solo->setObjectName(QString("RollSolo%1").arg(channel));
    solo->setText("S");
    solo->setToolTip(QString("ch%1 をソロ (ソロのチャンネルだけが鳴ります)").arg(channel));
    for (QToolButton* button : {mute, solo}) {
      button->setCheckable(true);
      button->setAutoRaise(true);
      connect(button, &QToolButton::clicked, this, &PianoRoll::mixClicked);
      header->addWidget(button);
    }
    mute_[static_cast<size_t>(channel - 1)] = mute;
    solo_[static_cast<size_t>(channel - 1)] = solo;
  }
  drawChannel_ = new QComboBox(this);
  drawChannel_->setObjectName("RollDrawChannel");
  drawChannel_->setToolTip("ドラッグして音符を描くチャンネル");
  for (int channel = 1; channel <= CHANNEL_COUNT; ++channel)
    drawChannel_->addItem(QString("ch%1").arg(channel));
  grid_ = new QComboBox(this);
  grid_->setObjectName("RollGrid");
  grid_->setToolTip("描く音符, 動かす音符と長さを合わせる単位");
  for (const GridChoice& choice : GRIDS) grid_->addItem(QString::fromUtf8(choice.name));
  grid_->setCurrentIndex(DEFAULT_GRID);
  connect(grid_, &QComboBox::activated, this, [this](int grid) { Q_EMIT gridChanged(grid); });
  header->addWidget(new QLabel("描く:", this));
  header->addWidget(drawChannel_);
  header->addWidget(new QLabel("グリッド:", this));
  header->addWidget(grid_);
  header->addStretch(1);
  fit_ = new QAction("全体を表示", this);
  fit_->setObjectName("fitRoll");
  fit_->setToolTip("曲全体が収まるように表示します");
  connect(fit_, &QAction::triggered, this, &PianoRoll::fit);
  save_ = new QAction("画像として保存", this);
  save_->setObjectName("saveRollPicture");
  save_->setToolTip("表示中のピアノロールを PNG 画像として保存します");
  connect(save_, &QAction::triggered, this, &PianoRoll::saveRequested);
  for (QAction* command : {fit_, save_}) {
    auto* button = new QToolButton(this);
    button->setDefaultAction(command);
    button->setAutoRaise(true);
    header->addWidget(button);
  }
  addActions({fit_, save_});
  canvas_->setContextMenuPolicy(Qt::ActionsContextMenu);
  canvas_->addActions({fit_, save_});
  static_cast<QVBoxLayout*>(layout())->addWidget(new HeaderStrip(row, this));
}

void PianoRoll::refreshLegend() {
  const bool dark = isDarkPalette(palette());
  for (int channel = 1; channel <= CHANNEL_COUNT; ++channel) {
    QCheckBox* box = legend_[static_cast<size_t>(channel - 1)];
    QPixmap swatch(12, 12);
    swatch.fill(channelColour(channel, dark));
    box->setIcon(QIcon(swatch));
    box->setVisible(model_.hasChannel(channel));
    mute_[static_cast<size_t>(channel - 1)]->setVisible(model_.hasChannel(channel));
    solo_[static_cast<size_t>(channel - 1)]->setVisible(model_.hasChannel(channel));
  }
}

// The buttons hold the mix: a click reads it back from all of them.
void PianoRoll::mixClicked() {
  ChannelMix mix;
  for (int channel = 1; channel <= CHANNEL_COUNT; ++channel) {
    if (mute_[static_cast<size_t>(channel - 1)]->isChecked()) mix.muted |= ChannelMix::bit(channel);
    if (solo_[static_cast<size_t>(channel - 1)]->isChecked())
      mix.soloed |= ChannelMix::bit(channel);
  }
  if (mix == mix_) return;
  mix_ = mix;
  Q_EMIT channelMixChanged(mix_);
}

void PianoRoll::setChannelMix(const ChannelMix& mix) {
  mix_ = mix;
  for (int channel = 1; channel <= CHANNEL_COUNT; ++channel) {
    mute_[static_cast<size_t>(channel - 1)]->setChecked(mix.isMuted(channel));
    solo_[static_cast<size_t>(channel - 1)]->setChecked(mix.isSoloed(channel));
  }
}

// Room at the left for the drum names of the keys the drum channel plays.
void PianoRoll::refreshKeyboardWidth() {
  int width = RollGeometry::KEYBOARD_WIDTH;
  if (channelShown(DRUM_CHANNEL) && viewport_.rowHeight >= DRUM_NAME_MIN_ROW_PX) {
    QFont small = font();
    small.setPixelSize(std::clamp(viewport_.rowHeight + 1, 8, 11));
    const QFontMetrics metrics(small);
    bool seen[MIDI_KEY_COUNT] = {};
    for (const RollNote& note : model_.channelNotes(DRUM_CHANNEL)) {
      if (seen[note.key]) continue;
      seen[note.key] = true;
      if (const char* name = drumName(note.key))
        width =
            std::max(width, metrics.horizontalAdvance(QString::fromLatin1(name)) + DRUM_NAME_GAP);
    }
  }
  keyboardWidth_ = width;
}

void PianoRoll::showCompilation(const std::shared_ptr<const ScoreSourceMap>& map) {
  if (map) showCompilation(*map);
}

void PianoRoll::showCompilation(const ScoreSourceMap& map) {
  model_.build(map);
  scene_.outlined.clear();
  scene_.stale = false;
  refreshLegend();
  refreshKeyboardWidth();
  if (!fitted_ && !model_.empty()) {
    fitted_ = true;
    fit();
  }
  clampViewport();
  syncScrollBars();
  canvas_->update();
}

void PianoRoll::setStale(bool stale) {
  if (scene_.stale == stale) return;
  scene_.stale = stale;
  canvas_->update();
}

void PianoRoll::outlineSource(SourcePoint from, SourcePoint to) {
  std::vector<int32_t> notes = model_.notesIn(from, to);
  if (notes == scene_.outlined) return;
  scene_.outlined = std::move(notes);
  ensureOutlinedVisible();
  canvas_->update();
}

void PianoRoll::clearOutline() {
  if (scene_.outlined.empty()) return;
  scene_.outlined.clear();
  canvas_->update();
}

// Leaves the view alone when an outlined note is in sight; otherwise puts the first one a
// little right of the left edge and its key in the middle.
void PianoRoll::ensureOutlinedVisible() {
  const RollGeometry g = geometry();
  const QRect area = g.notes();
  const RollNote* first = nullptr;
  for (const int32_t i : scene_.outlined) {
    const RollNote& note = model_.notes()[static_cast<size_t>(i)];
    if (!channelShown(note.channel)) continue;
    if (first == nullptr) first = &note;
    const int x0 = static_cast<int>(g.x(note.on));
    const int y = g.y(note.key);
    if (x0 < area.right() && g.x(note.off) >= area.left() && y >= area.top() &&
        y + viewport_.rowHeight <= area.bottom() + 1)
      return;
  }
  if (first == nullptr) return;
  viewport_.leftTick = first->on - FOLLOW_AHEAD * area.width() * viewport_.ticksPerPixel;
  viewport_.topPixel = (127 - first->key) * viewport_.rowHeight - area.height() / 2;
  clampViewport();
  syncScrollBars();
}

void PianoRoll::setPlayPosition(int64_t ms) {
  const int64_t tick = model_.tempoMap().msToTick(ms);
  if (scene_.playTick == tick) return;
  scene_.playTick = tick;
  const bool userQuiet = !sinceUser_.isValid() || sinceUser_.elapsed() >= USER_QUIET_MS;
  const RollGeometry g = geometry();
  const double x = g.x(static_cast<double>(tick));
  const QRect area = g.notes();
  if (userQuiet && (x < area.left() || x > area.right() - 2)) {
    viewport_.leftTick = tick - FOLLOW_AHEAD * area.width() * viewport_.ticksPerPixel;
    clampViewport();
    syncScrollBars();
  }
  canvas_->update();
}

void PianoRoll::clearPlayPosition() {
  if (!scene_.playTick) return;
  scene_.playTick.reset();
  sinceUser_.invalidate();
  canvas_->update();
}

void PianoRoll::setZoom(double ticksPerPixel, int rowHeight) {
  const int oldRow = viewport_.rowHeight;
  viewport_.ticksPerPixel = std::clamp(ticksPerPixel, RollViewport::TICKS_PER_PIXEL_MIN,
                                       RollViewport::TICKS_PER_PIXEL_MAX);
  viewport_.rowHeight =
      std::clamp(rowHeight, RollViewport::ROW_HEIGHT_MIN, RollViewport::ROW_HEIGHT_MAX);
  viewport_.topPixel = viewport_.topPixel * viewport_.rowHeight / std::max(oldRow, 1);
  refreshKeyboardWidth();
  clampViewport();
  syncScrollBars();
  canvas_->update();
  Q_EMIT zoomChanged();
}

void PianoRoll::zoomTimeAround(double factor, int x) {
  const RollGeometry g = geometry();
  const QRect area = g.notes();
  x = std::clamp(x, area.left(), std::max(area.left(), area.right()));
  const double tick = g.tickAt(x);
  viewport_.ticksPerPixel =
      std::clamp(viewport_.ticksPerPixel * factor, RollViewport::TICKS_PER_PIXEL_MIN,
                 RollViewport::TICKS_PER_PIXEL_MAX);
  viewport_.leftTick = tick - (x - area.left()) * viewport_.ticksPerPixel;
  clampViewport();
  syncScrollBars();
  canvas_->update();
  Q_EMIT zoomChanged();
}

void PianoRoll::scrollTimeBy(int pixels) {
  viewport_.leftTick += pixels * viewport_.ticksPerPixel;
  clampViewport();
  syncScrollBars();
  canvas_->update();
}

void PianoRoll::scrollKeysBy(int pixels) {
  viewport_.topPixel += pixels;
  clampViewport();
  syncScrollBars();
  canvas_->update();
}

// The rows first: they decide whether the drum names widen the keyboard, which narrows the
// notes' area the song must fit in.
void PianoRoll::fit() {
  const int keys = model_.highestKey() - model_.lowestKey() + 1 + 2 * FIT_MARGIN_ROWS;
  const int height = RollGeometry(canvas_->size(), viewport_, keyboardWidth_).notes().height();
  viewport_.rowHeight = std::clamp(height / std::max(keys, 1), RollViewport::ROW_HEIGHT_MIN,
                                   RollViewport::ROW_HEIGHT_MAX);
  refreshKeyboardWidth();
  const QRect area = RollGeometry(canvas_->size(), viewport_, keyboardWidth_).notes();
  const int64_t end = std::max<int64_t>(model_.endTick(), model_.division());
  viewport_.ticksPerPixel =
      std::clamp(static_cast<double>(end) / std::max(area.width() - 4, 1),
                 RollViewport::TICKS_PER_PIXEL_MIN, RollViewport::TICKS_PER_PIXEL_MAX);
  viewport_.leftTick = 0;
  const int middle = (model_.highestKey() + model_.lowestKey() + 1) / 2;
  viewport_.topPixel = (127 - middle) * viewport_.rowHeight - area.height() / 2;
  clampViewport();
  syncScrollBars();
  canvas_->update();
  Q_EMIT zoomChanged();
}

void PianoRoll::setChannelShown(int channel, bool shown) {
  QCheckBox* box = legend_[static_cast<size_t>(channel - 1)];
  if (box->isChecked() != shown) box->setChecked(shown);  // comes back here
  const uint16_t bit = static_cast<uint16_t>(1u << (channel - 1));
  const uint16_t hidden = shown ? scene_.hiddenChannels & ~bit : scene_.hiddenChannels | bit;
  if (hidden == scene_.hiddenChannels) return;
  scene_.hiddenChannels = hidden;
  refreshKeyboardWidth();
  canvas_->update();
}

int PianoRoll::drawChannel() const {
  return drawChannel_->currentIndex() + 1;
}

void PianoRoll::setDrawChannel(int channel) {
  drawChannel_->setCurrentIndex(std::clamp(channel, 1, CHANNEL_COUNT) - 1);
}

int PianoRoll::grid() const {
  return grid_->currentIndex();
}

void PianoRoll::setGrid(int grid) {
  grid_->setCurrentIndex(std::clamp(grid, 0, GRID_COUNT - 1));
}

double PianoRoll::gridUnits() const {
  const GridChoice& choice = GRIDS[grid()];
  const double units = UNITS_PER_WHOLE / choice.value;
  return choice.triplet ? units * 2 / 3 : units;
}

void PianoRoll::deleteOutlined() {
  std::vector<RollGesture> gestures;
  for (const int32_t i : scene_.outlined) {
    const RollNote& note = model_.notes()[static_cast<size_t>(i)];
    if (!channelShown(note.channel)) continue;
    if (gestures.empty() || gestures.back().channel != note.channel) {
      RollGesture g;
      g.kind = RollGesture::Kind::Delete;
      g.channel = note.channel;
      gestures.push_back(g);
    }
    gestures.back().notes.push_back(note.event);
  }
  if (!gestures.empty()) Q_EMIT gesturesMade(gestures);
}

double PianoRoll::unitsAt(int x) const {
  return (geometry().tickAt(x) - LEAD_IN_TICKS) / TICKS_PER_UNIT;
}

// The grid's line at or before `units` (down), or the nearest one; never before the start.
int64_t PianoRoll::snapped(double units, bool down) const {
  const double step = gridUnits();
  const double lines = down ? std::floor(units / step + 1e-9) : std::round(units / step);
  return std::max<int64_t>(0, std::llround(lines * step));
}

// The note whose velocity bar is at the point: the drawing channel's first, then the others.
int32_t PianoRoll::velocityNoteAt(QPoint at) const {
  const RollGeometry g = geometry();
  const auto tick = static_cast<int64_t>(std::floor(g.tickAt(at.x())));
  const auto slack = static_cast<int64_t>(std::ceil(AIM_SLACK_PX * viewport_.ticksPerPixel));
  int32_t best = -1;
  int64_t bestDistance = slack + 1;
  for (int channel = 1; channel <= CHANNEL_COUNT; ++channel) {
    if (!channelShown(channel)) continue;
    const auto [first, last] = model_.sounding(channel, tick - slack, tick + slack + 1);
    for (int32_t i = first; i < last; ++i) {
      const int64_t distance = std::abs(model_.notes()[static_cast<size_t>(i)].on - tick);
      const bool better =
          distance < bestDistance || (distance == bestDistance && channel == drawChannel());
      if (better && distance <= slack + int64_t(viewport_.ticksPerPixel * 3)) {
        best = i;
        bestDistance = distance;
      }
    }
  }
  return best;
}

void PianoRoll::pressAt(QPoint at) {
  drag_ = Drag();
  drag_.from = at;
  const RollGeometry g = geometry();
  if (g.velocityLane().contains(at)) {
    drag_.note = velocityNoteAt(at);
    if (drag_.note >= 0) drag_.kind = Drag::Kind::Velocity;
    return;
  }
  if (scene_.stale) return;
  drag_.note = noteAt(at);
  if (drag_.note < 0) {
    drag_.kind = Drag::Kind::Draw;
    return;
  }
  const RollNote& note = model_.notes()[static_cast<size_t>(drag_.note)];
  const double end = g.x(static_cast<double>(tickOfUnits(unitsOfTick(note.on) + note.units)));
  drag_.kind = std::abs(at.x() - end) <= RESIZE_GRIP_PX && at.x() > g.x(note.on) + RESIZE_GRIP_PX
                   ? Drag::Kind::Resize
                   : Drag::Kind::Move;
}

void PianoRoll::dragTo(QPoint at) {
  if (drag_.kind == Drag::Kind::None) return;
  if (!drag_.started && (at - drag_.from).manhattanLength() < DRAG_START_PX &&
      drag_.kind != Drag::Kind::Velocity)
    return;
  drag_.started = true;
  RollPreview preview;
  if (gestureOf(at, &preview)) {
    scene_.preview = preview;
  } else {
    scene_.preview.reset();
  }
  canvas_->update();
}

void PianoRoll::releaseAt(QPoint at) {
  dragTo(at);
  const Drag drag = drag_;
  drag_ = Drag();
  scene_.preview.reset();
  canvas_->update();
  if (!drag.started) return;
  drag_ = drag;
  const std::optional<RollGesture> gesture = gestureOf(at, nullptr);
  drag_ = Drag();
  if (gesture) Q_EMIT gesturesMade({*gesture});
}

// What the drag from the press to `at` would do, and the note it would leave; nothing when it
// changes nothing.
std::optional<RollGesture> PianoRoll::gestureOf(QPoint at, RollPreview* preview) const {
  const RollGeometry g = geometry();
  RollGesture gesture;
  RollPreview shown;
  if (drag_.kind == Drag::Kind::Draw) {
    const int key = g.keyAt(drag_.from.y());
    if (key < 0) return std::nullopt;
    double from = unitsAt(drag_.from.x());
    double to = unitsAt(at.x());
    if (to < from) std::swap(from, to);
    const int64_t start = snapped(from, true);
    const int64_t end = std::max(snapped(to, false), snapped(start + gridUnits(), false));
    gesture.kind = RollGesture::Kind::Draw;
    gesture.channel = drawChannel();
    gesture.start = start;
    gesture.length = std::max<int64_t>(1, end - start);
    gesture.key = key;
    shown = {gesture.channel, key, tickOfUnits(start), tickOfUnits(start + gesture.length)};
  } else if (drag_.note >= 0) {
    const RollNote& note = model_.notes()[static_cast<size_t>(drag_.note)];
    const int64_t start = unitsOfTick(note.on);
    gesture.channel = note.channel;
    gesture.note = note.event;
    shown = {note.channel, note.key, note.on, tickOfUnits(start + note.units)};
    if (drag_.kind == Drag::Kind::Move) {
      const double step = gridUnits();
      const int64_t moved =
          std::llround(std::round((unitsAt(at.x()) - unitsAt(drag_.from.x())) / step) * step);
      const int keyAt = g.keyAt(at.y());
      const int fromKey = g.keyAt(drag_.from.y());
      gesture.kind = RollGesture::Kind::Move;
      gesture.start = std::max<int64_t>(0, start + moved);
      gesture.key = std::clamp(note.key + (keyAt < 0 || fromKey < 0 ? 0 : keyAt - fromKey), 0,
                               MIDI_KEY_COUNT - 1);
      if (gesture.start == start && gesture.key == note.key) return std::nullopt;
      shown = {note.channel, gesture.key, tickOfUnits(gesture.start),
               tickOfUnits(gesture.start + note.units)};
    } else if (drag_.kind == Drag::Kind::Resize) {
      gesture.kind = RollGesture::Kind::Resize;
      gesture.length = std::max<int64_t>(1, snapped(unitsAt(at.x()), false) - start);
      if (gesture.length == note.units) return std::nullopt;
      shown.off = tickOfUnits(start + gesture.length);
    } else {
      gesture.kind = RollGesture::Kind::Velocity;
      gesture.level = levelOf(g.velocityAt(at.y()));
      shown.velocity = VELOCITY_BY_LEVEL[gesture.level];
      if (shown.velocity == note.velocity) return std::nullopt;
    }
  } else {
    return std::nullopt;
  }
  if (preview != nullptr) *preview = shown;
  return gesture;
}

bool PianoRoll::channelShown(int channel) const {
  return (scene_.hiddenChannels & (1u << (channel - 1))) == 0;
}

QWidget* PianoRoll::canvas() const {
  return canvas_;
}

RollGeometry PianoRoll::geometry() const {
  return RollGeometry(canvas_->size(), viewport_, keyboardWidth_);
}

// Channels are painted in order, so a later one lies on top and is hit first.
int32_t PianoRoll::noteAt(QPoint point) const {
  const RollGeometry g = geometry();
  if (!g.notes().contains(point)) return -1;
  const int key = g.keyAt(point.y());
  if (key < 0) return -1;
  const auto tick = static_cast<int64_t>(std::floor(g.tickAt(point.x())));
  const auto slack = static_cast<int64_t>(std::ceil(AIM_SLACK_PX * viewport_.ticksPerPixel));
  for (int channel = CHANNEL_COUNT; channel >= 1; --channel) {
    if (!channelShown(channel)) continue;
    const int32_t hit = model_.noteAt(channel, key, tick, slack);
    if (hit >= 0) return hit;
  }
  return -1;
}

QPoint PianoRoll::notePoint(int32_t index) const {
  const RollGeometry g = geometry();
  const RollNote& note = model_.notes()[static_cast<size_t>(index)];
  double x0 = std::floor(g.x(0) + note.on / viewport_.ticksPerPixel);
  double x1 = std::max(x0 + 1, std::floor(g.x(0) + note.off / viewport_.ticksPerPixel));
  const QRect area = g.notes();
  if (x0 <= area.right() && x1 > area.left()) {
    x0 = std::max<double>(x0, area.left());
    x1 = std::min<double>(x1, area.right() + 1);
  }
  return QPoint(static_cast<int>((x0 + x1 - 1) / 2), g.y(note.key) + viewport_.rowHeight / 2);
}

QPoint PianoRoll::rulerPoint(int64_t tick) const {
  const RollGeometry g = geometry();
  return QPoint(static_cast<int>(std::ceil(g.x(static_cast<double>(tick)))),
                g.ruler().top() + g.ruler().height() / 2);
}

QImage PianoRoll::picture() const {
  QImage image(canvas_->size(), QImage::Format_ARGB32_Premultiplied);
  paintCanvas(image);
  return image;
}

WriteOutcome PianoRoll::savePicture(const QString& path) const {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "png");
  if (!writer.write(picture().convertToFormat(QImage::Format_RGB32)))
    return {WriteFailure::Write, 0};
  return writeFileWhole(path, bytes);
}

void PianoRoll::changeEvent(QEvent* event) {
  if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange) {
    scene_.palette = palette();
    scene_.font = font();
    refreshLegend();
    refreshKeyboardWidth();
    canvas_->update();
  }
  QWidget::changeEvent(event);
}

// The song's end comes at most to the middle: half a view behind it to draw in, no more.
void PianoRoll::clampViewport() {
  const QRect area = geometry().notes();
  const double visible = area.width() * viewport_.ticksPerPixel;
  const double end = static_cast<double>(model_.endTick());
  viewport_.leftTick = std::clamp(viewport_.leftTick, 0.0, std::max(0.0, end - visible / 2));
  const int keysHeight = 128 * viewport_.rowHeight;
  viewport_.topPixel = std::clamp(viewport_.topPixel, 0, std::max(0, keysHeight - area.height()));
}

void PianoRoll::syncScrollBars() {
  syncing_ = true;
  const QRect area = geometry().notes();
  const double tpp = viewport_.ticksPerPixel;
  const auto endPx = static_cast<int>(
      std::min(static_cast<double>(model_.endTick()) / tpp + area.width() / 2.0, 2.0e9));
  horizontal_->setRange(0, std::max(0, endPx - area.width()));
  horizontal_->setPageStep(std::max(1, area.width()));
  horizontal_->setSingleStep(TIME_PX_PER_NOTCH / 4);
  horizontal_->setValue(static_cast<int>(std::lround(viewport_.leftTick / tpp)));
  vertical_->setRange(0, std::max(0, 128 * viewport_.rowHeight - area.height()));
  vertical_->setPageStep(std::max(1, area.height()));
  vertical_->setSingleStep(viewport_.rowHeight);
  vertical_->setValue(viewport_.topPixel);
  syncing_ = false;
}

void PianoRoll::userMoved() {
  sinceUser_.start();
}

void PianoRoll::paintCanvas(QImage& image) const {
  paintRoll(image, model_, RollGeometry(image.size(), viewport_, keyboardWidth_), scene_);
}

int64_t PianoRoll::msAt(int x) const {
  const double tick = std::max(0.0, geometry().tickAt(x));
  return model_.tempoMap().tickToMs(static_cast<int64_t>(tick));
}
