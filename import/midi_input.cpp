#include "import/midi_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool readMidiInput(const std::string& path, std::vector<uint8_t>& bytes, ImportMessage& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = {ImportText::CannotOpen, {std::strerror(errno)}};
    return false;
  }
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if (!ok) error = {ImportText::NotRegularFile, {}};
  if (ok && info.st_size > MIDI_INPUT_BYTES_MAX) {
    error = {ImportText::FileTooLarge, {std::to_string(MIDI_INPUT_BYTES_MAX / (1024 * 1024))}};
    ok = false;
  }
  if (ok) {
    bytes.resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        error = {ImportText::CannotRead, {std::strerror(errno)}};
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
