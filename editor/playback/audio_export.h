// The audio export: a compiled Standard MIDI File rendered through FluidSynth, with the chosen
// SoundFont, effects and channel mix (mute and solo), into a 44.1 kHz 16-bit stereo WAV or FLAC
// file that is written whole or not at all (a temporary file beside the target, renamed once
// complete). The song is rendered to the end of its tempo map, then on while the last notes and
// the effects fade out, until the output falls silent or for at most TAIL_MS_MAX.
//
// exportAudio() does the work on the calling thread; AudioExportJob runs it on a thread of its
// own so that the user-interface thread stays free for a progress dialog. The SoundFont is loaded
// there too, and one that is no regular file is refused before it is opened.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "editor/document/whole_file_writer.h"
#include "editor/sound/channel_mix.h"
#include "editor/sound/sound_settings.h"

enum class AudioFileFormat { Wav, Flac };

// FLAC for a name ending in ".flac" (any case), WAV for any other.
AudioFileFormat audioFormatOf(const QString& path);

struct AudioExportRequest {
  std::vector<uint8_t> midi;  // the Standard MIDI File's bytes
  QString target;             // the file to write
  AudioFileFormat format = AudioFileFormat::Wav;
  SoundSettings sound;  // SoundFont (empty: the default one), reverb, chorus, gain
  ChannelMix mix;       // the channels muted and soloed in the piano roll's legend
};

enum class AudioExportStatus {
  Done,
  Cancelled,         // the progress callback asked to stop
  MidiRefused,       // the bytes are no MIDI file FluidSynth and the tempo map can play
  SoundFontRefused,  // FluidSynth cannot load the SoundFont
  TooLong,           // the song does not fit in a WAV file (4 GiB); FLAC has no such limit
  EncoderFailed,     // the audio file library refused (its own reason)
  WriteFailed,       // the file system refused (the write outcome says why)
};

struct AudioExportResult {
  AudioExportStatus status = AudioExportStatus::Done;
  QString reason;      // FluidSynth's or the encoder's words, where they apply
  WriteOutcome write;  // WriteFailed: the failing step and its errno
  int64_t frames = 0;  // Done: the frames in the file
  bool ok() const { return status == AudioExportStatus::Done; }
};

// The reason for a failure's box, one line in the program's language; empty for Done and
// Cancelled.
QString describeAudioExportFailure(const AudioExportResult& result);

// Called after every rendered block with the milliseconds rendered so far and the song's length
// (the fading tail runs past it); returning false cancels the export.
using AudioExportProgress = std::function<bool(int64_t renderedMs, int64_t songMs)>;

inline constexpr int AUDIO_SAMPLE_RATE = 44100;
inline constexpr int AUDIO_CHANNELS = 2;
inline constexpr int64_t TAIL_MS_MAX = 2000;  // the fading tail after the song's end, at most

// Renders request.midi into request.target. Whatever the outcome other than Done, the target is
// as it was and no temporary file is left.
AudioExportResult exportAudio(const AudioExportRequest& request,
                              const AudioExportProgress& progress = {});

// One export on a thread of its own. The thread touches only the request and FluidSynth objects
// of its own; the job itself belongs to the thread that made it, which receives finished().
class AudioExportJob : public QObject {
  Q_OBJECT
 public:
  explicit AudioExportJob(AudioExportRequest request, QObject* parent = nullptr);
  // Cancels an export still running and waits for its thread: nothing is left behind.
  ~AudioExportJob() override;

  void start();
  // Asks the export to stop at the next block; finished() follows.
  void cancel();
  // The progress, readable while the export runs.
  int64_t renderedMs() const { return renderedMs_.load(); }
  int64_t songMs() const { return songMs_.load(); }
  // Waits for the thread and returns what the export did; after finished().
  const AudioExportResult& wait();

 Q_SIGNALS:
  void finished();

 private:
  AudioExportRequest request_;
  std::thread thread_;
  std::atomic<bool> cancelled_ = false;
  std::atomic<int64_t> renderedMs_ = 0;
  std::atomic<int64_t> songMs_ = 0;
  AudioExportResult result_;  // written by the thread, read after it is joined
};
