#include "editor/ui/roll_link.h"

#include <QAction>
#include <QDockWidget>
#include <QEvent>
#include <QFileInfo>
#include <QScreen>
#include <QStatusBar>
#include <QTextBlock>
#include <algorithm>

#include "core/score_source_map.h"
#include "editor/document/score_document.h"
#include "editor/document/text_codec.h"
#include "editor/editor_services.h"
#include "editor/playback/playback_controller.h"
#include "editor/roll/piano_roll.h"
#include "editor/roll/roll_edit.h"
#include "editor/roll/roll_painter.h"
#include "editor/settings/additional_settings.h"
#include "editor/ui/check_as_you_type.h"
#include "editor/ui/file_dialog_folder.h"
#include "editor/ui/main_window.h"
#include "editor/ui/player_window.h"
#include "editor/ui/screen_fit.h"
#include "editor/view/score_view.h"
#include "editor/view/source_edit.h"

namespace {

constexpr int STORE_DELAY_MS = 1000;  // zooming and dragging settle before the file is written
const QStringList PICTURE_FILTERS = {"PNG 画像 (*.png)", "すべてのファイル (*)"};

constexpr Qt::DockWidgetArea AREAS[] = {Qt::BottomDockWidgetArea, Qt::LeftDockWidgetArea,
                                        Qt::RightDockWidgetArea, Qt::TopDockWidgetArea};

RollSettings::Place placeOf(Qt::DockWidgetArea area) {
  for (int i = 0; i < int(std::size(AREAS)); ++i) {
    if (AREAS[i] == area) return RollSettings::Place(i);
  }
  return RollSettings::Place::Bottom;
}

// The point before the character at `position` of the text, as the compiler counts bytes.
SourcePoint sourcePoint(const QTextDocument& text, const ScoreDocument& document, int position) {
  const QTextBlock block = text.findBlock(position);
  const int line = block.blockNumber();
  return {line, document.byteColumn(line, position - block.position())};
}

}  // namespace

RollLink::RollLink(TForm1& window, EditorServices& services, QAction* toggle)
    : QObject(&window), window_(window), services_(services), toggle_(toggle) {
  roll_ = new PianoRoll;
  dock_ = new QDockWidget("ピアノロール", &window);
  dock_->setObjectName("PianoRollDock");
  dock_->setWidget(roll_);
  window.addDockWidget(Qt::BottomDockWidgetArea, dock_);
  dock_->hide();
  storeTimer_.setSingleShot(true);
  storeTimer_.setInterval(STORE_DELAY_MS);
  connect(&storeTimer_, &QTimer::timeout, this, &RollLink::store);

  connect(toggle_, &QAction::toggled, dock_, &QWidget::setVisible);
  connect(dock_->toggleViewAction(), &QAction::toggled, this, &RollLink::shownChanged);
  connect(dock_, &QDockWidget::dockLocationChanged, this, [this] { storeTimer_.start(); });
  connect(dock_, &QDockWidget::topLevelChanged, this, [this] { storeTimer_.start(); });
  dock_->installEventFilter(this);
  window.installEventFilter(this);
  connect(roll_, &PianoRoll::zoomChanged, this, [this] { storeTimer_.start(); });

  ScoreView& view = window.view();
  connect(&view, &ScoreView::caretMoved, this, &RollLink::caretMoved);
  connect(&view.text(), &QTextDocument::contentsChange, this, [this](int, int r, int a) {
    if (r == 0 && a == 0) return;
    textMatches_ = false;
    roll_->clearOutline();
  });
  connect(roll_, &PianoRoll::noteClicked, this, &RollLink::noteClicked);
  connect(roll_, &PianoRoll::rulerClicked, this, &RollLink::rulerClicked);
  connect(roll_, &PianoRoll::rulerDoubleClicked, this, &RollLink::rulerDoubleClicked);
  connect(roll_, &PianoRoll::saveRequested, this, &RollLink::saveAsked);
  connect(roll_, &PianoRoll::gesturesMade, this, &RollLink::gesturesMade);
  connect(roll_, &PianoRoll::gridChanged, this, [this] { storeTimer_.start(); });
  connect(roll_, &PianoRoll::channelMixChanged, this, &RollLink::mixChanged);
  connect(window.Form2->Timer1, &QTimer::timeout, this, &RollLink::followPlayer);
  connect(window.Form2, &TForm2::closed, roll_, &PianoRoll::clearPlayPosition);
  player_ = window.Form2;
  player_->installEventFilter(this);
  restore();
}

RollLink::~RollLink() = default;

void RollLink::compiled(const ScoreSourceMap& map) {
  textMatches_ = true;
  pendingShared_.reset();
  pending_ = &map;
  shownShared_.reset();
  shown_ = &map;
  if (dock_->isVisible()) buildPending();
}

void RollLink::compiled(std::shared_ptr<const ScoreSourceMap> map) {
  if (!map) return;
  textMatches_ = true;
  pending_ = map.get();
  shown_ = map.get();
  shownShared_ = map;
  pendingShared_ = std::move(map);
  if (dock_->isVisible()) buildPending();
}

void RollLink::setStale(bool stale) {
  roll_->setStale(stale);
}

void RollLink::buildPending() {
  if (pending_ == nullptr) return;
  roll_->showCompilation(*pending_);
  pending_ = nullptr;
  pendingShared_.reset();
  caretMoved();
}

void RollLink::shownChanged(bool shown) {
  if (toggle_->isChecked() != shown) toggle_->setChecked(shown);
  if (shown) {
    if (!sized_) giveFirstSize();
    buildPending();
  }
  if (!restoring_) storeTimer_.start();
}

// A panel shown with no size of its own yet would get what is left of the window, a few rows.
// It gets a useful height instead, the window growing by as much where the screen has room so
// that the score keeps its lines.
void RollLink::giveFirstSize() {
  sized_ = true;
  if (dock_->isFloating()) return;
  const Qt::DockWidgetArea area = window_.dockWidgetArea(dock_);
  if (area != Qt::TopDockWidgetArea && area != Qt::BottomDockWidgetArea) return;
  if (!window_.isMaximized() && !window_.isFullScreen()) {
    const QScreen* screen = window_.screen();
    const int room =
        screen ? screen->availableGeometry().bottom() - window_.frameGeometry().bottom() : 0;
    const int grow = std::clamp(room, 0, FIRST_ROLL_HEIGHT);
    if (grow > 0) window_.resize(window_.width(), window_.height() + grow);
  }
  window_.resizeDocks({dock_}, {FIRST_ROLL_HEIGHT}, Qt::Vertical);
}

// A kept height comes back in a window of the start size: the score (the text and the messages)
// keeps at least half of the window's height, the panel giving way.
void RollLink::keepScoreHalf() {
  if (!dock_->isVisible() || dock_->isFloating()) return;
  const Qt::DockWidgetArea area = window_.dockWidgetArea(dock_);
  if (area != Qt::TopDockWidgetArea && area != Qt::BottomDockWidgetArea) return;
  const int short_ = window_.height() / 2 - window_.centralWidget()->height();
  if (short_ <= 0) return;
  window_.resizeDocks({dock_}, {std::max(0, dock_->height() - short_)}, Qt::Vertical);
}

// The player window opens centred and on top; while the panel shows, not over its legend, ruler
// and tempo lane, which the play line and a click to seek need: over the score instead, still
// centred across the screen.
void RollLink::placePlayer() {
  if (!dock_->isVisible()) return;
  QWidget& player = *player_;
  const QPoint top = dock_->mapToGlobal(QPoint(0, 0));
  const int rulerBottom =
      roll_->canvas()
          ->mapToGlobal(QPoint(0, RollGeometry::RULER_HEIGHT + RollGeometry::TEMPO_HEIGHT))
          .y();
  const QRect rollTop(top, QPoint(top.x() + dock_->width() - 1, rulerBottom));
  QRect frame = player.frameGeometry();
  if (!frame.intersects(rollTop)) return;
  const QWidget& score = *window_.centralWidget();
  const QRect scoreRect(score.mapToGlobal(QPoint(0, 0)), score.size());
  frame.moveCenter(QPoint(frame.center().x(), scoreRect.center().y()));
  if (frame.intersects(rollTop)) frame.moveBottom(rollTop.top() - 1);  // a low score pane
  player.move(frame.topLeft() + (player.pos() - player.frameGeometry().topLeft()));
}

// The notes of the commands the caret stands at, or the selection covers.
void RollLink::caretMoved() {
  if (!dock_->isVisible() || pending_ != nullptr) return;
  if (!textMatches_) {
    roll_->clearOutline();
    return;
  }
  const ScoreView& view = window_.view();
  const QTextCursor cursor = view.textCursor();
  const QTextDocument& text = view.text();
  const ScoreDocument& document = window_.document();
  roll_->outlineSource(sourcePoint(text, document, cursor.selectionStart()),
                       sourcePoint(text, document, cursor.selectionEnd()));
}

// The note-on command is selected and scrolled into sight; the caret's move outlines the note.
void RollLink::noteClicked(const RollNote& note) {
  if (!textMatches_) return;
  window_.view().selectSource(note.line, note.column, note.column + note.length);
}

void RollLink::rulerClicked(int64_t ms) {
  PlaybackController& playback = window_.playback();
  if (!playback.isPlaying()) return;
  MediaPlayer& player = playback.player();
  player.seek(ms);
  QString error;
  player.play(&error);
  roll_->setPlayPosition(ms);
}

void RollLink::rulerDoubleClicked(int64_t ms) {
  window_.playFromTime(ms);
}

void RollLink::followPlayer() {
  PlaybackController& playback = window_.playback();
  if (playback.isPlaying() && dock_->isVisible()) {
    roll_->setPlayPosition(playback.player().positionMs());
  } else {
    roll_->clearPlayPosition();
  }
}

// The text as the compiler reads it, the edit made in one undo step, and the check as you type
// at once, which redraws the roll; a refusal leaves the text and says why.
void RollLink::gesturesMade(const std::vector<RollGesture>& gestures) {
  if (!textMatches_ || shown_ == nullptr) {
    notice(QString::fromUtf8(refusalText(RollRefusal::TextChanged)));
    return;
  }
  ScoreDocument& document = window_.document();
  QTextDocument& text = document.text();
  ScoreTextLines lines;
  lines.reserve(static_cast<size_t>(text.blockCount()));
  for (QTextBlock block = text.begin(); block.isValid(); block = block.next())
    lines.push_back(compileBytes(block.text(), document.encoding()).toStdString());
  const RollEditResult result = editForGestures(lines, *shown_, gestures);
  if (!result.ok()) {
    notice(QString::fromStdString(refusalMessage(result)));
    return;
  }
  if (result.edits.empty()) return;
  QTextCursor cursor(&text);
  cursor.beginEditBlock();
  for (auto edit = result.edits.rbegin(); edit != result.edits.rend(); ++edit) {
    const QTextBlock block = text.findBlockByNumber(edit->line);
    const int from = document.characterColumn(edit->line, edit->column);
    const int to = document.characterColumn(edit->line, edit->column + edit->length);
    cursor.setPosition(block.position() + from);
    cursor.setPosition(block.position() + to, QTextCursor::KeepAnchor);
    cursor.insertText(QString::fromLatin1(edit->text));  // commands are ASCII
  }
  cursor.endEditBlock();
  window_.checkAsYouType().checkNow();
}

void RollLink::notice(const QString& text) {
  window_.statusBar()->showMessage(text, STATUS_NOTICE_MS);
}

void RollLink::saveAsked() {
  const QString name = services_.saveFileName(
      roll_,
      {PICTURE_FILTERS, "png", scoreDialogFolder(window_.document(), window_.additionalSettings()),
       QFileInfo(withExtension(window_.document().sourcePath(), ".png")).fileName(), true});
  if (name.isEmpty()) return;
  WriteOutcome outcome = window_.document().checkOutput(name);
  if (outcome.ok()) outcome = roll_->savePicture(name);
  if (outcome.ok()) return;
  services_.messageBox(
      roll_, QString("画像を保存できません.\n%1\n%2").arg(name, describeWriteFailure(outcome)),
      std::nullopt, BoxButtons::Ok, BoxIcon::Stop);
}

// The panel where it was, its zoom, and shown when it was. A kept size or place that the
// screens cannot hold gives way to the default: the roll's canvas is as large as the panel.
void RollLink::restore() {
  restoring_ = true;
  const RollSettings& kept = window_.additionalSettings().roll();
  const QList<QRect> screens = availableScreenAreas();
  roll_->setZoom(kept.ticksPerPixel, kept.rowHeight);
  roll_->setGrid(kept.grid);
  roll_->setChannelMix(kept.mix);
  services_.mediaPlayer().setChannelMix(kept.mix);
  RollSettings view = kept;
  view.mix = {};
  if (!(view == RollSettings())) roll_->keepZoom();  // the file holds the roll's view
  if (kept.place == RollSettings::Place::Floating) {
    dock_->setFloating(true);
    const QRect geometry = fitToScreens(kept.geometry, screens);
    if (!geometry.isEmpty()) dock_->setGeometry(geometry);
  } else {
    const Qt::DockWidgetArea area = AREAS[int(kept.place)];
    window_.addDockWidget(area, dock_);
    // Docked, only the extent across the window counts.
    const bool across = area == Qt::TopDockWidgetArea || area == Qt::BottomDockWidgetArea;
    const int extent = across ? kept.geometry.height() : kept.geometry.width();
    if (!kept.geometry.isEmpty() &&
        fitsOnAScreen(across ? QSize(1, extent) : QSize(extent, 1), screens)) {
      sized_ = true;
      window_.resizeDocks({dock_}, {extent}, across ? Qt::Vertical : Qt::Horizontal);
    }
  }
  toggle_->setChecked(kept.shown);
  storeTimer_.stop();
  restoring_ = false;
}

// Heard at once, the playing song included, and kept at once: the audio export takes the mix
// from the settings.
void RollLink::mixChanged(const ChannelMix& mix) {
  services_.mediaPlayer().setChannelMix(mix);
  RollSettings roll = window_.additionalSettings().roll();
  roll.mix = mix;
  window_.additionalSettings().setRoll(roll);
}

void RollLink::store() {
  RollSettings roll = window_.additionalSettings().roll();
  roll.shown = toggle_->isChecked();
  roll.place =
      dock_->isFloating() ? RollSettings::Place::Floating : placeOf(window_.dockWidgetArea(dock_));
  if (dock_->isVisible()) roll.geometry = dock_->geometry();
  roll.ticksPerPixel = roll_->viewport().ticksPerPixel;
  roll.rowHeight = roll_->viewport().rowHeight;
  roll.grid = roll_->grid();
  window_.additionalSettings().setRoll(roll);
}

// A change not yet written is written when the window goes (the settings go with the window).
bool RollLink::eventFilter(QObject* watched, QEvent* event) {
  // The window may be half destroyed here: compare addresses only.
  if (watched == player_ && event->type() == QEvent::Show) placePlayer();
  if (watched == &window_ && event->type() == QEvent::Show)
    QTimer::singleShot(0, this, &RollLink::keepScoreHalf);
  if (watched == &window_ && event->type() == QEvent::Hide && storeTimer_.isActive()) {
    storeTimer_.stop();
    store();
  }
  if (watched == dock_ && (event->type() == QEvent::Resize || event->type() == QEvent::Move) &&
      !restoring_ && dock_->isVisible())
    storeTimer_.start();
  return QObject::eventFilter(watched, event);
}
