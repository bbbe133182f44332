#include "editor/compile/background_check.h"

#include <QMetaObject>
#include <QTextDocument>

#include "core/compile_driver.h"
#include "core/compile_session.h"
#include "core/output_stream.h"
#include "core/source_map.h"

namespace {

constexpr QChar LINE_SEPARATOR = QChar::ParagraphSeparator;  // between a raw text's lines

// The check's host: the copied lines as the source, a stream in memory as the output. Messages
// and boxes go nowhere (the result says what happened), and an op(autolr) leaves the window's
// toggle alone: this runs off the user-interface thread.
class CheckHost : public EditorCompileHost {
 public:
  CheckHost(const std::vector<QByteArray>& lines, MemoryOutputStream& output, SourceMap& map)
      : lines_(lines), output_(output), map_(map) {}

  void messageLine(std::string_view) override {}
  void alert(std::string_view) override {}
  int32_t sourceLineCount() override { return static_cast<int32_t>(lines_.size()); }
  std::string_view sourceLine(int32_t index) override {
    const QByteArray& line = lines_[static_cast<size_t>(index)];
    return std::string_view(line.constData(), static_cast<size_t>(line.size()));
  }
  // Only the dropped messages quote source bytes.
  std::string displayText(std::string_view) override { return {}; }
  int32_t displayColumns(std::string_view) override { return 0; }
  OutputStream* openOutput() override {
    output_.clear();
    return &output_;
  }
  int32_t closeOutput(bool keep) override {
    if (!keep) output_.clear();
    return OUTPUT_CLOSED;
  }
  SourceMap* sourceMap() override { return &map_; }
  void diagnosed(const Diagnostic& diagnostic) override { failure_.take(diagnostic); }

  const std::optional<CompileFailure>& failure() const { return failure_.failure(); }

 private:
  const std::vector<QByteArray>& lines_;
  MemoryOutputStream& output_;
  SourceMap& map_;
  FailureKeeper failure_;
};

// The editor's lines in the bytes the compiler reads: a final empty line (behind a last line
// end, or of an empty text) is no line, as in editorLineCount().
std::vector<QByteArray> compiledLines(const CheckRequest& request) {
  std::vector<QByteArray> lines;
  const QStringView text(request.text);
  qsizetype start = 0;
  for (;;) {
    const qsizetype end = text.indexOf(LINE_SEPARATOR, start);
    const QStringView line = text.mid(start, (end < 0 ? text.size() : end) - start);
    if (end < 0) {
      if (!line.isEmpty()) lines.push_back(compileBytes(line, request.encoding));
      return lines;
    }
    lines.push_back(compileBytes(line, request.encoding));
    start = end + 1;
  }
}

}  // namespace

CheckRequest checkRequestOf(const QTextDocument& text, TextEncoding encoding, bool q7Default,
                            bool autoPan) {
  return CheckRequest{0, text.toRawText(), encoding, q7Default, autoPan};
}

// One no longer held elsewhere, else a new one; the newest at the end.
template <typename T>
std::shared_ptr<T> CheckStorage::take(std::vector<std::shared_ptr<T>>& kept) {
  std::shared_ptr<T> taken;
  for (auto it = kept.begin(); it != kept.end(); ++it) {
    if (it->use_count() == 1) {
      taken = std::move(*it);
      kept.erase(it);
      break;
    }
  }
  if (!taken) taken = std::make_shared<T>();
  if (kept.size() >= KEPT) kept.erase(kept.begin());
  kept.push_back(taken);
  return taken;
}

std::shared_ptr<ScoreSourceMap> CheckStorage::freeMap() {
  return take(maps_);
}

std::shared_ptr<std::vector<uint8_t>> CheckStorage::freeMidi() {
  return take(midis_);
}

CheckResult runCheck(CompileSession& session, const CheckRequest& request) {
  CheckStorage storage;
  return runCheck(session, request, storage);
}

CheckResult runCheck(CompileSession& session, const CheckRequest& request, CheckStorage& storage) {
  const std::vector<QByteArray> lines = compiledLines(request);
  CheckHost host(lines, storage.output, storage.recording);
  MemoryOutputStream unused;  // the compiled-data image's stream: a check writes MIDI
  prepareEditorCompilation(session, host, false, unused);
  session.q7Default = request.q7Default;
  session.autoPan = request.autoPan;
  const int32_t code = compileSource(session);
  session.host = nullptr;

  CheckResult result;
  result.revision = request.revision;
  if (code != 0) {
    result.failure = host.failure();
    result.outcome =
        result.failure ? CheckResult::Outcome::ScoreError : CheckResult::Outcome::Failed;
    return result;
  }
  const std::shared_ptr<std::vector<uint8_t>> midi = storage.freeMidi();
  midi->assign(storage.output.bytes().begin(), storage.output.bytes().end());
  storage.output.clear();
  const std::shared_ptr<ScoreSourceMap> map = storage.freeMap();
  if (!map->build(storage.recording, midi->data(), midi->size(), nullptr)) return result;
  result.outcome = CheckResult::Outcome::Clean;
  result.map = map;
  result.midi = midi;
  return result;
}

BackgroundCheck::BackgroundCheck(QObject* parent) : QObject(parent) {}

BackgroundCheck::~BackgroundCheck() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    waiting_.reset();
  }
  wake_.notify_one();
  if (worker_.joinable()) worker_.join();
}

void BackgroundCheck::start(CheckRequest request) {
  request.revision = revision_;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    waiting_ = std::move(request);
  }
  // The worker and its session exist only once the first check is asked for: a run with the
  // check off has neither.
  if (!worker_.joinable()) worker_ = std::thread([this] { work(); });
  wake_.notify_one();
}

bool BackgroundCheck::busy() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return running_ || waiting_.has_value();
}

void BackgroundCheck::deliver(const CheckResult& result) {
  if (result.revision != revision_) return;
  Q_EMIT checked(result);
}

// The worker: one session for the whole run (the core keeps nothing outside its session), one
// check at a time. The result is posted before the check counts as done, so that once busy()
// is false the result waits in this object's event queue.
void BackgroundCheck::work() {
  const auto session = std::make_unique<CompileSession>();
  CheckStorage storage;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || waiting_.has_value(); });
    if (stopping_) return;
    const CheckRequest request = std::move(*waiting_);
    waiting_.reset();
    running_ = true;
    lock.unlock();
    CheckResult result = runCheck(*session, request, storage);
    QMetaObject::invokeMethod(
        this, [this, result = std::move(result)] { deliver(result); }, Qt::QueuedConnection);
    lock.lock();
    running_ = false;
  }
}
