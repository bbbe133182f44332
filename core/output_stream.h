// In-memory output stream: the editor's compiled-data image, and any output kept in memory.
#pragma once

#include <vector>

#include "core/compile_host.h"

class MemoryOutputStream : public OutputStream {
 public:
  void write(const uint8_t* data, size_t size) override;
  int64_t position() const override { return position_; }
  void seek(int64_t position) override;
  bool failed() const override { return failed_; }

  const std::vector<uint8_t>& bytes() const { return bytes_; }
  void clear();

 private:
  std::vector<uint8_t> bytes_;
  int64_t position_ = 0;
  bool failed_ = false;
};
