// Standard MIDI File writer: format 1, 480 ticks per quarter, one track per used channel.
#pragma once

#include "core/compile_host.h"

// Writes the whole file; 0, or the code of the first failing channel track (11, a lone tie).
int32_t writeMidiFile(CompileSession& session, OutputStream& out);

int32_t writeConductorTrack(CompileSession& session, OutputStream& out);
int32_t writeChannelTrack(CompileSession& session, OutputStream& out, int32_t channel);

// Encoders; each returns the number of bytes it wrote.
int32_t writeNote(CompileSession& session, OutputStream& out, int32_t channel, int32_t code,
                  int32_t level, int32_t value);
int32_t writeProgram(OutputStream& out, int32_t channel, int32_t program);
int32_t writePan(CompileSession& session, OutputStream& out, int32_t channel, int32_t pan);
int32_t writeTempo(OutputStream& out, int32_t bpm);
int32_t writeVarLen(OutputStream& out, uint32_t value);
