// An audio output for tests, with no device and no thread: nothing renders until the test asks
// for some milliseconds of sound, which are rendered at once on the test's thread, block by block
// as a sound card would ask for them, and thrown away but for their peak. Positions can then be
// held against the exact time rendered.
#pragma once

#include <cstdint>
#include <utility>

#include "editor/playback/audio_output.h"

class OfflineAudioOutput : public AudioOutputFactory {
 public:
  static constexpr int BLOCK_FRAMES = 512;

  // A list of one offline output, which `*output` keeps within the test's reach; it lives as
  // long as the player that takes the list.
  static AudioOutputFactories only(OfflineAudioOutput** output);

  QString name() const override { return QStringLiteral("offline"); }
  OpenedOutput create(const AudioOutputTarget& target) override;

  // Renders `ms` milliseconds through the output this factory opened; nothing while it has
  // opened none (or the player has closed it).
  void renderMs(int64_t ms);
  int opened() const { return opened_; }  // outputs created so far
  // The largest sample magnitude rendered since the last call; 0 for silence.
  float takePeak() { return std::exchange(peak_, 0.0f); }

 private:
  class Output;
  Output* output_ = nullptr;
  int opened_ = 0;
  float peak_ = 0.0f;
};
