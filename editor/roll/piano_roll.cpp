#include "editor/roll/piano_roll.h"

#include <QAction>
#include <QBuffer>
#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImageWriter>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
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
constexpr int DRUM_NAME_GAP = 30;  // the piano keys and some air beside a drum name

}  // namespace

// The surface the roll is painted on; it hands the mouse to the roll.
class PianoRoll::Canvas : public QWidget {
 public:
  explicit Canvas(PianoRoll& roll) : QWidget(&roll), roll_(roll) {
    setObjectName("RollCanvas");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::ClickFocus);
    setMinimumSize(120, 80);
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
    } else if (at.x() >= g.ruler().left() && at.y() <= g.tempoLane().bottom()) {
      Q_EMIT roll_.rulerClicked(roll_.msAt(at.x()));
    }
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

// The legend's check boxes, one a channel that has notes, then the two commands.
void PianoRoll::createHeader() {
  auto* header = new QHBoxLayout;
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
  }
  header->addStretch(1);
  fit_ = new QAction("全体を表示", this);
  fit_->setObjectName("RollFit1");
  fit_->setToolTip("曲全体が収まるように表示します");
  connect(fit_, &QAction::triggered, this, &PianoRoll::fit);
  save_ = new QAction("画像として保存", this);
  save_->setObjectName("RollSave1");
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
  static_cast<QVBoxLayout*>(layout())->addLayout(header);
}

void PianoRoll::refreshLegend() {
  const bool dark = isDarkPalette(palette());
  for (int channel = 1; channel <= CHANNEL_COUNT; ++channel) {
    QCheckBox* box = legend_[static_cast<size_t>(channel - 1)];
    QPixmap swatch(12, 12);
    swatch.fill(channelColour(channel, dark));
    box->setIcon(QIcon(swatch));
    box->setVisible(model_.hasChannel(channel));
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

void PianoRoll::fit() {
  const QRect area = RollGeometry(canvas_->size(), viewport_, keyboardWidth_).notes();
  const int64_t end = std::max<int64_t>(model_.endTick(), model_.division());
  viewport_.ticksPerPixel =
      std::clamp(static_cast<double>(end) / std::max(area.width() - 4, 1),
                 RollViewport::TICKS_PER_PIXEL_MIN, RollViewport::TICKS_PER_PIXEL_MAX);
  viewport_.leftTick = 0;
  const int keys = model_.highestKey() - model_.lowestKey() + 1 + 2 * FIT_MARGIN_ROWS;
  viewport_.rowHeight = std::clamp(area.height() / std::max(keys, 1), RollViewport::ROW_HEIGHT_MIN,
                                   RollViewport::ROW_HEIGHT_MAX);
  const int middle = (model_.highestKey() + model_.lowestKey() + 1) / 2;
  viewport_.topPixel = (127 - middle) * viewport_.rowHeight - area.height() / 2;
  refreshKeyboardWidth();
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

void PianoRoll::clampViewport() {
  const QRect area = geometry().notes();
  const double visible = area.width() * viewport_.ticksPerPixel;
  const double end = static_cast<double>(model_.endTick()) + visible / 2;
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
  horizontal_->setRange(0, std::max(0, endPx - area.width() / 2));
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
