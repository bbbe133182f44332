#include "lsp/server_loop.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "lsp/language_server.h"
#include "lsp/message_reader.h"

namespace {

constexpr size_t READ_BYTES = 1 << 16;
// The input read for one batch: a batch ends with the messages whole in it once this much came.
constexpr size_t BATCH_INPUT_BYTES_MAX = size_t{32} << 20;

// Writes all bytes; false when the client is gone.
bool writeAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

int runLanguageServer(int input, int output) {
  bool outputGone = false;
  LanguageServer server([&](const std::string& body) {
    if (outputGone) return;
    const std::string header = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    outputGone = !writeAll(output, header) || !writeAll(output, body);
  });
  MessageReader reader;
  std::vector<char> chunk(READ_BYTES);
  std::vector<std::string> batch;
  std::string body;
  while (!server.exitRequested() && !outputGone) {
    int timeout = -1;
    if (const auto due = server.pendingWorkDue()) {
      // Work that is due runs before more input is read: input that keeps coming does not hold
      // it back.
      const auto now = LanguageServer::Clock::now();
      if (*due <= now) {
        server.runPendingWork(now);
        continue;
      }
      timeout = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(*due - now).count());
    }
    pollfd waiting{input, POLLIN, 0};
    const int ready = ::poll(&waiting, 1, timeout);
    if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
    const ssize_t n = ::read(input, chunk.data(), chunk.size());
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;  // the input ended
    reader.feed(std::string_view(chunk.data(), static_cast<size_t>(n)));
    // Everything that is already waiting joins the batch, so that a later change or
    // cancellation can make earlier work unneeded; up to BATCH_INPUT_BYTES_MAX of input, taken
    // through the reader as it comes, so that an endless input is held only a piece at a time.
    batch.clear();
    auto gathered = static_cast<size_t>(n);
    for (;;) {
      for (MessageReader::Result result;
           (result = reader.next(body)) != MessageReader::Result::NEED_MORE;) {
        if (result == MessageReader::Result::MESSAGE) {
          batch.push_back(std::move(body));
        } else {
          server.frameRejected(result == MessageReader::Result::TOO_LARGE
                                   ? "a body over the size limit"
                                   : "a header without a valid Content-Length");
        }
      }
      if (gathered >= BATCH_INPUT_BYTES_MAX) break;
      pollfd more{input, POLLIN, 0};
      if (::poll(&more, 1, 0) <= 0 || !(more.revents & POLLIN)) break;
      const ssize_t m = ::read(input, chunk.data(), chunk.size());
      if (m <= 0) break;
      gathered += static_cast<size_t>(m);
      reader.feed(std::string_view(chunk.data(), static_cast<size_t>(m)));
    }
    server.handleBatch(batch);
  }
  return server.exitStatus();
}
