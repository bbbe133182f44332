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

// The same test, made as the reader hands out the events.
class LeadInCheck : public MidiEventSink {
 public:
  void beginTrack(size_t index) override;
  void event(const MidiEvent& e) override;
  void endTrack(int64_t endTick) override;
  // After the last track: whether every mark was there.
  bool found(int format, int division) const;

 private:
  void conductorEvent(const MidiEvent& e);
  void channelEvent(const MidiEvent& e);

  bool failed_ = false;
  size_t track_ = 0;
  int tracks_ = 0;
  bool bar_ = false, tempo_ = false, common_ = false, conductorDone_ = false;
  int step_ = 0;  // of a channel track: opening, sound off, program, music
  int channel_ = 0, previous_ = 0;
};
