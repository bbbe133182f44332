// The check as you type: the editor's text compiled in memory on a worker thread of its own,
// with a compile session of its own, from a copy of the text taken on the user-interface thread.
// A check writes no file, plays nothing, reports nothing to the message pane and shows no box;
// it hands back where the score fails or, when it compiles, the MIDI file it would write and the
// text against that file's time. Each copy of the text carries the revision it was taken at;
// a result whose revision is no longer the current one is dropped, so a stale result never
// reaches the window.
#pragma once

#include <QObject>
#include <QString>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "core/output_stream.h"
#include "core/score_source_map.h"
#include "core/source_map.h"
#include "editor/compile/editor_compile_host.h"
#include "editor/document/text_codec.h"

struct CompileSession;
class QTextDocument;

// The text of one check and the session settings a compilation carries over: a copy, so that
// the worker never reads the editor's document.
struct CheckRequest {
  quint64 revision = 0;
  QString text;  // the document's raw text: its lines separated by U+2029
  TextEncoding encoding = TextEncoding::Cp932;
  bool q7Default = false;
  bool autoPan = false;
};

// A copy of `text` as a check reads it (revision 0: BackgroundCheck::start() sets it).
CheckRequest checkRequestOf(const QTextDocument& text, TextEncoding encoding, bool q7Default,
                            bool autoPan);

// What one check found.
struct CheckResult {
  enum class Outcome {
    Clean,       // compiled: `map` and `midi` are set
    ScoreError,  // the score stopped it: `failure` says where
    Failed,      // memory failed, or the written file could not be timed
  };
  quint64 revision = 0;
  Outcome outcome = Outcome::Failed;
  std::optional<CompileFailure> failure;
  std::shared_ptr<const ScoreSourceMap> map;
  std::shared_ptr<const std::vector<uint8_t>> midi;

  bool clean() const { return outcome == Outcome::Clean; }
};

// What checks write into, kept from one check to the next so that checking a large score again
// and again does not allocate and touch fresh memory each time: the output, the recording, and
// the maps and MIDI files handed out, each taken again once nobody else holds it.
class CheckStorage {
 public:
  MemoryOutputStream output;
  SourceMap recording;

  std::shared_ptr<ScoreSourceMap> freeMap();
  std::shared_ptr<std::vector<uint8_t>> freeMidi();

 private:
  // Handed out at most this many checks ago: the window holds the last clean result, a roll
  // the one before while it draws the new one.
  static constexpr size_t KEPT = 3;
  template <typename T>
  static std::shared_ptr<T> take(std::vector<std::shared_ptr<T>>& kept);

  std::vector<std::shared_ptr<ScoreSourceMap>> maps_;
  std::vector<std::shared_ptr<std::vector<uint8_t>>> midis_;
};

// One check of `request` on `session`, on the calling thread: the whole compilation, the source
// map recorded and timed against the MIDI file. The session's carried-over settings are those
// of the request.
CheckResult runCheck(CompileSession& session, const CheckRequest& request, CheckStorage& storage);
CheckResult runCheck(CompileSession& session, const CheckRequest& request);

class BackgroundCheck : public QObject {
  Q_OBJECT
 public:
  explicit BackgroundCheck(QObject* parent = nullptr);
  // Waits for a running check; its result is dropped.
  ~BackgroundCheck() override;

  // The revision of the text: a result is current only while it is unchanged.
  quint64 revision() const { return revision_; }
  // The text changed, or a compilation of the editor took over: results of the copies taken so
  // far are stale.
  void invalidate() { ++revision_; }

  // Checks `request` at the current revision on the worker. A request still waiting is replaced:
  // only the newest copy of the text is checked.
  void start(CheckRequest request);
  // A check is waiting or running.
  bool busy() const;

  // A result from the worker, on this object's thread: passed on through checked() when its
  // revision is current, dropped otherwise.
  void deliver(const CheckResult& result);

 Q_SIGNALS:
  // A current result.
  void checked(const CheckResult& result);

 private:
  void work();

  quint64 revision_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<CheckRequest> waiting_;
  bool running_ = false;
  bool stopping_ = false;
  std::thread worker_;  // started by the first start()
};
