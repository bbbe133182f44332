// The source map: for every event a compilation appends, where in the score the command that
// made it stands, and where each channel block opens and closes. Recorded only for a host that
// asks for it (CompileHost::sourceMap()); the host owns the map, so it outlives the work areas.
// Recording changes nothing the compilation writes or reports.
#pragma once

#include <compare>
#include <cstdint>
#include <vector>

#include "core/compile_session.h"

// Where one event's command stands: the 0-based index of its source line (the line counter
// minus one: in the editor the editor's line index, in the console the line the console reader
// counted, which ends at a line feed or at byte 26 and so can differ from a text editor's) and its
// first byte and length in that line's bytes as the line buffer holds them. A note, rest,
// parameter or tie is its whole command (`c+8.`, `r`, `t120`, `&`); a tuplet's note or rest is
// its own item inside the braces (`e16` of `{c e16 g}4`).
struct SourcePosition {
  int32_t line = 0;
  uint16_t column = 0;
  uint16_t length = 0;
};
static_assert(sizeof(SourcePosition) == 8, "eight bytes an event");

// A point between two bytes of the score: before byte `column` of line `line`. Points compare
// by line, then column.
struct SourcePoint {
  int32_t line = 0;
  int32_t column = 0;
  friend auto operator<=>(const SourcePoint&, const SourcePoint&) = default;
};

// The line of a block's close when the block is still open at the end of the source: past every
// line.
inline constexpr int32_t SOURCE_END_LINE = INT32_MAX;

// One opening of a channel block: the `{` that opened it and the `}` that closed it (`open` and
// `close` are the points before those bytes). A channel opened twice has two blocks.
struct ChannelBlock {
  int32_t channel = 0;  // 1..9
  SourcePoint open;
  SourcePoint close;  // {SOURCE_END_LINE, 0} when the source ended with the block open

  // The point lies inside the block: behind its `{`, up to and including the point before `}`.
  bool holds(SourcePoint point) const { return open < point && point <= close; }
};

// Where a run of octave marks (`<`, `>`) of a command string ends, and the channel's octave
// (0..7, as `o` sets it) behind it. Marks inside a tuplet's braces are not recorded.
struct OctaveMark {
  SourcePoint after;  // the point behind the run's last mark
  int32_t channel = 0;
  int32_t octave = 0;
};

struct SourceMap {
  // Entry k belongs to channel k + 1. After a compilation: the events of the channel's work
  // area at the end of the line loop (code, value pairs), one position for each event, and the
  // gate step the channel's MIDI track starts with (the writer changes the session's copy).
  std::vector<uint8_t> events[CHANNEL_COUNT];
  std::vector<SourcePosition> positions[CHANNEL_COUNT];
  int32_t startGate[CHANNEL_COUNT] = {};
  // Every channel block in source order (blocks never nest: a `{` inside a block is ignored).
  std::vector<ChannelBlock> blocks;
  // Every run of octave marks in source order.
  std::vector<OctaveMark> octaveMarks;

  int32_t eventCount(int32_t channel) const {
    return static_cast<int32_t>(positions[channelIndex(channel)].size());
  }
};

// What the compile driver calls when the session has a map (CompileSession::sourceMap):
// at the start of a compilation: empties the map, keeping its storage;
void startSourceMap(CompileSession& session);
// for a command string: parseCommandString() that records the position of every event;
int32_t parseCommandStringMapped(CompileSession& session);
// after a `{` or `}` that opened or closed a block (the cursor is behind the brace);
void recordBlockOpen(CompileSession& session);
void recordBlockClose(CompileSession& session);
// after the line loop, before the output is written: the events and the start gates.
void finishSourceMap(CompileSession& session);
