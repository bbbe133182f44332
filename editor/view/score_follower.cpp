#include "editor/view/score_follower.h"

#include <QScrollBar>
#include <QTextBlock>
#include <algorithm>

#include "editor/document/score_document.h"
#include "editor/view/source_edit.h"

namespace {

bool sameSources(const std::vector<ScoreSourceMap::Sounding>& a,
                 const std::vector<ScoreSourceMap::Sounding>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
    return x.source.channel == y.source.channel && x.source.line == y.source.line &&
           x.source.byteColumn == y.source.byteColumn;
  });
}

// A tint under the text that reads on either background and differs from the find bar's.
QColor playingColour(const QPalette& palette) {
  const bool dark = palette.color(QPalette::Base).lightness() < 128;
  return dark ? QColor(0x2E, 0x5E, 0x3A) : QColor(0xBF, 0xEB, 0xC4);
}

}  // namespace

ScoreFollower::ScoreFollower(SourceEdit& editor, const ScoreDocument& document, QObject* parent)
    : QObject(parent), editor_(editor), document_(document) {
  // An edit makes the map's positions stale; typing or scrolling also holds the view still.
  connect(editor_.document(), &QTextDocument::contentsChange, this, [this](int, int r, int a) {
    if (r == 0 && a == 0) return;
    map_ = nullptr;
    clear();
  });
  connect(&editor_, &SourceEdit::keyReleased, this, &ScoreFollower::userActed);
  for (QScrollBar* bar : {editor_.verticalScrollBar(), editor_.horizontalScrollBar()}) {
    connect(bar, &QScrollBar::valueChanged, this, [this] {
      if (!scrolling_) userActed();
    });
  }
}

void ScoreFollower::compiled(const ScoreSourceMap* map) {
  clear();
  map_ = map;
  sinceUser_.invalidate();
}

void ScoreFollower::userActed() {
  sinceUser_.start();
}

void ScoreFollower::follow(int64_t ms) {
  if (map_ == nullptr) return;
  found_.clear();
  map_->soundingAtMs(ms, found_);
  if (sameSources(found_, shown_)) return;
  shown_ = found_;

  const QTextCursor caret = editor_.textCursor();
  const int caretLine = caret.blockNumber();
  const ChannelBlock* block =
      map_->blockAt(caretLine, document_.byteColumn(caretLine, caret.positionInBlock()));
  QTextCharFormat tint;
  tint.setBackground(playingColour(editor_.palette()));
  QList<QTextEdit::ExtraSelection> marks;
  QTextCursor caretChannelMark;
  for (const ScoreSourceMap::Sounding& sounding : shown_) {
    const ScoreSourceMap::Source& source = sounding.source;
    const QTextBlock line = editor_.document()->findBlockByNumber(source.line);
    if (!line.isValid()) continue;
    const int from = document_.characterColumn(source.line, source.byteColumn);
    const int to = document_.characterColumn(source.line, source.byteColumn + source.byteLength);
    QTextCursor mark(line);
    mark.setPosition(line.position() + from);
    mark.setPosition(line.position() + std::max(to, from + 1), QTextCursor::KeepAnchor);
    marks.append({mark, tint});
    if (block != nullptr && block->channel == source.channel) caretChannelMark = mark;
  }
  editor_.setSelections(SourceEdit::SelectionLayer::Playing, marks);
  const bool userQuiet = !sinceUser_.isValid() || sinceUser_.elapsed() >= USER_QUIET_MS;
  if (!caretChannelMark.isNull() && userQuiet) keepInView(caretChannelMark);
}

// Scrolls only when the mark is outside the pane, so that the view moves a page at a time as
// the music goes on, and never moves the caret.
void ScoreFollower::keepInView(const QTextCursor& mark) {
  const QRect shown = editor_.viewport()->rect();
  QTextCursor start = mark;
  start.setPosition(mark.selectionStart());
  const QRect at = editor_.cursorRect(start);
  if (shown.contains(at)) return;
  scrolling_ = true;
  QScrollBar* vertical = editor_.verticalScrollBar();
  if (at.top() < shown.top() || at.bottom() > shown.bottom()) {
    const int rows = shown.height() / std::max(editor_.fontMetrics().lineSpacing(), 1);
    vertical->setValue(start.blockNumber() - rows / 4);
  }
  QScrollBar* horizontal = editor_.horizontalScrollBar();
  if (at.left() < shown.left() || at.right() > shown.right()) {
    horizontal->setValue(horizontal->value() + at.left() - shown.width() / 4);
  }
  scrolling_ = false;
}

void ScoreFollower::clear() {
  found_.clear();
  if (shown_.empty()) return;
  shown_.clear();
  editor_.setSelections(SourceEdit::SelectionLayer::Playing, {});
}
