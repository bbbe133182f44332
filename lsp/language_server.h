// The language server: the protocol's requests and notifications over the open scores. It runs
// on one thread; the program's loop (lsp/server_loop.h) hands it the messages that arrived
// together and, when the input is quiet, lets it do the work it put off (the diagnostics of
// changed scores).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "lsp/score_analysis.h"
#include "lsp/score_text.h"

class LineHighlighter;
struct OpenScore;

class LanguageServer {
 public:
  using Clock = std::chrono::steady_clock;
  // send: one whole message body to the client.
  explicit LanguageServer(std::function<void(const std::string&)> send);
  ~LanguageServer();
  LanguageServer(const LanguageServer&) = delete;
  LanguageServer& operator=(const LanguageServer&) = delete;

  // How long after a score's last change its diagnostics are computed, and how long changes
  // that keep coming may hold them back: the first change not yet reported is reported at most
  // this long after it came.
  static constexpr std::chrono::milliseconds DIAGNOSTICS_DELAY{150};
  static constexpr std::chrono::milliseconds DIAGNOSTICS_MAX_WAIT{500};

  // Handles message bodies that arrived together, in order. A $/cancelRequest among them
  // cancels the requests it names before they run; a request about a score that a later
  // message of the batch changes is answered ContentModified. A body nested deeper than
  // MESSAGE_NESTING_MAX (lsp/message_json.h) is refused unread.
  void handleBatch(const std::vector<std::string>& bodies);
  // A message that could not be read: a framing error costs only that message.
  void frameRejected(const char* reason);

  // When the put-off work is due (nothing when there is none), and that work.
  std::optional<Clock::time_point> pendingWorkDue() const;
  void runPendingWork(Clock::time_point now);

  bool exitRequested() const { return exitRequested_; }
  // The status of the program: 0 after shutdown, 1 otherwise.
  int exitStatus() const { return shutdown_ ? 0 : 1; }

 private:
  struct Batch;
  struct Answer;
  struct Method;
  // The methods the server knows, by name.
  static const std::unordered_map<std::string_view, Method>& methods();
  void handle(Batch& batch, size_t index);
  void refuseTooDeep(const nlohmann::json& message);
  std::function<void(const std::string&)> send_;
  struct State;
  std::unique_ptr<State> state_;
  bool shutdown_ = false;
  bool exitRequested_ = false;
};
