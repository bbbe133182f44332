// A file output that lands at its name only when complete. Where the name is a regular file or
// free, the bytes go to a temporary file in the target's folder that has no name until the
// commit (an O_TMPFILE file; a hidden named file where the file system has none), so a kill at
// any moment leaves the target as it was and nothing beside it. Where the name is a device or a
// named pipe (/dev/null, /dev/stdout, a pipe a reader holds open), it is never replaced: the
// whole output is kept in memory and written into it at the commit. A folder or a symbolic link
// that leads nowhere is refused.
#pragma once

#include <string>
#include <vector>

#include "core/compile_host.h"

// Why OutputFile::open() failed.
enum class OutputOpenFailure {
  None,
  Folder,        // the name is a folder
  DanglingLink,  // the name is a symbolic link to nothing
  System,        // the system refused (error(): the errno), e.g. a pipe without a reader
};

// The reason in English for the console programs, without the name: "is a folder", "is a
// symbolic link to nothing", "is a named pipe that nobody reads", or the system's words.
std::string describeOutputOpenFailure(OutputOpenFailure failure, int error);

class OutputFile : public OutputStream {
 public:
  explicit OutputFile(std::string targetPath);
  ~OutputFile() override;  // discards an output that was neither committed nor discarded
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Checks the target and opens what the bytes go to; false when refused (openFailure() says
  // why, error() gives the errno of a system failure).
  bool open();
  void write(const uint8_t* data, size_t size) override;
  int64_t position() const override { return position_; }
  void seek(int64_t position) override;
  bool failed() const override { return failed_; }

  // Puts the output in place: OUTPUT_CLOSED, OUTPUT_WRITE_FAILED or OUTPUT_REPLACE_FAILED; on
  // failure the temporary file is gone and a replaced target untouched (a device or pipe may
  // have taken part of the bytes).
  int32_t commit();
  void discard();

  OutputOpenFailure openFailure() const { return openFailure_; }
  // The errno of the system failure that refused the open or failed the output (a write, the
  // close, the rename), 0 when there was none.
  int error() const { return error_; }
  // A hidden file beside the target that holds the bytes until the commit, for a signal
  // handler to remove; empty when there is none (an unnamed file, a device).
  const std::string& temporaryPath() const { return tempPath_; }
  // True when the target is a device or a named pipe written in place.
  bool writesInPlace() const { return inPlace_; }

 private:
  bool refuse(OutputOpenFailure failure, int error);
  bool openInPlace();
  bool openTemporary();
  bool flushBuffer();
  int32_t errorResult(int error, int32_t result);  // records error, returns result
  int32_t closeForCommit();
  int32_t commitInPlace();
  int32_t commitTemporary();
  int nameUnnamedFile();

  std::string target_;
  std::string tempPath_;
  int fd_ = -1;
  bool unnamed_ = false;  // fd_ is an O_TMPFILE file with no name yet
  bool inPlace_ = false;  // the bytes gather in whole_ and go to fd_ at the commit
  bool failed_ = false;
  OutputOpenFailure openFailure_ = OutputOpenFailure::None;
  int error_ = 0;
  int64_t position_ = 0;     // logical position of the next write
  int64_t bufferStart_ = 0;  // file position of buffer_[0]
  size_t bufferUsed_ = 0;
  std::vector<uint8_t> whole_;  // the output written in place
  static constexpr size_t BUFFER_BYTES = 65536;
  uint8_t buffer_[BUFFER_BYTES];
};

// True when writing an output at `outputPath` would overwrite the file at `sourcePath`: both
// names reach the same file (the same name, a hard link, or a symbolic link either way). A
// program refuses such an output rather than replace the score it was made from.
bool outputWouldOverwrite(const std::string& outputPath, const std::string& sourcePath);
