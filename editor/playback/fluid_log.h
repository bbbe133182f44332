// FluidSynth logs through one process-wide function. Its expected failures (no sound server, no
// sound card, a missing SoundFont) must not reach the console; the last error it logged is kept
// instead, for the player's own messages.
#pragma once

#include <QString>

// Routes FluidSynth's log here; once per process, from any thread.
void installFluidLogging();
// Forgets the kept error, before a call whose failure is to be explained.
void forgetFluidError();
// The last error FluidSynth logged since forgetFluidError(), or `fallback`; forgets both kept
// errors.
QString takeFluidError(const char* fallback);
// The first error FluidSynth logged since forgetFluidError(), or `fallback`; forgets both. Where
// one failure logs a chain of lines (a SoundFont that does not load), the first says why and the
// last only that it failed.
QString takeFirstFluidError(const char* fallback);
