// The C interface the web page's JavaScript calls: compile, highlight, import. Each call returns
// a result that owns a byte buffer (the MIDI file, the score) and a JSON text describing the
// rest; JavaScript reads both and frees the result.
#include <emscripten/emscripten.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/compile_driver.h"
#include "core/diagnostics.h"
#include "core/line_highlighter.h"
#include "core/midi_writer.h"
#include "core/score_source_map.h"
#include "import/midi_import.h"
#include "web/core/json_text.h"
#include "web/core/page_text.h"
#include "web/core/web_compile_host.h"

namespace {

struct Result {
  std::vector<uint8_t> bytes;
  std::string json;
};

// A place in the page's text: a 0-based line and a UTF-16 column; line -1 for none.
struct Caret {
  int32_t line = -1;
  int32_t column = 0;
};

TextEncoding encodingOf(int32_t encoding) {
  return encoding == 1 ? TextEncoding::Utf8 : TextEncoding::Cp932;
}

// "diagnostic": the error with its command's columns in the page's line (the command's bytes;
// at least up to the byte under the report's pointer).
void appendDiagnostic(std::string& json, const Diagnostic& f,
                      const std::vector<EncodedLine>& lines) {
  const EncodedLine* line =
      f.line >= 0 && f.line < static_cast<int32_t>(lines.size()) ? &lines[f.line] : nullptr;
  const int32_t end = std::max({f.commandEnd, f.commandStart + 1, f.pointer + 1});
  json += "{\"code\":";
  appendJsonNumber(json, f.code);
  json += ",\"line\":";
  appendJsonNumber(json, f.line);
  json += ",\"lineNumber\":";
  appendJsonNumber(json, f.lineNumber);
  json += ",\"commandStart\":";
  appendJsonNumber(json, f.commandStart);
  json += ",\"pointer\":";
  appendJsonNumber(json, f.pointer);
  json += ",\"from\":";
  appendJsonNumber(json, line ? pageColumn(*line, f.commandStart) : 0);
  json += ",\"to\":";
  appendJsonNumber(json, line ? pageColumn(*line, end) : 0);
  json += ",\"message\":";
  appendJsonString(json, diagnosticText(f, FLAVOUR_CONSOLE));
  // The same diagnostic as the desktop editor words it (Japanese).
  json += ",\"editorMessage\":";
  appendJsonString(json, diagnosticText(f, FLAVOUR_EDITOR));
  json += '}';
}

// "notes": every sounding note part of a clean compilation, [channel, start ms, end ms, line,
// from, to, start tick, key], the source in the page's columns and the key a MIDI note number
// (a part tied to a note sounds that note's key).
void appendNotes(std::string& json, const ScoreSourceMap& map,
                 const std::vector<EncodedLine>& lines) {
  json += "\"notes\":[";
  bool first = true;
  {
    for (int channel = 1; channel <= CHANNEL_COUNT; ++channel) {
      const std::vector<ScoreSourceMap::Sounding> notes = map.notes(channel);
      const std::vector<ScoreSourceMap::NotePart>& parts = map.noteParts(channel);
      const std::vector<uint8_t>& events = map.recorded().events[channelIndex(channel)];
      int64_t key = 0;
      for (size_t i = 0; i < notes.size(); ++i) {
        const ScoreSourceMap::Sounding& s = notes[i];
        if (parts[i].noteOn) key = events[2 * size_t(parts[i].event)] + NOTE_NUMBER_OFFSET;
        if (s.startTick == s.endTick) continue;
        const ScoreSourceMap::Source& src = s.source;
        const bool known = src.line >= 0 && src.line < static_cast<int>(lines.size());
        const int32_t from = known ? pageColumn(lines[src.line], src.byteColumn) : 0;
        const int32_t to = known ? pageColumn(lines[src.line], src.byteColumn + src.byteLength) : 0;
        json += first ? "[" : ",[";
        first = false;
        for (int64_t n : {int64_t(channel), map.tempoMap().tickToMs(s.startTick),
                          map.tempoMap().tickToMs(s.endTick), int64_t(src.line), int64_t(from),
                          int64_t(to), s.startTick, key}) {
          appendJsonNumber(json, n);
          json += ',';
        }
        json.back() = ']';
      }
    }
  }
  json += ']';
}

// "start": where playback from the caret (a line and a page column) starts, {tick, ms}, by the
// desktop editor's rule (ScoreSourceMap::timeAt); null where that rule gives no time.
void appendStart(std::string& json, const ScoreSourceMap& map,
                 const std::vector<EncodedLine>& lines, const Caret& caret) {
  json += "\"start\":";
  const bool known = caret.line >= 0 && caret.line < static_cast<int32_t>(lines.size());
  const std::optional<ScoreSourceMap::SourceTime> time =
      known ? map.timeAt(caret.line, byteColumn(lines[caret.line], caret.column)) : std::nullopt;
  if (!time) {
    json += "null";
    return;
  }
  json += "{\"tick\":";
  appendJsonNumber(json, time->tick);
  json += ",\"ms\":";
  appendJsonNumber(json, time->ms);
  json += '}';
}

// With `mapped`, the notes of the source map and the start at `caret` are in the result.
Result* compileScore(std::string source, const std::vector<EncodedLine>& lines, bool mapped,
                     const Caret& caret = {}) {
  auto session = std::make_unique<CompileSession>();
  WebCompileHost host(std::move(source), mapped);
  prepareConsoleCompilation(*session, host, false);
  const int32_t code = compileSource(*session);

  auto* result = new Result;
  std::string& json = result->json;
  json = "{\"code\":";
  appendJsonNumber(json, code);
  json += ",\"diagnostic\":";
  if (host.failure)
    appendDiagnostic(json, *host.failure, lines);
  else
    json += "null";
  json += ",\"messages\":";
  appendJsonString(json, host.transcript);
  if (code == 0) result->bytes = host.midi;
  if (mapped) {
    ScoreSourceMap map;
    std::string error;
    const std::vector<uint8_t> none;
    const std::vector<uint8_t>& midi = code == 0 ? host.midi : none;
    map.build(host.map, midi.data(), midi.size(), &error);  // an untimed file has no notes
    json += ',';
    appendNotes(json, map, lines);
    json += ',';
    appendStart(json, map, lines, caret);
  }
  json += '}';
  return result;
}

std::vector<EncodedLine> encodeLines(std::string_view text, TextEncoding encoding) {
  std::vector<EncodedLine> lines;
  for (std::string_view line : splitLines(text)) lines.push_back(encodeLine(line, encoding));
  return lines;
}

}  // namespace

extern "C" {

// The page's text (UTF-8, "\n" between lines) compiled as the score file the page saves in
// `encoding` (0 code page 932, 1 UTF-8): bytes the MIDI file when the compilation succeeded.
// The caret (line -1 for none) is where playback from the caret would start.
EMSCRIPTEN_KEEPALIVE Result* tarv_compile(const char* text, int32_t size, int32_t encoding,
                                          int32_t caretLine, int32_t caretColumn) {
  const std::string_view utf8(text, size_t(size));
  const std::vector<EncodedLine> lines = encodeLines(utf8, encodingOf(encoding));
  return compileScore(encodeScore(utf8, encodingOf(encoding)), lines, true,
                      Caret{caretLine, caretColumn});
}

// A score file's bytes compiled as they are, as tarvk32c compiles the file, without the notes;
// the diagnostic's columns are bytes.
EMSCRIPTEN_KEEPALIVE Result* tarv_compile_bytes(const char* bytes, int32_t size) {
  return compileScore(std::string(bytes, size_t(size)), {}, false);
}

// The page's text as the score file in `encoding` (CR LF line ends), in bytes.
EMSCRIPTEN_KEEPALIVE Result* tarv_score_file(const char* text, int32_t size, int32_t encoding) {
  auto* result = new Result;
  const std::string bytes = encodeScore(std::string_view(text, size_t(size)), encodingOf(encoding));
  result->bytes.assign(bytes.begin(), bytes.end());
  result->json = "{}";
  return result;
}

// A score file's bytes as the page's text: json "text" and "encoding" ("cp932" or "utf8").
EMSCRIPTEN_KEEPALIVE Result* tarv_open_score(const char* bytes, int32_t size) {
  TextEncoding encoding;
  const std::string text = decodeScore(std::string_view(bytes, size_t(size)), encoding);
  auto* result = new Result;
  result->json = "{\"text\":";
  appendJsonString(result->json, text);
  result->json +=
      encoding == TextEncoding::Utf8 ? ",\"encoding\":\"utf8\"}" : ",\"encoding\":\"cp932\"}";
  return result;
}

// The colours of lines [first, first + count) of the text: json "spans", [line, from, to, kind]
// in the page's columns, kind a SpanKind. The lines before `first` are read for their state.
EMSCRIPTEN_KEEPALIVE Result* tarv_highlight(const char* text, int32_t size, int32_t encoding,
                                            int32_t first, int32_t count) {
  static LineHighlighter highlighter;
  auto* result = new Result;
  std::string& json = result->json;
  json = "{\"spans\":[";
  DisplayLineState state;
  std::vector<DisplaySpan> spans;
  bool firstSpan = true;
  int32_t index = 0;
  for (std::string_view text8 : splitLines(std::string_view(text, size_t(size)))) {
    if (index >= first + count) break;
    const EncodedLine line = encodeLine(text8, encodingOf(encoding));
    state = highlighter.highlightLine(line.bytes, state, spans);
    if (index >= first) {
      for (const DisplaySpan& s : spans) {
        json += firstSpan ? "[" : ",[";
        firstSpan = false;
        for (int32_t n : {index, pageColumn(line, s.start), pageColumn(line, s.start + s.length),
                          int32_t(s.kind)}) {
          appendJsonNumber(json, n);
          json += ',';
        }
        json.back() = ']';
      }
    }
    ++index;
  }
  json += "]}";
  return result;
}

// A Standard MIDI File imported as a score in `encoding`: bytes the score file, json "ok", the
// score's "text" (UTF-8), the "report" lines and the refusal's "error", in English or Japanese.
EMSCRIPTEN_KEEPALIVE Result* tarv_import(const uint8_t* bytes, int32_t size, int32_t encoding,
                                         int32_t japanese) {
  const ImportLanguage language = japanese ? ImportLanguage::Japanese : ImportLanguage::English;
  const ImportResult imported = importMidi(bytes, size_t(size), encodingOf(encoding));
  auto* result = new Result;
  std::string& json = result->json;
  json = imported.ok ? "{\"ok\":true" : "{\"ok\":false";
  json += ",\"error\":";
  appendJsonString(json, imported.ok ? "" : formatImportMessage(imported.error, language));
  json += ",\"text\":";
  appendJsonString(json, imported.text);
  json += ",\"report\":[";
  for (size_t i = 0; i < imported.report.size(); ++i) {
    if (i > 0) json += ',';
    appendJsonString(json, formatImportMessage(imported.report[i], language));
  }
  json += "],\"notes\":";
  appendJsonNumber(json, imported.notes);
  json += '}';
  result->bytes.assign(imported.bytes.begin(), imported.bytes.end());
  return result;
}

EMSCRIPTEN_KEEPALIVE const uint8_t* tarv_result_bytes(const Result* r) {
  return r->bytes.data();
}
EMSCRIPTEN_KEEPALIVE int32_t tarv_result_size(const Result* r) {
  return static_cast<int32_t>(r->bytes.size());
}
EMSCRIPTEN_KEEPALIVE const char* tarv_result_json(const Result* r) {
  return r->json.c_str();
}
EMSCRIPTEN_KEEPALIVE void tarv_result_free(Result* r) {
  delete r;
}

}  // extern "C"
