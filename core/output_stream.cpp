#include "core/output_stream.h"

#include <cstring>

void MemoryOutputStream::write(const uint8_t* data, size_t size) {
  if (failed_ || size == 0) return;
  const size_t end = static_cast<size_t>(position_) + size;
  if (end > bytes_.size()) bytes_.resize(end);
  std::memcpy(bytes_.data() + position_, data, size);
  position_ = static_cast<int64_t>(end);
}

void MemoryOutputStream::seek(int64_t position) {
  if (failed_) return;
  if (position < 0 || position > static_cast<int64_t>(bytes_.size())) {
    failed_ = true;
    return;
  }
  position_ = position;
}

void MemoryOutputStream::clear() {
  bytes_.clear();
  position_ = 0;
  failed_ = false;
}
