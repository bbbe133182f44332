// A file output that lands at its name only when complete: bytes go to a new temporary file in
// the target's directory, which replaces the target on commit() and is removed on discard().
#pragma once

#include <string>

#include "core/compile_host.h"

class OutputFile : public OutputStream {
 public:
  explicit OutputFile(std::string targetPath);
  ~OutputFile() override;  // discards an output that was neither committed nor discarded
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool open();  // creates the temporary file; false when it cannot be created
  void write(const uint8_t* data, size_t size) override;
  int64_t position() const override { return position_; }
  void seek(int64_t position) override;
  bool failed() const override { return failed_; }

  // Flushes, closes and renames onto the target: OUTPUT_CLOSED, OUTPUT_WRITE_FAILED or
  // OUTPUT_REPLACE_FAILED; on failure the temporary file is removed and the target untouched.
  int32_t commit();
  void discard();

  const std::string& temporaryPath() const { return tempPath_; }

 private:
  bool flushBuffer();

  std::string target_;
  std::string tempPath_;
  int fd_ = -1;
  bool failed_ = false;
  int64_t position_ = 0;     // logical position of the next write
  int64_t bufferStart_ = 0;  // file position of buffer_[0]
  size_t bufferUsed_ = 0;
  static constexpr size_t BUFFER_BYTES = 65536;
  uint8_t buffer_[BUFFER_BYTES];
};

// True when writing an output at `outputPath` would overwrite the file at `sourcePath`: both
// names reach the same file (the same name, a hard link, or a symbolic link either way). A
// program refuses such an output rather than replace the score it was made from.
bool outputWouldOverwrite(const std::string& outputPath, const std::string& sourcePath);
