// Recording the source map while the compile driver runs: the command-string loop that notes
// each command's position against the events it appended, the block braces, and the events
// kept when the work areas go.
#include "core/source_map.h"

#include "core/command_parser.h"

namespace {

constexpr uint8_t TUPLET_OPEN = '{';

int32_t currentLine(const CompileSession& session) {
  return session.lineNumber - 1;
}

SourcePosition positionOf(const CompileSession& session, int32_t start, int32_t end) {
  return {currentLine(session), static_cast<uint16_t>(start), static_cast<uint16_t>(end - start)};
}

// The events from byte `from` of channel k's work area on were appended by the command that
// started at `start`: a tuplet's events are its items, in order; any other command appends one.
void recordCommand(CompileSession& session, int32_t k, int32_t from, int32_t start) {
  std::vector<SourcePosition>& positions = session.sourceMap->positions[k];
  if (positions.capacity() == 0) positions.reserve(WORK_AREA_LIMIT / 2);  // one allocation
  const int32_t appended = (session.workLength[k] - from) / 2;
  if (session.lineBuffer[start] == TUPLET_OPEN) {
    for (int32_t i = 0; i < appended; ++i) {
      positions.push_back(
          positionOf(session, session.tupletItemStart[i], session.tupletItemEnd[i]));
    }
    return;
  }
  for (int32_t i = 0; i < appended; ++i) {
    positions.push_back(positionOf(session, start, session.lineCursor));
  }
}

}  // namespace

void startSourceMap(CompileSession& session) {
  SourceMap& map = *session.sourceMap;
  for (int32_t k = 0; k < CHANNEL_COUNT; ++k) {
    map.events[k].clear();
    map.positions[k].clear();
    map.startGate[k] = 0;
  }
  map.blocks.clear();
  map.octaveMarks.clear();
}

namespace {

// Behind an octave mark: the run ends unless another mark follows at once.
void recordOctaveMark(CompileSession& session, int32_t k) {
  const uint8_t next = session.lineBuffer[session.lineCursor];
  if (next == '<' || next == '>') return;
  session.sourceMap->octaveMarks.push_back(
      {{currentLine(session), session.lineCursor}, k + 1, session.octave[k]});
}

}  // namespace

// command string: '"' command* '"', as parseCommandString() reads it, one command at a time
int32_t parseCommandStringMapped(CompileSession& session) {
  while (session.lineCursor < LINE_BUFFER_BYTES) {
    const int32_t start = session.lineCursor;
    session.itemStart = start;
    const int32_t channel = session.openChannel;
    const bool open = channel >= 1 && channel <= CHANNEL_COUNT;
    const int32_t k = open ? channelIndex(channel) : 0;
    const int32_t before = open ? session.workLength[k] : 0;
    const uint8_t first = session.lineBuffer[start];
    const int32_t result = parseCommandStep(session);
    if (open && session.workLength[k] != before) recordCommand(session, k, before, start);
    if (open && result == 0 && (first == '<' || first == '>')) recordOctaveMark(session, k);
    if (result == COMMAND_STRING_CLOSED) return 0;
    if (result != 0) return result;
  }
  return 0;
}

void recordBlockOpen(CompileSession& session) {
  if (session.openChannel < 1 || session.openChannel > CHANNEL_COUNT) return;
  const SourcePoint brace{currentLine(session), session.lineCursor - 1};
  session.sourceMap->blocks.push_back({session.openChannel, brace, {SOURCE_END_LINE, 0}});
}

void recordBlockClose(CompileSession& session) {
  std::vector<ChannelBlock>& blocks = session.sourceMap->blocks;
  if (blocks.empty()) return;
  blocks.back().close = {currentLine(session), session.lineCursor - 1};
}

void finishSourceMap(CompileSession& session) {
  SourceMap& map = *session.sourceMap;
  for (int32_t k = 0; k < CHANNEL_COUNT; ++k) {
    const uint8_t* area = session.workArea[k];
    if (area != nullptr) map.events[k].assign(area, area + session.workLength[k]);
    map.startGate[k] = session.gate[k];
  }
}
