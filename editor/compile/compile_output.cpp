#include "editor/compile/compile_output.h"

#include <unistd.h>

#include "core/compile_host.h"
#include "editor/document/temporary_midi_file.h"
#include "editor/document/whole_file_writer.h"

namespace {

const char* bytesOf(const std::vector<uint8_t>& bytes) {
  return reinterpret_cast<const char*>(bytes.data());
}

// compile and play: a new temporary file, written whole when the compilation keeps it; one that
// could not be written is deleted at once, as there is nothing worth playing.
class TemporaryMidiOutput : public CompileOutput {
 public:
  TemporaryMidiOutput(TemporaryMidiFile& file, const CompileSinks& sinks)
      : file_(file), sinks_(sinks) {}
  ~TemporaryMidiOutput() override {
    if (fd_ >= 0) ::close(fd_);
  }

  OutputStream* open() override {
    const TemporaryMidiFile::Created created = file_.create();
    if (created.fd < 0) {
      sinks_.alert(created.error, BoxIcon::Error);
      return nullptr;
    }
    fd_ = created.fd;
    return &midi_;
  }
  int32_t close(bool keep) override {
    if (fd_ < 0) return OUTPUT_CLOSED;
    const int fd = fd_;
    fd_ = -1;
    const std::vector<uint8_t>& bytes = midi_.bytes();
    const bool written =
        keep && writeAllBytes(fd, bytesOf(bytes), static_cast<qsizetype>(bytes.size())) == 0;
    const bool closed = ::close(fd) == 0;
    if (written && closed) return OUTPUT_CLOSED;
    file_.remove();
    return keep ? OUTPUT_WRITE_FAILED : OUTPUT_CLOSED;
  }
  const std::vector<uint8_t>* midiBytes() const override { return &midi_.bytes(); }

 private:
  TemporaryMidiFile& file_;
  const CompileSinks& sinks_;
  MemoryOutputStream midi_;
  int fd_ = -1;
};

// make MIDI file: the ".mid" beside the score, replacing an earlier one only when complete.
class BesideSourceOutput : public CompileOutput {
 public:
  explicit BesideSourceOutput(const QString& path) : file_(path) {}

  OutputStream* open() override { return file_.open().ok() ? &midi_ : nullptr; }
  int32_t close(bool keep) override {
    if (!keep) return OUTPUT_CLOSED;  // the writer removes its temporary file
    const std::vector<uint8_t>& bytes = midi_.bytes();
    if (!file_.write(bytesOf(bytes), static_cast<qsizetype>(bytes.size())).ok())
      return OUTPUT_WRITE_FAILED;
    const WriteOutcome committed = file_.commit();
    if (committed.ok()) return OUTPUT_CLOSED;
    return committed.failure == WriteFailure::Write ? OUTPUT_WRITE_FAILED : OUTPUT_REPLACE_FAILED;
  }
  const std::vector<uint8_t>* midiBytes() const override { return &midi_.bytes(); }

 private:
  WholeFileWriter file_;
  MemoryOutputStream midi_;
};

// The compiled-data image (the core empties the stream when it prepares the compilation) or the
// MIDI image for the audio export (emptied here), kept in memory.
class MemoryImageOutput : public CompileOutput {
 public:
  MemoryImageOutput(MemoryOutputStream& stream, bool midi) : stream_(stream), midi_(midi) {}

  OutputStream* open() override {
    if (midi_) stream_.clear();
    return &stream_;
  }
  int32_t close(bool keep) override {
    if (midi_ && !keep) stream_.clear();
    return OUTPUT_CLOSED;
  }
  const std::vector<uint8_t>* midiBytes() const override {
    return midi_ ? &stream_.bytes() : nullptr;
  }

 private:
  MemoryOutputStream& stream_;
  const bool midi_;
};

}  // namespace

std::unique_ptr<CompileOutput> makeCompileOutput(CompileTarget target, const QString& midiFilePath,
                                                 MemoryOutputStream& memory,
                                                 TemporaryMidiFile& temporaryMidi,
                                                 const CompileSinks& sinks) {
  switch (target) {
    case CompileTarget::Play:
      return std::make_unique<TemporaryMidiOutput>(temporaryMidi, sinks);
    case CompileTarget::MidiFile:
      return std::make_unique<BesideSourceOutput>(midiFilePath);
    case CompileTarget::CompiledData:
      return std::make_unique<MemoryImageOutput>(memory, false);
    case CompileTarget::MidiImage:
      return std::make_unique<MemoryImageOutput>(memory, true);
  }
  return nullptr;
}
