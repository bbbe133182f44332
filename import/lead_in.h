// Recognising a file that tarvk32c wrote: its music starts behind a lead-in bar that the
// import leaves out. Only a file that carries every mark of that lead-in is taken for one, so a
// foreign file that merely opens with a short bar keeps all it holds.
#pragma once

#include "import/midi_reader.h"

// Whether the file opens with the compiled file's lead-in: format 1 at 480 ticks a quarter; a
// conductor track holding before the lead-in's end only the copyright and name, a 1/8 bar at
// tick 0, then 120 beats a minute and 4/4 at the lead-in's end; and one track a score channel, in
// ascending channel order, each opening with the GM reset (the first) or a filler text, all
// sound off, and (but on the drum channel) program 0 at the lead-in's end, nothing else before.
bool hasCompiledLeadIn(const MidiFile& file);
