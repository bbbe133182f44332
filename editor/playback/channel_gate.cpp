#include "editor/playback/channel_gate.h"

namespace {

constexpr int NOTE_ON = 0x90;

}  // namespace

uint16_t ChannelGate::setMix(const ChannelMix& mix) {
  const uint16_t silent = mix.silentChannels();
  const uint16_t before = silent_.exchange(silent);
  return silent & ~before;
}

void ChannelGate::attach(fluid_player_t* player, fluid_synth_t* synth) {
  synth_.store(synth);
  fluid_player_set_playback_callback(player, &ChannelGate::forward, this);
}

void ChannelGate::stopChannels(fluid_synth_t* synth, uint16_t channels) {
  if (!synth) return;
  for (int channel = 1; channel <= ChannelMix::CHANNELS; ++channel) {
    if (channels & ChannelMix::bit(channel)) fluid_synth_all_notes_off(synth, channel);
  }
}

// A note-on of velocity 0 is a note-off and passes.
int ChannelGate::forward(void* data, fluid_midi_event_t* event) {
  auto* gate = static_cast<ChannelGate*>(data);
  const int channel = fluid_midi_event_get_channel(event);
  if (fluid_midi_event_get_type(event) == NOTE_ON && fluid_midi_event_get_velocity(event) > 0 &&
      channel >= 1 && channel <= ChannelMix::CHANNELS &&
      (gate->silent_.load() & ChannelMix::bit(channel))) {
    return FLUID_OK;
  }
  return fluid_synth_handle_midi_event(gate->synth_.load(), event);
}
