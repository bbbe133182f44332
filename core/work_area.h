// Channel work areas: appending two-byte events with the capacity check.
#pragma once

#include "core/compile_host.h"

// Stores (code, value) in the open channel; 0, or -1 when refused.
int32_t appendEvent(CompileSession& session, int32_t code, int32_t value);

// Stores a note (semitone 1..12, octave from the channel) or a rest (semitone 0) whose duration
// is LENGTH_TICKS[lengthIndex]; 0, or -1 when refused (a full area also prints the overflow line).
int32_t appendTimedEvent(CompileSession& session, int32_t semitone, int32_t lengthIndex);
