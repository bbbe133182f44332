#include "tests/editor/support/offline_audio_output.h"

#include <algorithm>
#include <cmath>
#include <vector>

class OfflineAudioOutput::Output : public AudioOutput {
 public:
  Output(OfflineAudioOutput& factory, const AudioOutputTarget& target)
      : factory_(factory), renderer_(target.renderer), sampleRate_(target.sampleRate) {
    factory_.output_ = this;
  }
  ~Output() override { factory_.output_ = nullptr; }

  bool silent() const override { return true; }

  void renderMs(int64_t ms) {
    const int64_t frames = ms * int64_t(sampleRate_) / 1000;
    std::vector<float> block(2 * BLOCK_FRAMES);
    for (int64_t done = 0; done < frames; done += BLOCK_FRAMES) {
      const int count = int(std::min<int64_t>(BLOCK_FRAMES, frames - done));
      renderer_.render(count, block.data(), block.data() + 1, 2);
      for (int i = 0; i < 2 * count; ++i)
        factory_.peak_ = std::max(factory_.peak_, std::abs(block[i]));
    }
  }

 private:
  OfflineAudioOutput& factory_;
  AudioRenderer& renderer_;
  const double sampleRate_;
};

AudioOutputFactories OfflineAudioOutput::only(OfflineAudioOutput** output) {
  auto factory = std::make_unique<OfflineAudioOutput>();
  *output = factory.get();
  AudioOutputFactories outputs;
  outputs.push_back(std::move(factory));
  return outputs;
}

OpenedOutput OfflineAudioOutput::create(const AudioOutputTarget& target) {
  ++opened_;
  return {std::make_unique<Output>(*this, target), {}};
}

void OfflineAudioOutput::renderMs(int64_t ms) {
  if (output_) output_->renderMs(ms);
}
