// Follow the score: while the compiled score plays, the commands sounding now are marked in the
// editor pane (every channel), and the view keeps the caret channel's sounding command in
// sight, unless the user typed or scrolled a moment ago. The marks come from the last
// compilation's source map; once the text is edited after it, they would land on other
// characters, so there are none until the next compilation.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTextCursor>
#include <cstdint>
#include <vector>

#include "core/score_source_map.h"

class ScoreDocument;
class SourceEdit;

class ScoreFollower : public QObject {
  Q_OBJECT
 public:
  // After the user types or scrolls, the view is left where it is for this long.
  static constexpr int USER_QUIET_MS = 3000;

  ScoreFollower(SourceEdit& editor, const ScoreDocument& document, QObject* parent = nullptr);

  // A compilation has just made `map` the one being played: the text is as it was compiled.
  void compiled(const ScoreSourceMap* map);
  // Marks what sounds at `ms` of the played file and keeps the caret channel's mark in view.
  void follow(int64_t ms);
  // Takes the marks away (playback ended, or following was switched off).
  void clear();

  // The marked commands, in channel order.
  const std::vector<ScoreSourceMap::Sounding>& sounding() const { return shown_; }

 private:
  void userActed();
  void keepInView(const QTextCursor& mark);

  SourceEdit& editor_;
  const ScoreDocument& document_;
  const ScoreSourceMap* map_ = nullptr;  // null: nothing to follow
  std::vector<ScoreSourceMap::Sounding> found_;
  std::vector<ScoreSourceMap::Sounding> shown_;
  QElapsedTimer sinceUser_;  // invalid: the user has not acted since the play began
  bool scrolling_ = false;   // the follower's own scrolling, not the user's
};
