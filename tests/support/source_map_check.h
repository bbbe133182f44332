// The properties of a source map that hold whatever the score: every event's position lies
// inside a command string of its channel on its own line, a channel's positions grow with its
// events, and every command string lies inside a block of its channel. Shared by the property
// test on random scores, which knows where their strings stand, and the fuzzer, which finds the
// quoted stretches of any bytes.
#pragma once

#include <string>
#include <vector>

#include "core/source_map.h"

namespace testing_support {

// One command string: its channel, its 0-based line and the columns of its two quotes (`close`
// is the line's length for a string the line ends inside).
struct MappedString {
  int channel;
  int line;
  int open;
  int close;
};

// The first broken property of map against the command strings of its score; "" when all hold.
inline std::string checkSourceMap(const std::vector<MappedString>& strings, const SourceMap& map) {
  for (int channel = 1; channel <= CHANNEL_COUNT; ++channel) {
    const int k = channelIndex(channel);
    if (map.events[k].size() != 2 * map.positions[k].size()) return "an event without position";
    SourcePoint previous{-1, 0};
    for (const SourcePosition& p : map.positions[k]) {
      const std::string where = "ch" + std::to_string(channel) + " " + std::to_string(p.line) +
                                ":" + std::to_string(p.column);
      bool inside = false;
      for (const MappedString& s : strings) {
        inside = inside || (s.channel == channel && s.line == p.line && s.open < p.column &&
                            p.column + p.length <= s.close && p.length >= 1);
      }
      if (!inside) return where + ": outside the channel's command strings";
      const SourcePoint point{p.line, p.column};
      if (!(previous < point)) return where + ": not behind the event before it";
      previous = point;
    }
  }
  for (const MappedString& s : strings) {
    bool held = false;
    for (const ChannelBlock& b : map.blocks) {
      held = held || (b.channel == s.channel && b.holds({s.line, s.open}));
    }
    if (!held) return "a command string outside its channel's blocks";
  }
  return "";
}

// For a score of any bytes, whose command strings only the compiler knows: the stretches behind
// each `"` up to the next `"` on the line or to the line's end, taken as strings of every
// channel whose blocks hold their opening quote. A command holds no `"`, so each command string
// is one of them; the others (between two strings, in a comment) are only more room. Lines end
// where the flavour's reader ends them: at LF, and in the console also at byte 26.
inline std::vector<MappedString> quotedStretches(const std::string& source, const SourceMap& map,
                                                 Flavour flavour) {
  std::vector<MappedString> stretches;
  const char* const lineEnds = flavour == FLAVOUR_CONSOLE ? "\n\x1a" : "\n";
  int line = 0;
  size_t start = 0;
  while (start <= source.size()) {
    size_t end = source.find_first_of(lineEnds, start);
    if (end == std::string::npos) end = source.size();
    size_t length = end - start;
    if (length > 0 && end < source.size() && source[end - 1] == '\r') --length;
    int open = -1;
    for (size_t column = 0; column <= length; ++column) {
      if (column < length && source[start + column] != '"') continue;
      if (open >= 0) {
        for (const ChannelBlock& b : map.blocks) {
          if (b.holds({line, open})) {
            stretches.push_back({b.channel, line, open, static_cast<int>(column)});
          }
        }
      }
      open = static_cast<int>(column);
    }
    ++line;
    start = end + 1;
  }
  return stretches;
}

}  // namespace testing_support
