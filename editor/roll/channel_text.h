// The commands behind one channel's events, read again from the score's text with the
// compiler's own command parser: for each event, the whole command that made it (a tuplet is one
// command for all its items), and the octave and default length in effect around it. The roll's
// edits need these to write new commands in place: the source map records where an event's
// command stands but not the settings (`o`, `<`, `>`, `l`) that make no event.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class ScoreSourceMap;

struct ChannelCommand {
  int32_t line = 0;
  int32_t start = 0;  // byte columns of the whole command in its line
  int32_t end = 0;
  int8_t octaveBefore = 0;
  int8_t octaveAfter = 0;
  int8_t lengthIndex = 0;  // the default length index in effect at the command
  bool tuplet = false;
};

// The lines of a score as the compiler reads them: the document's encoding, no line ends.
using ScoreTextLines = std::vector<std::string>;

// One entry per event of `channel` in `map`, in event order; empty (and false) when the text
// does not give the events the map holds (it changed since). A line is read as far as the
// compiler reads it (EDITOR_LINE_MAX bytes).
bool readChannelCommands(const ScoreTextLines& lines, const ScoreSourceMap& map, int channel,
                         std::vector<ChannelCommand>& out);
