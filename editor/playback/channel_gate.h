// Mute and solo between a FluidSynth file player and its synthesizer: the gate passes every
// event of the MIDI file on to the synthesizer except the note-ons of the channels the mix
// silences. Note-offs, programs and controllers always pass, so a channel that sounds again
// plays its next note with the instrument and volume the song has set by then.
#pragma once

#include <fluidsynth.h>

#include <atomic>
#include <cstdint>

#include "editor/sound/channel_mix.h"

class ChannelGate {
 public:
  // Takes the new mix; the gate's thread sees it from the next event. Returns the channels that
  // have just been silenced, a bit a channel (ChannelMix::bit), for the caller to stop.
  uint16_t setMix(const ChannelMix& mix);
  // Routes `player`'s events to `synth` through the gate, which must outlive the player.
  void attach(fluid_player_t* player, fluid_synth_t* synth);
  // Stops the notes sounding on the channels of `channels` (as setMix() returns them).
  static void stopChannels(fluid_synth_t* synth, uint16_t channels);

 private:
  static int forward(void* data, fluid_midi_event_t* event);

  std::atomic<uint16_t> silent_ = 0;
  std::atomic<fluid_synth_t*> synth_ = nullptr;
};
