// Compile and play's temporary ".mid" file, from its creation to its deletion. A compilation
// creates and writes it, playback plays it; both reach it through the one instance the window
// owns, so neither needs the other. The destructor deletes a file still there.
#pragma once

#include <QString>

class TemporaryMidiFile {
 public:
  explicit TemporaryMidiFile(QString folder);
  ~TemporaryMidiFile();
  TemporaryMidiFile(const TemporaryMidiFile&) = delete;
  TemporaryMidiFile& operator=(const TemporaryMidiFile&) = delete;

  // A new file in the folder, created exclusively with mode 0600 under a fresh name: its
  // descriptor (the caller writes and closes it), or -1 with the text of the error box.
  struct Created {
    int fd = -1;
    QString error;
  };
  Created create();
  bool exists() const { return exists_; }
  // The last file created; it stays the path to play after the file is gone.
  const QString& path() const { return path_; }
  // True when the file is gone (or there was none); false when it could not be removed: it
  // stays flagged and the next call tries again.
  bool remove();

 private:
  const QString folder_;
  QString path_;
  bool exists_ = false;
};
