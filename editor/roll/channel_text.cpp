#include "editor/roll/channel_text.h"

#include <cstring>
#include <memory>

#include "core/command_parser.h"
#include "core/line_highlighter.h"
#include "core/score_source_map.h"

namespace {

constexpr uint8_t CR = 13;
constexpr uint8_t QUOTE = '"';

// The columns of each command string's opening quote on one line, as the compiler's line
// classifier finds them (comments and header texts hold quotes too).
void commandStringOpenings(LineHighlighter& highlighter, const std::string& line,
                           DisplayLineState& state, std::vector<DisplaySpan>& spans,
                           std::vector<int32_t>& out) {
  out.clear();
  state = highlighter.highlightLine(line, state, spans);
  bool inside = false;
  for (const DisplaySpan& span : spans) {
    if (span.kind != SPAN_COMMAND_STRING) continue;
    for (int32_t i = span.start; i < span.start + span.length; ++i) {
      if (static_cast<uint8_t>(line[static_cast<size_t>(i)]) != QUOTE) continue;
      if (!inside) out.push_back(i);
      inside = !inside;
    }
  }
}

struct Reader {
  std::unique_ptr<CompileSession> session = std::make_unique<CompileSession>();
  std::unique_ptr<uint8_t[]> area = std::make_unique<uint8_t[]>(WORK_AREA_BYTES);
  int32_t k = 0;

  explicit Reader(int channel) : k(channelIndex(channel)) {
    CompileSession& s = *session;
    s.openChannel = channel;
    s.workArea[k] = area.get();
    s.octave[k] = DEFAULT_OCTAVE;
    s.lengthIndex[k] = DEFAULT_LENGTH_INDEX;
  }

  void loadLine(const std::string& line) {
    CompileSession& s = *session;
    const size_t taken = std::min<size_t>(line.size(), EDITOR_LINE_MAX);
    std::memcpy(s.lineBuffer, line.data(), taken);
    s.lineBuffer[taken] = CR;
    s.lineBuffer[taken + 1] = 0;
    s.lineLength = static_cast<int32_t>(taken + 1);
  }

  // Reads the command string whose quote is at `open`, one command at a time; false on an error
  // or when its events are not the map's.
  bool readString(int32_t line, int32_t open, const std::vector<SourcePosition>& positions,
                  size_t& next, std::vector<ChannelCommand>& out) {
    CompileSession& s = *session;
    s.lineCursor = open + 1;
    while (s.lineCursor < LINE_BUFFER_BYTES) {
      const int32_t start = s.lineCursor;
      const int8_t octave = static_cast<int8_t>(s.octave[k]);
      const int8_t length = static_cast<int8_t>(s.lengthIndex[k]);
      s.workLength[k] = 0;
      const int32_t result = parseCommandStep(s);
      if (result == COMMAND_STRING_CLOSED) return true;
      if (result != 0) return false;
      const int32_t events = s.workLength[k] / 2;
      for (int32_t i = 0; i < events; ++i) {
        if (next >= positions.size() || positions[next].line != line) return false;
        const int32_t column = positions[next].column;
        if (column < start || column >= s.lineCursor) return false;
        out.push_back({line, start, s.lineCursor, octave, static_cast<int8_t>(s.octave[k]), length,
                       s.lineBuffer[start] == '{'});
        ++next;
      }
    }
    return true;
  }
};

}  // namespace

bool readChannelCommands(const ScoreTextLines& lines, const ScoreSourceMap& map, int channel,
                         std::vector<ChannelCommand>& out) {
  out.clear();
  const std::vector<SourcePosition>& positions = map.recorded().positions[channelIndex(channel)];
  LineHighlighter highlighter;
  DisplayLineState state;
  std::vector<DisplaySpan> spans;
  std::vector<int32_t> openings;
  Reader reader(channel);
  size_t next = 0;
  for (size_t line = 0; line < lines.size(); ++line) {
    commandStringOpenings(highlighter, lines[line], state, spans, openings);
    bool loaded = false;
    for (const int32_t open : openings) {
      if (open >= EDITOR_LINE_MAX) break;  // the compiler does not read this far
      const ChannelBlock* block = map.blockAt(static_cast<int>(line), open);
      if (block == nullptr || block->channel != channel) continue;
      if (!loaded) reader.loadLine(lines[line]);
      loaded = true;
      if (!reader.readString(static_cast<int32_t>(line), open, positions, next, out)) {
        out.clear();
        return false;
      }
    }
  }
  if (next != positions.size()) {
    out.clear();
    return false;
  }
  return true;
}
