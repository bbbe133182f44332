#include "import/midi_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool readMidiInput(const std::string& path, std::vector<uint8_t>& bytes, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = std::string("開けません (") + std::strerror(errno) + ")";
    return false;
  }
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if (!ok) error = "通常のファイルではありません";
  if (ok && info.st_size > MIDI_INPUT_BYTES_MAX) {
    error = "ファイルが大きすぎます (64 MiB まで)";
    ok = false;
  }
  if (ok) {
    bytes.resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        error = std::string("読めません (") + std::strerror(errno) + ")";
        ok = false;
      }
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    bytes.resize(done);
  }
  ::close(fd);
  return ok;
}
