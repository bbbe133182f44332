#include "tests/lsp/lsp_client.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace {

constexpr auto PATIENCE = std::chrono::seconds(30);

}  // namespace

LspClient::LspClient() {
  int in[2];
  int out[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::execl(TARVIK32_LSP_PATH, "tarvik32-lsp", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  toServer_ = in[1];
  fromServer_ = out[0];
  ::signal(SIGPIPE, SIG_IGN);
}

LspClient::~LspClient() {
  closeInput();
  if (fromServer_ >= 0) ::close(fromServer_);
  if (!status_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

std::string LspClient::framed(const json& message) {
  const std::string body = message.dump();
  return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

void LspClient::sendRaw(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(toServer_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

void LspClient::notify(const std::string& method, json params) {
  send({{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}});
}

json LspClient::request(const std::string& method, json params) {
  const int id = nextId_++;
  send({{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", std::move(params)}});
  return response(id).value_or(json());
}

bool LspClient::readMessage(json& message, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const size_t headerEnd = buffer_.find("\r\n\r\n");
    if (headerEnd != std::string::npos) {
      const size_t at = buffer_.find("Content-Length: ");
      const size_t length = std::stoul(buffer_.substr(at + 16, headerEnd - at - 16));
      if (buffer_.size() >= headerEnd + 4 + length) {
        message = json::parse(buffer_.substr(headerEnd + 4, length));
        buffer_.erase(0, headerEnd + 4 + length);
        return true;
      }
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd waiting{fromServer_, POLLIN, 0};
    if (::poll(&waiting, 1, static_cast<int>(left.count())) <= 0) return false;
    char chunk[65536];
    const ssize_t n = ::read(fromServer_, chunk, sizeof chunk);
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<size_t>(n));
  }
}

std::optional<json> LspClient::next(const std::function<bool(const json&)>& wanted) {
  for (auto it = held_.begin(); it != held_.end(); ++it) {
    if (wanted(*it)) {
      json found = std::move(*it);
      held_.erase(it);
      return found;
    }
  }
  const auto deadline = std::chrono::steady_clock::now() + PATIENCE;
  json message;
  while (readMessage(message, deadline)) {
    if (wanted(message)) return message;
    held_.push_back(std::move(message));
  }
  return std::nullopt;
}

std::vector<json> LspClient::arrivedWithin(std::chrono::milliseconds wait,
                                           const std::function<bool(const json&)>& wanted) {
  std::vector<json> found;
  std::vector<json> others;
  for (json& message : held_) (wanted(message) ? found : others).push_back(std::move(message));
  held_ = std::move(others);
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (json message; readMessage(message, deadline);) {
    if (wanted(message)) {
      found.push_back(std::move(message));
    } else {
      held_.push_back(std::move(message));
    }
  }
  return found;
}

std::optional<json> LspClient::response(const json& id) {
  return next(
      [&](const json& m) { return m.contains("id") && m["id"] == id && !m.contains("method"); });
}

std::optional<json> LspClient::diagnosticsFor(const std::string& uri) {
  return next([&](const json& m) {
    return m.value("method", "") == "textDocument/publishDiagnostics" && m["params"]["uri"] == uri;
  });
}

json LspClient::initialize(json initializationOptions, bool offerUtf8) {
  json capabilities = json::object();
  if (offerUtf8) capabilities["general"]["positionEncodings"] = {"utf-8", "utf-16"};
  const json result = request("initialize", {{"processId", nullptr},
                                             {"capabilities", capabilities},
                                             {"initializationOptions", initializationOptions}});
  notify("initialized", json::object());
  return result;
}

void LspClient::open(const std::string& uri, const std::string& text, int version) {
  notify("textDocument/didOpen",
         {{"textDocument",
           {{"uri", uri}, {"languageId", "tarvik"}, {"version", version}, {"text", text}}}});
}

void LspClient::closeInput() {
  if (toServer_ >= 0) ::close(toServer_);
  toServer_ = -1;
}

std::optional<int> LspClient::waitForExit() {
  if (status_) return status_;
  const auto deadline = std::chrono::steady_clock::now() + PATIENCE;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return status_;
    }
    ::usleep(10000);
  }
  return std::nullopt;
}
