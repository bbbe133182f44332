// Every file the editor writes is written whole or not at all: the bytes go to a temporary file
// beside the target, every write is checked and the file synced before it takes the target's
// name, so a full disk, a file-size limit or a kill at any moment leaves the target as it was.
// Where the file system allows it the temporary file has no name until it is complete (an
// O_TMPFILE file, linked in at the commit), so a kill during the writes leaves nothing behind;
// elsewhere it is a hidden file beside the target. A score's previous version can be kept under
// a second name (its ".bak") without the score's own name ever being empty.
#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QString>

enum class WriteFailure {
  None,
  NotRegularFile,  // something other than a file (a folder, a device) has the target's name
  ReadOnly,        // the target exists and its owner may not write it
  CreateTemporary,
  Write,         // a write, the sync or the close of the temporary file failed
  KeepPrevious,  // the previous version could not take its second name
  Replace,       // the finished file could not take the target's name
  SourceItself,  // refused before writing: the target is the score the output is made from
};

struct WriteOutcome {
  WriteFailure failure = WriteFailure::None;
  int error = 0;  // errno of the failing step, 0 when none applies
  bool ok() const { return failure == WriteFailure::None; }
};

// The reason for a box: one line in the program's language, with the system's own words for
// the error.
QString describeWriteFailure(const WriteOutcome& outcome);

// The system calls of a write whose failures tests bring about. Each returns as the system call
// does: -1 with errno set on failure. The base class makes the real calls.
class WriterSystemCalls {
 public:
  virtual ~WriterSystemCalls() = default;
  // A file without a name in `folder`, open for writing: open(O_TMPFILE | O_WRONLY).
  virtual int openUnnamed(const char* folder, mode_t mode);
  // A new name `to` for the file `from`; a symbolic link at `from` (a descriptor's entry under
  // /proc/self/fd) is followed.
  virtual int link(const char* from, const char* to);
  virtual int rename(const char* from, const char* to);
  virtual int close(int fd);
};

struct WholeFileOptions {
  // Where the file being replaced is kept (a score's ".bak"); empty: not kept. An earlier file
  // of that name is replaced only once the previous version is safely under it.
  QString keepPreviousAs;
  // Mode of a file that did not exist before (the umask applies); a replaced file's permission
  // bits and, where allowed, its owner are kept.
  mode_t newFileMode = 0666;
  // A symbolic link at the target: true writes the file it points to, false replaces the link.
  bool followLink = true;
  // The system calls the writer makes; nullptr: the real ones.
  WriterSystemCalls* calls = nullptr;
};

class WholeFileWriter {
 public:
  WholeFileWriter(QString target, WholeFileOptions options = {});
  ~WholeFileWriter();  // removes a temporary file that was not committed
  WholeFileWriter(const WholeFileWriter&) = delete;
  WholeFileWriter& operator=(const WholeFileWriter&) = delete;

  // Checks the target and creates the temporary file beside it.
  WriteOutcome open();
  // Appends bytes; a failure is kept and returned again by commit().
  WriteOutcome write(const char* data, qsizetype size);
  WriteOutcome write(const QByteArray& bytes) { return write(bytes.constData(), bytes.size()); }
  // Writes bytes at an offset of the temporary file, for formats whose header is completed once
  // the data is known (an audio file's lengths); a failure is kept as write()'s is.
  WriteOutcome writeAt(qint64 offset, const char* data, qsizetype size);
  // Syncs the temporary file, keeps the previous version when asked, and puts the new file at
  // the target's name. On failure the temporary file is gone and the target unchanged.
  WriteOutcome commit();
  void discard();

 private:
  WriteOutcome fail(WriteFailure failure, int error);
  bool openUnnamed(const QByteArray& folder);
  WriteOutcome nameUnnamed();
  WriteOutcome keepPrevious();

  QByteArray target_;
  QByteArray keepAs_;
  WholeFileOptions options_;
  WriterSystemCalls& calls_;
  QByteArray tempPath_;  // empty while the temporary file has no name
  int fd_ = -1;
  bool unnamed_ = false;  // fd_ is an O_TMPFILE file
  bool targetExisted_ = false;
  WriteOutcome pending_;
};

// Writes bytes as the file at path, whole or not at all.
WriteOutcome writeFileWhole(const QString& path, const QByteArray& bytes,
                            const WholeFileOptions& options = {});

// Writes all bytes to an open descriptor, looping over partial writes; the errno of a failure,
// or 0. With an offset the bytes go there (pwrite) and the descriptor's position stays.
int writeAllBytes(int fd, const char* data, qsizetype size);
int writeAllBytesAt(int fd, qint64 offset, const char* data, qsizetype size);

// A write over the file-size limit must fail with EFBIG and be reported like any failed write,
// not end the program: SIGXFSZ is ignored. Called once at program start, before any file is
// written.
void ignoreFileSizeSignal();
