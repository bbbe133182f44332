// Renders a MIDI file offline with FluidSynth's file renderer into raw audio: 44100 Hz, two
// channels, signed 16-bit samples in the machine's byte order. Rendering stops when the player
// has finished (it lets the sound ring out for a few seconds after the last event) or at the
// cap, so a file that never ends cannot hang a test.
//
// Usage: render_midi <soundfont> <input.mid> <output.raw> <max seconds>
// Exit status: 0 rendered, 1 setup failure, 2 the cap was reached before the player finished.
#include <fluidsynth.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int SAMPLE_RATE = 44100;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: render_midi <soundfont> <input.mid> <output.raw> <max seconds>\n");
    return 1;
  }
  const double maxSeconds = std::atof(argv[4]);

  fluid_settings_t* settings = new_fluid_settings();
  bool ok = settings != nullptr;
  ok = ok && fluid_settings_setstr(settings, "audio.file.name", argv[3]) == FLUID_OK;
  ok = ok && fluid_settings_setstr(settings, "audio.file.type", "raw") == FLUID_OK;
  ok = ok && fluid_settings_setstr(settings, "audio.file.format", "s16") == FLUID_OK;
  ok = ok && fluid_settings_setstr(settings, "player.timing-source", "sample") == FLUID_OK;
  ok = ok && fluid_settings_setint(settings, "synth.lock-memory", 0) == FLUID_OK;
  ok = ok && fluid_settings_setnum(settings, "synth.sample-rate", SAMPLE_RATE) == FLUID_OK;
  if (!ok) {
    std::fprintf(stderr, "render_midi: settings refused\n");
    return 1;
  }
  int periodSize = 0;
  fluid_settings_getint(settings, "audio.period-size", &periodSize);

  fluid_synth_t* synth = new_fluid_synth(settings);
  fluid_player_t* player = synth != nullptr ? new_fluid_player(synth) : nullptr;
  if (player == nullptr || fluid_synth_sfload(synth, argv[1], 1) == FLUID_FAILED ||
      fluid_player_add(player, argv[2]) != FLUID_OK) {
    std::fprintf(stderr, "render_midi: cannot load %s or %s\n", argv[1], argv[2]);
    return 1;
  }
  fluid_file_renderer_t* renderer = new_fluid_file_renderer(synth);
  if (renderer == nullptr || periodSize <= 0 || fluid_player_play(player) != FLUID_OK) {
    std::fprintf(stderr, "render_midi: cannot start rendering\n");
    return 1;
  }

  const long maxBlocks = static_cast<long>(maxSeconds * SAMPLE_RATE / periodSize);
  long blocks = 0;
  bool finished = false;
  while (blocks < maxBlocks) {
    if (fluid_player_get_status(player) != FLUID_PLAYER_PLAYING) {
      finished = true;
      break;
    }
    if (fluid_file_renderer_process_block(renderer) != FLUID_OK) {
      std::fprintf(stderr, "render_midi: rendering failed\n");
      return 1;
    }
    ++blocks;
  }
  fluid_player_stop(player);
  fluid_player_join(player);
  delete_fluid_file_renderer(renderer);
  delete_fluid_player(player);
  delete_fluid_synth(synth);
  delete_fluid_settings(settings);

  std::printf("rate=%d channels=2 frames=%ld finished=%d\n", SAMPLE_RATE, blocks * periodSize,
              finished ? 1 : 0);
  return finished ? 0 : 2;
}
