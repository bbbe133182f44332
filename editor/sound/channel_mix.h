// Which of the score's channels sound: the mute and solo the piano roll's legend sets per
// channel, applied to playing and to the audio export and kept in the additional settings. As on
// a mixer, solo wins: while any channel is soloed only the soloed channels sound, muted or not.
#pragma once

#include <cstdint>

struct ChannelMix {
  static constexpr int CHANNELS = 9;  // the score's channels 1..9
  static constexpr uint16_t ALL = (1u << CHANNELS) - 1;

  uint16_t muted = 0;  // bit channel - 1
  uint16_t soloed = 0;

  static constexpr uint16_t bit(int channel) { return uint16_t(1u << (channel - 1)); }
  bool isMuted(int channel) const { return muted & bit(channel); }
  bool isSoloed(int channel) const { return soloed & bit(channel); }
  // The channels that make no sound, a bit a channel.
  uint16_t silentChannels() const { return soloed ? uint16_t(ALL & ~soloed) : muted; }
  // `channel` (1..9) sounds; any other number (the MIDI file's conductor channel 0, a channel
  // above 9) is left alone.
  bool sounds(int channel) const {
    return channel < 1 || channel > CHANNELS || !(silentChannels() & bit(channel));
  }
  bool operator==(const ChannelMix&) const = default;
};
