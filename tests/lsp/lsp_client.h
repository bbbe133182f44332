// A language-server client for the tests: runs tarvik32-lsp as a child process on pipes, sends
// framed messages (or raw bytes) and reads the framed messages it answers with.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

using json = nlohmann::json;

class LspClient {
 public:
  LspClient();
  ~LspClient();  // closes the input and reaps the server

  void sendRaw(const std::string& bytes);
  static std::string framed(const json& message);
  void send(const json& message) { sendRaw(framed(message)); }
  void notify(const std::string& method, json params);
  // Sends a request and returns its response (messages in between are kept for next()).
  json request(const std::string& method, json params);
  // The next message the server sends that satisfies `wanted`; nothing when none arrives in a
  // generous time (the server hung or ended).
  std::optional<json> next(const std::function<bool(const json&)>& wanted);
  // The messages that satisfy `wanted` among those held and those that arrive within `wait`
  // (the others are held).
  std::vector<json> arrivedWithin(std::chrono::milliseconds wait,
                                  const std::function<bool(const json&)>& wanted);
  std::optional<json> response(const json& id);
  std::optional<json> diagnosticsFor(const std::string& uri);

  // initialize (with the options given) and initialized.
  json initialize(json initializationOptions = json::object(), bool offerUtf8 = false);
  void open(const std::string& uri, const std::string& text, int version = 1);

  pid_t pid() const { return pid_; }
  void closeInput();
  // The exit status once the server ended; nothing when it did not end in time.
  std::optional<int> waitForExit();

 private:
  bool readMessage(json& message, std::chrono::steady_clock::time_point deadline);
  pid_t pid_ = -1;
  int toServer_ = -1;
  int fromServer_ = -1;
  std::string buffer_;
  std::vector<json> held_;
  int nextId_ = 1;
  std::optional<int> status_;
};
