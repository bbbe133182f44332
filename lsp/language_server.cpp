#include "lsp/language_server.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <unordered_map>

#include "core/compile_session.h"
#include "core/diagnostics.h"
#include "core/line_highlighter.h"
#include "core/midi_writer.h"
#include "core/pitch_names.h"
#include "lsp/command_context.h"
#include "lsp/instrument_names.h"
#include "lsp/make_midi.h"
#include "lsp/message_json.h"
#include "lsp/quick_fixes.h"
#include "lsp/score_outline.h"
#include "lsp/score_words.h"

using json = nlohmann::json;

namespace {

// Error codes of JSON-RPC and of the protocol.
enum ErrorCode : int {
  PARSE_ERROR = -32700,
  INVALID_REQUEST = -32600,
  METHOD_NOT_FOUND = -32601,
  INVALID_PARAMS = -32602,
  SERVER_NOT_INITIALIZED = -32002,
  REQUEST_CANCELLED = -32800,
  CONTENT_MODIFIED = -32801,
};

constexpr const char* MAKE_MIDI_COMMAND = "tarvik.makeMidi";
constexpr const char* CODE_ACTION_KIND_SOURCE = "source";
constexpr const char* MAKE_MIDI_ACTION_KIND = "source.makeMidi";
constexpr const char* QUICK_FIX_ACTION_KIND = "quickfix";
constexpr int SYMBOL_KIND_MODULE = 2;
constexpr int SYMBOL_KIND_PROPERTY = 7;
constexpr int COMPLETION_KIND_FUNCTION = 3;
constexpr int COMPLETION_KIND_VALUE = 12;
constexpr int COMPLETION_KIND_KEYWORD = 14;
constexpr int INSERT_TEXT_FORMAT_SNIPPET = 2;
// The digits of a number being typed that signature help reads; more name no program or key.
constexpr size_t NAMED_NUMBER_DIGITS_MAX = 3;
constexpr int MESSAGE_TYPE_ERROR = 1;
constexpr int MESSAGE_TYPE_INFO = 3;
constexpr int DIAGNOSTIC_SEVERITY_ERROR = 1;
constexpr int DIAGNOSTIC_SEVERITY_WARNING = 2;

// A failure that becomes the request's error response.
struct RequestError {
  int code;
  std::string message;
};

// The characters that start a number: the letters of the numbered commands in both cases.
json signatureTriggers() {
  json characters = json::array();
  for (const NumberCommand& command : numberCommands()) {
    characters.push_back(std::string(1, command.letter));
    if (std::isalpha(static_cast<unsigned char>(command.letter)))
      characters.push_back(std::string(1, static_cast<char>(std::toupper(command.letter))));
  }
  return characters;
}

// A snippet's text without its tab stops ($1, $0).
std::string plainOfSnippet(std::string_view snippet) {
  std::string plain;
  for (size_t i = 0; i < snippet.size(); ++i) {
    if (snippet[i] == '$' && i + 1 < snippet.size() &&
        std::isdigit(static_cast<unsigned char>(snippet[i + 1]))) {
      ++i;
      continue;
    }
    plain += snippet[i];
  }
  return plain;
}

// Numbers as a JSON array's text: a 1 MB score has hundreds of thousands of tokens, written
// straight into the text rather than through JSON values.
template <typename Iterator>
std::string numberList(Iterator first, Iterator last) {
  std::string text = "[";
  text.reserve(static_cast<size_t>(last - first) * 3 + 2);
  char digits[24];
  for (Iterator it = first; it != last; ++it) {
    if (it != first) text += ',';
    text.append(digits, std::to_chars(digits, digits + sizeof digits, *it).ptr);
  }
  text += ']';
  return text;
}

std::string dumped(const json& message) {
  return message.dump(-1, ' ', false, json::error_handler_t::replace);
}

// A position's line or character: an integer, one beyond the 64-bit range standing for the
// largest.
int64_t integerAt(const json& position, const char* key) {
  const json& value = position.at(key);
  if (value.is_number_unsigned())
    return static_cast<int64_t>(
        std::min<uint64_t>(value.get<uint64_t>(), std::numeric_limits<int64_t>::max()));
  if (!value.is_number_integer())
    throw RequestError{INVALID_PARAMS, std::string("a position's ") + key + " is no integer"};
  return value.get<int64_t>();
}

// One change of a didChange notification, read before any is applied.
struct TextChange {
  bool ranged = false;
  TextPosition from, to;
  std::string text;
};

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

// The file a file: URI names, percent escapes decoded; empty for any other URI.
std::string pathOfUri(const std::string& uri) {
  constexpr std::string_view SCHEME = "file://";
  if (!uri.starts_with(SCHEME)) return {};
  std::string_view rest = std::string_view(uri).substr(SCHEME.size());
  const size_t slash = rest.find('/');
  if (slash == std::string_view::npos) return {};
  const std::string_view host = rest.substr(0, slash);
  if (!host.empty() && host != "localhost") return {};
  rest.remove_prefix(slash);
  std::string path;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '%' && i + 2 < rest.size() + 0 && hexValue(rest[i + 1]) >= 0 &&
        hexValue(rest[i + 2]) >= 0) {
      path += static_cast<char>(hexValue(rest[i + 1]) * 16 + hexValue(rest[i + 2]));
      i += 2;
    } else {
      path += rest[i];
    }
  }
  return path.find('\0') == std::string::npos ? path : std::string();
}

// The encoding the editor decides for the file at the path: read without blocking, only a
// regular file the editor would load; UTF-8 where there is none.
TextEncoding encodingOfFile(const std::string& path) {
  if (path.empty()) return TextEncoding::Utf8;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return TextEncoding::Utf8;
  struct stat info {};
  std::string bytes;
  bool regular =
      ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= LOADABLE_FILE_BYTES;
  if (regular) {
    bytes.resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    bytes.resize(done);
  }
  ::close(fd);
  return regular ? detectScoreEncoding(bytes).encoding : TextEncoding::Utf8;
}

// One open score: its text, and what was computed from its current version.
struct OpenScore {
  explicit OpenScore(TextEncoding encoding) : text(encoding) {}
  std::string uri;
  int64_t version = 0;
  ScoreText text;
  ScoreAnalysis analysis;
  bool analysed = false;
  LineHighlights highlights;
  bool highlighted = false;
  ScoreOutline outline;
  bool outlined = false;
  std::optional<LanguageServer::Clock::time_point> diagnosticsDue;
  // The tokens last sent whole or as a delta, and their result id; empty before any.
  std::vector<uint32_t> tokens;
  std::string tokensResultId;
  LanguageServer::Clock::time_point diagnosticsLatest;  // the max wait's end, while one is due
};

struct LanguageServer::State {
  bool initialized = false;
  PositionEncoding units = PositionEncoding::UTF16;
  Language language = Language::ENGLISH;
  bool snippets = false;  // the client's completion takes snippets
  std::map<std::string, std::unique_ptr<OpenScore>> scores;
  LineHighlighter highlighter;
  std::vector<DisplaySpan> spans;

  OpenScore& score(const json& params) {
    const std::string uri = params.at("textDocument").at("uri").get<std::string>();
    const auto found = scores.find(uri);
    if (found == scores.end()) throw RequestError{INVALID_PARAMS, "unknown document: " + uri};
    return *found->second;
  }
  ScoreAnalysis& analysis(OpenScore& score) {
    if (!score.analysed) score.analysis.compile(score.text);
    score.analysed = true;
    return score.analysis;
  }
  const LineHighlights& highlights(OpenScore& score) {
    if (!score.highlighted) score.highlights.update(score.text, highlighter);
    score.highlighted = true;
    return score.highlights;
  }
  ScoreOutline& outline(OpenScore& score) {
    if (!score.outlined) score.outline.build(score.text, highlights(score));
    score.outlined = true;
    return score.outline;
  }
  TextPosition position(const json& p) const {
    return {integerAt(p, "line"), integerAt(p, "character")};
  }
  json point(const ScoreText& text, int32_t line, size_t column) const {
    line = text.clampLine(line);
    return {{"line", line}, {"character", text.characterOfCompileByte(line, column, units)}};
  }
  json range(const ScoreText& text, int32_t line, size_t column, int32_t endLine,
             size_t endColumn) const {
    return {{"start", point(text, line, column)}, {"end", point(text, endLine, endColumn)}};
  }
  const char* text(const char* english, const char* japanese) const {
    return language == Language::JAPANESE ? japanese : english;
  }

  json initialize(const json& params);
  void open(const json& document);
  void changed(OpenScore& score);
  json diagnostics(OpenScore& score);
  // Tokens as JSON text (numberList()).
  std::string semanticTokens(OpenScore& score, int32_t firstLine, int32_t lastLine);
  std::string semanticTokensFull(OpenScore& score);
  std::string semanticTokensDelta(OpenScore& score, const std::string& previousResultId);
  // The tokens of the lines as the protocol's integers, five a token.
  void tokenData(OpenScore& score, int32_t firstLine, int32_t lastLine,
                 std::vector<uint32_t>& data);
  uint64_t tokenResults = 0;  // the result ids given so far
  json hover(OpenScore& score, TextPosition at);
  json symbols(OpenScore& score);
  json inlayHints(OpenScore& score, TextPosition from, TextPosition to);
  json folds(OpenScore& score);
  // Where a point stands, for completion and signature help.
  struct Place {
    enum Kind { NOWHERE, OP_LIST, COMMAND_STRING, BETWEEN_BLOCKS } kind = NOWHERE;
    int32_t line = 0;
    size_t column = 0;       // compile bytes of the line
    size_t stringStart = 0;  // COMMAND_STRING: the byte after its opening quote
    int channel = 0;         // COMMAND_STRING: the channel of the block it is in (1..9), or 0
  };
  Place placeAt(OpenScore& score, TextPosition at);
  json completion(OpenScore& score, TextPosition at);
  json signatureHelp(OpenScore& score, TextPosition at);
  const char* describeNumber(const NumberCommand& command) const {
    return text(command.english, command.japanese);
  }
  void applyChanges(OpenScore& score, const json& params);
  std::string semanticTokensInRange(OpenScore& score, TextPosition from, TextPosition to);
  json makeMidi(const json& params, std::function<void(const std::string&)>& send);
  json makeMidiCommand(const OpenScore& score) const;
  json diagnostic(const OpenScore& score, const Diagnostic& d) const;
  json quickFixes(OpenScore& score, const json& params);
  json codeActions(OpenScore& score, const json& params);
  json codeLenses(const OpenScore& score) const;
  std::string makeMidiMessage(const MakeMidiOutcome& outcome, const std::string& path) const;
};

json LanguageServer::State::initialize(const json& params) {
  units = PositionEncoding::UTF16;
  const json general =
      params.value("/capabilities/general/positionEncodings"_json_pointer, json::array());
  if (general.is_array()) {
    for (const json& offered : general)
      if (offered == "utf-8") units = PositionEncoding::UTF8;
  }
  snippets = params.value(
                 "/capabilities/textDocument/completion/completionItem/snippetSupport"_json_pointer,
                 json(false)) == true;
  const json options = params.value("initializationOptions", json::object());
  if (options.is_object() && options.value("language", json()) == "ja")
    language = Language::JAPANESE;
  initialized = true;

  json legend = {{"tokenTypes", json::array()}, {"tokenModifiers", json::array()}};
  for (const char* type : SEMANTIC_TOKEN_TYPES) legend["tokenTypes"].push_back(type);
  return {{"capabilities",
           {{"positionEncoding", units == PositionEncoding::UTF8 ? "utf-8" : "utf-16"},
            {"textDocumentSync", {{"openClose", true}, {"change", 2}}},
            {"semanticTokensProvider",
             {{"legend", legend}, {"full", {{"delta", true}}}, {"range", true}}},
            {"hoverProvider", true},
            {"documentSymbolProvider", true},
            {"foldingRangeProvider", true},
            {"completionProvider", {{"triggerCharacters", {"\"", "(", "@"}}}},
            {"signatureHelpProvider",
             {{"triggerCharacters", signatureTriggers()},
              {"retriggerCharacters", {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}}}},
            {"codeActionProvider",
             {{"codeActionKinds", {QUICK_FIX_ACTION_KIND, MAKE_MIDI_ACTION_KIND}}}},
            {"codeLensProvider", {{"resolveProvider", false}}},
            {"inlayHintProvider", true},
            {"executeCommandProvider", {{"commands", {MAKE_MIDI_COMMAND}}}}}},
          {"serverInfo", {{"name", "tarvik32-lsp"}, {"version", TARV_VERSION}}}};
}

void LanguageServer::State::open(const json& document) {
  const std::string uri = document.at("uri").get<std::string>();
  auto score = std::make_unique<OpenScore>(encodingOfFile(pathOfUri(uri)));
  score->uri = uri;
  score->version = document.value("version", int64_t{0});
  score->text.setText(document.at("text").get<std::string>());
  changed(*score);
  scores[uri] = std::move(score);
}

// A didChange notification's changes and version are all read first, so that a bad one leaves
// the score as it was: the text, and what was computed from it, always agree.
void LanguageServer::State::applyChanges(OpenScore& score, const json& params) {
  const json& document = params.at("textDocument");
  int64_t version = score.version;
  if (document.contains("version")) {
    if (!document["version"].is_number_integer())
      throw RequestError{INVALID_PARAMS, "the version is no integer"};
    version = document["version"].get<int64_t>();
  }
  const json& list = params.at("contentChanges");
  if (!list.is_array()) throw RequestError{INVALID_PARAMS, "contentChanges is no array"};
  std::vector<TextChange> changes;
  changes.reserve(list.size());
  for (const json& change : list) {
    TextChange& read = changes.emplace_back();
    read.text = change.at("text").get<std::string>();
    if (change.contains("range")) {
      const json& range = change["range"];
      read.ranged = true;
      read.from = position(range.at("start"));
      read.to = position(range.at("end"));
    }
  }
  for (const TextChange& change : changes) {
    if (change.ranged) {
      score.text.replace(change.from, change.to, change.text, units);
    } else {
      score.text.setText(change.text);
    }
  }
  score.version = version;
  changed(score);
}

void LanguageServer::State::changed(OpenScore& score) {
  score.analysed = false;
  score.highlighted = false;
  score.outlined = false;
  const Clock::time_point now = Clock::now();
  if (!score.diagnosticsDue) score.diagnosticsLatest = now + DIAGNOSTICS_MAX_WAIT;
  score.diagnosticsDue = std::min(now + DIAGNOSTICS_DELAY, score.diagnosticsLatest);
}

// An unencodable character and a long line are no compiler errors: they carry no code.
json LanguageServer::State::diagnostic(const OpenScore& score, const Diagnostic& d) const {
  json item = {{"range", range(score.text, d.line, static_cast<size_t>(d.commandStart), d.line,
                               static_cast<size_t>(d.commandEnd))},
               {"severity", d.error() ? DIAGNOSTIC_SEVERITY_ERROR : DIAGNOSTIC_SEVERITY_WARNING},
               {"source", "tarvik32"},
               {"message", diagnosticMessage(d, language)}};
  if (d.code != DIAGNOSTIC_UNENCODABLE && d.code != DIAGNOSTIC_LONG_LINE) item["code"] = d.code;
  return item;
}

json LanguageServer::State::diagnostics(OpenScore& score) {
  json list = json::array();
  for (const Diagnostic& d : analysis(score).diagnostics()) list.push_back(diagnostic(score, d));
  return {{"jsonrpc", "2.0"},
          {"method", "textDocument/publishDiagnostics"},
          {"params", {{"uri", score.uri}, {"version", score.version}, {"diagnostics", list}}}};
}

void LanguageServer::State::tokenData(OpenScore& score, int32_t firstLine, int32_t lastLine,
                                      std::vector<uint32_t>& data) {
  const ScoreText& text = score.text;
  firstLine = text.clampLine(firstLine);
  lastLine = text.clampLine(lastLine);
  const LineHighlights& lines = highlights(score);
  data.clear();
  int32_t previousLine = 0;
  int64_t previousStart = 0;
  for (int32_t line = firstLine; line <= lastLine; ++line) {
    const std::string& bytes = text.compileLine(line);
    const bool direct = text.line(line).size() == bytes.size() &&
                        std::all_of(bytes.begin(), bytes.end(),
                                    [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    for (const DisplaySpan& span : lines.spans(line)) {
      const SemanticTokenType type = tokenTypeOf(span.kind);
      if (type == TOKEN_TYPE_COUNT || span.length == 0) continue;
      const auto from = static_cast<size_t>(span.start);
      const size_t to = from + static_cast<size_t>(span.length);
      const int64_t start =
          direct ? static_cast<int64_t>(from) : text.characterOfCompileByte(line, from, units);
      const int64_t end =
          direct ? static_cast<int64_t>(to) : text.characterOfCompileByte(line, to, units);
      if (end <= start) continue;
      data.push_back(static_cast<uint32_t>(line - previousLine));
      data.push_back(static_cast<uint32_t>(line == previousLine ? start - previousStart : start));
      data.push_back(static_cast<uint32_t>(end - start));
      data.push_back(static_cast<uint32_t>(type));
      data.push_back(0);
      previousLine = line;
      previousStart = start;
    }
  }
}

std::string LanguageServer::State::semanticTokens(OpenScore& score, int32_t firstLine,
                                                  int32_t lastLine) {
  std::vector<uint32_t> data;
  tokenData(score, firstLine, lastLine, data);
  return "{\"data\":" + numberList(data.begin(), data.end()) + "}";
}

// The whole score's tokens, kept with a result id that a later delta request starts from.
std::string LanguageServer::State::semanticTokensFull(OpenScore& score) {
  tokenData(score, 0, score.text.lineCount() - 1, score.tokens);
  score.tokensResultId = std::to_string(++tokenResults);
  return "{\"resultId\":\"" + score.tokensResultId +
         "\",\"data\":" + numberList(score.tokens.begin(), score.tokens.end()) + "}";
}

// The change from the tokens of the result named to the current ones, as one edit that
// replaces what lies between their common start and their common end; the whole tokens when
// that result is not the score's last one.
std::string LanguageServer::State::semanticTokensDelta(OpenScore& score,
                                                       const std::string& previousResultId) {
  if (previousResultId != score.tokensResultId || score.tokensResultId.empty())
    return semanticTokensFull(score);
  std::vector<uint32_t> now;
  tokenData(score, 0, score.text.lineCount() - 1, now);
  const std::vector<uint32_t>& before = score.tokens;
  const auto common = std::mismatch(before.begin(), before.end(), now.begin(), now.end());
  size_t start = static_cast<size_t>(common.first - before.begin());
  size_t tail = 0;
  while (tail < before.size() - start && tail < now.size() - start &&
         before[before.size() - 1 - tail] == now[now.size() - 1 - tail])
    ++tail;
  score.tokensResultId = std::to_string(++tokenResults);
  std::string result = "{\"resultId\":\"" + score.tokensResultId + "\",\"edits\":[";
  if (start + tail != before.size() || start + tail != now.size()) {
    result += "{\"start\":" + std::to_string(start) +
              ",\"deleteCount\":" + std::to_string(before.size() - start - tail) + ",\"data\":" +
              numberList(now.begin() + static_cast<ptrdiff_t>(start),
                         now.end() - static_cast<ptrdiff_t>(tail)) +
              "}";
  }
  result += "]}";
  score.tokens = std::move(now);
  return result;
}

// The lines a range covers, clamped to the text in 64 bits before they are lines of it; an end
// at the start of a line leaves that line out, and a range that ends before it starts is empty.
std::string LanguageServer::State::semanticTokensInRange(OpenScore& score, TextPosition from,
                                                         TextPosition to) {
  const int64_t lastLine = score.text.lineCount() - 1;
  const int64_t first = std::max<int64_t>(from.line, 0);
  const int64_t last = to.character == 0 && to.line > from.line ? to.line - 1 : to.line;
  if (first > lastLine || last < first) return "{\"data\":[]}";
  return semanticTokens(score, static_cast<int32_t>(first),
                        static_cast<int32_t>(std::min(last, lastLine)));
}

json LanguageServer::State::hover(OpenScore& score, TextPosition at) {
  const ScoreText& text = score.text;
  if (at.line < 0 || at.line >= text.lineCount()) return nullptr;
  const auto line = static_cast<int32_t>(at.line);
  const size_t column = text.compileByteAt(at, units);
  std::string contents;
  json where;
  if (const auto event = analysis(score).eventAt(line, column)) {
    contents = *analysis(score).describeEvent(line, column, language);
    const auto start = static_cast<size_t>(event->source.byteColumn);
    where = range(text, line, start, line, start + static_cast<size_t>(event->source.byteLength));
  } else {
    // A word the compiler reads but that makes no event: a header command, an op keyword or a
    // setting of a command string (o, l, <, >).
    const DisplayLineState start = outline(score).lineStates()[static_cast<size_t>(line)];
    highlighter.highlightLine(text.compileLine(line), start, spans);
    const std::string& bytes = text.compileLine(line);
    for (const DisplaySpan& span : spans) {
      const auto from = static_cast<size_t>(span.start);
      if (column < from || column >= from + static_cast<size_t>(span.length)) continue;
      const ScoreWord* word = nullptr;
      size_t wordStart = column;
      size_t wordEnd = column + 1;
      if (span.kind == SPAN_PARAMETER) {
        word = findWord(commandLetters(), std::string_view(bytes).substr(column, 1));
      } else if (span.kind == SPAN_HEADER_ARGUMENT) {
        wordStart = from;
        wordEnd = from + static_cast<size_t>(span.length);
        word = findWord(opKeywords(), std::string_view(bytes).substr(from, wordEnd - from));
      } else if (span.kind == SPAN_LINE_KEYWORD) {
        for (const ScoreSymbol& symbol : outline(score).symbols()) {
          const ScoreRange& s = symbol.selection;
          if (s.line == line && column >= s.column && column < s.endColumn) {
            word = findWord(lineKeywords(), symbol.name);
            wordStart = s.column;
            wordEnd = s.endColumn;
          }
        }
      }
      if (word != nullptr) {
        contents = std::string(word->text) + " : " + describe(*word, language);
        where = range(text, line, wordStart, line, wordEnd);
      }
      break;
    }
  }
  if (contents.empty()) return nullptr;
  return {{"contents", {{"kind", "plaintext"}, {"value", contents}}}, {"range", where}};
}

// At each command string's closing quote on the lines of the range, where its channel stands
// once the string is played; behind each run of octave marks, the octave it leaves.
json LanguageServer::State::inlayHints(OpenScore& score, TextPosition from, TextPosition to) {
  json hints = json::array();
  const ScoreText& text = score.text;
  const int64_t lastLine = text.lineCount() - 1;
  const int64_t first = std::max<int64_t>(from.line, 0);
  const int64_t last = std::min(to.line, lastLine);
  if (first > last) return hints;
  const ScoreAnalysis& timed = analysis(score);
  const std::vector<OctaveMark>& marks = timed.octaveMarks();
  auto mark =
      std::lower_bound(marks.begin(), marks.end(), first,
                       [](const OctaveMark& m, int64_t line) { return m.after.line < line; });
  DisplayLineState state = outline(score).lineStates()[static_cast<size_t>(first)];
  for (auto line = static_cast<int32_t>(first); line <= last; ++line) {
    const std::string& bytes = text.compileLine(line);
    state = highlighter.highlightLine(bytes, state, spans);
    // Hints of one line stand in column order: each octave before the quote behind it.
    auto octavesBefore = [&](size_t column) {
      while (mark != marks.end() && mark->after.line < line) ++mark;
      for (; mark != marks.end() && mark->after.line == line &&
             static_cast<size_t>(mark->after.column) <= column;
           ++mark) {
        hints.push_back({{"position", point(text, line, static_cast<size_t>(mark->after.column))},
                         {"label", formatText("‹o%d›", static_cast<int>(mark->octave))},
                         {"paddingLeft", false}});
      }
    };
    int quotes = 0;
    for (const DisplaySpan& span : spans) {
      if (span.kind != SPAN_COMMAND_STRING) continue;
      const auto start = static_cast<size_t>(span.start);
      for (size_t i = start; i < start + static_cast<size_t>(span.length); ++i) {
        if (bytes[i] != '"' || ++quotes % 2 != 0) continue;
        octavesBefore(i);
        const std::optional<std::string> place = timed.placeAfter(line, i);
        if (!place) continue;
        hints.push_back({{"position", point(text, line, i + 1)},
                         {"label", "‹" + *place + "›"},
                         {"paddingLeft", true}});
      }
    }
  }
  return hints;
}

json LanguageServer::State::symbols(OpenScore& score) {
  json list = json::array();
  for (const ScoreSymbol& symbol : outline(score).symbols()) {
    const ScoreRange& r = symbol.range;
    const ScoreRange& s = symbol.selection;
    json item = {{"name", symbol.name},
                 {"kind", symbol.kind == ScoreSymbol::CHANNEL_BLOCK ? SYMBOL_KIND_MODULE
                                                                    : SYMBOL_KIND_PROPERTY},
                 {"range", range(score.text, r.line, r.column, r.endLine, r.endColumn)},
                 {"selectionRange", range(score.text, s.line, s.column, s.endLine, s.endColumn)}};
    if (!symbol.detail.empty()) item["detail"] = symbol.detail;
    list.push_back(std::move(item));
  }
  return list;
}

json LanguageServer::State::folds(OpenScore& score) {
  json list = json::array();
  for (const ScoreFold& fold : outline(score).folds()) {
    json item = {{"startLine", fold.startLine}, {"endLine", fold.endLine}};
    if (fold.comment) item["kind"] = "comment";
    list.push_back(std::move(item));
  }
  return list;
}

LanguageServer::State::Place LanguageServer::State::placeAt(OpenScore& score, TextPosition at) {
  const ScoreText& text = score.text;
  Place place;
  if (at.line < 0 || at.line >= text.lineCount()) return place;
  place.line = static_cast<int32_t>(at.line);
  place.column = text.compileByteAt(at, units);
  const size_t column = place.column;
  const std::string& bytes = text.compileLine(place.line);
  const DisplayLineState start = outline(score).lineStates()[static_cast<size_t>(place.line)];
  // The header command's state at the point comes from the line up to it; the rest from the
  // whole line, where a command string has its closing quote.
  const DisplayLineState end = highlighter.highlightLine(
      std::string_view(bytes).substr(0, std::min(column, bytes.size())), start, spans);
  highlighter.highlightLine(bytes, start, spans);
  if (end.headerPhase == HEADER_OP_LIST) {
    place.kind = Place::OP_LIST;
    return place;
  }
  if (end.inBlockComment || end.headerPhase != HEADER_NONE) return place;
  // Inside a command string: an odd number of a string's quotes stand before the point.
  int quotes = 0;
  for (const DisplaySpan& span : spans) {
    const auto from = static_cast<size_t>(span.start);
    if (from >= column) break;
    const size_t to = std::min(column, from + static_cast<size_t>(span.length));
    if (to == column && (span.kind == SPAN_LINE_COMMENT || span.kind == SPAN_BLOCK_COMMENT))
      return place;
    if (span.kind != SPAN_COMMAND_STRING) continue;
    for (size_t i = from; i < to; ++i) {
      if (bytes[i] != '"') continue;
      ++quotes;
      place.stringStart = i + 1;
    }
  }
  const ScoreSymbol* block = nullptr;
  for (const ScoreSymbol& symbol : outline(score).symbols()) {
    if (symbol.kind != ScoreSymbol::CHANNEL_BLOCK) continue;
    const ScoreRange& r = symbol.range;
    const auto after = std::pair(r.line, r.column) < std::pair(place.line, column);
    const auto before = std::pair(place.line, column) < std::pair(r.endLine, r.endColumn);
    if (after && before) block = &symbol;
  }
  if (quotes % 2 == 1) {
    place.kind = Place::COMMAND_STRING;
    if (block != nullptr && block->name.size() == 3) place.channel = block->name[2] - '0';
    return place;
  }
  // Inside a channel block, between its strings, nothing fits.
  if (block == nullptr) place.kind = Place::BETWEEN_BLOCKS;
  return place;
}

// Every item replaces the word the client filters by (the letters and digits before the point)
// with that word and what the item adds, and is filtered by the same text: a client then keeps
// the command letters after "t120" or inside "cdefgab" as well as the keywords that start with
// what was typed.
json LanguageServer::State::completion(OpenScore& score, TextPosition at) {
  json items = json::array();
  const Place place = placeAt(score, at);
  if (place.kind == Place::NOWHERE) return items;
  const ScoreText& text = score.text;
  const std::string& bytes = text.compileLine(place.line);
  const size_t column = std::min(place.column, bytes.size());
  const size_t wordStart = clientWordStart(bytes, column);
  const json replaced = range(text, place.line, wordStart, place.line, column);
  // `ownStart`: where the item's own text starts, at or after the word's start.
  auto add = [&](const std::string& label, int kind, const std::string& detail, size_t ownStart,
                 const std::string& own, bool snippet) {
    const std::string plain =
        std::string(bytes, wordStart, ownStart - wordStart) + (snippet ? plainOfSnippet(own) : own);
    json item = {{"label", label},
                 {"kind", kind},
                 {"detail", detail},
                 {"filterText", plain},
                 {"textEdit", {{"range", replaced}, {"newText", plain}}}};
    if (snippet && snippets) {
      item["textEdit"]["newText"] = std::string(bytes, wordStart, ownStart - wordStart) + own;
      item["insertTextFormat"] = INSERT_TEXT_FORMAT_SNIPPET;
    }
    items.push_back(std::move(item));
  };
  auto addWords = [&](std::span<const ScoreWord> words, int kind, size_t ownStart) {
    for (const ScoreWord& word : words) {
      add(word.text, kind, describe(word, language), ownStart,
          word.insert != nullptr ? word.insert : word.text, word.insert != nullptr);
    }
  };
  if (place.kind == Place::OP_LIST) {
    addWords(opKeywords(), COMPLETION_KIND_KEYWORD, wordStart);
  } else if (place.kind == Place::BETWEEN_BLOCKS) {
    addWords(lineKeywords(), COMPLETION_KIND_KEYWORD, wordStart);
  } else if (const auto number = numberBeingTyped(bytes, place.stringStart, column);
             number && number->command->letter == '@') {
    for (int program = 0; program < GM_PROGRAM_COUNT; ++program) {
      const std::string value = std::to_string(program);
      add(value + " " + programName(program, language), COMPLETION_KIND_VALUE,
          describeNumber(*number->command), number->numberStart, value, false);
    }
  } else if (number && number->command->letter == 'n' && place.channel == DRUM_CHANNEL) {
    for (int n = 0; n <= EVENT_NOTE_LAST; ++n) {
      const char* drum = drumSoundName(keyOfNoteNumber(n), language);
      if (drum == nullptr) continue;
      const std::string value = std::to_string(n);
      add(value + " " + drum, COMPLETION_KIND_VALUE, pitchName(keyOfNoteNumber(n)),
          number->numberStart, value, false);
    }
  } else {
    addWords(commandLetters(), COMPLETION_KIND_FUNCTION, column);
  }
  return items;
}

// Inside the number of a numbered command: what the number is and the values it takes, and for
// a program or a drum key the sound of the number typed so far.
json LanguageServer::State::signatureHelp(OpenScore& score, TextPosition at) {
  const Place place = placeAt(score, at);
  if (place.kind != Place::COMMAND_STRING) return nullptr;
  const std::string& bytes = score.text.compileLine(place.line);
  const auto number = numberBeingTyped(bytes, place.stringStart, place.column);
  if (!number) return nullptr;
  const NumberCommand& command = *number->command;
  std::string label = std::string(1, command.letter) + " " + describeNumber(command);
  // What the channel has before this command: the value the number replaces.
  if (command.event != EVENT_END) {
    const auto commandStart = number->numberStart - 1;
    if (const auto now =
            analysis(score).valueBefore(place.channel, place.line, commandStart, command.event)) {
      label += text(", now ", "、今は ") + std::to_string(*now + command.shown);
      if (command.letter == '@') {
        if (const char* name = programName(*now, language)) label += std::string(" ") + name;
      }
    }
  }
  if (!number->digits.empty() && number->digits.size() <= NAMED_NUMBER_DIGITS_MAX) {
    const int value = std::stoi(number->digits);
    const char* sound = nullptr;
    if (command.letter == '@') sound = programName(value, language);
    if (command.letter == 'n' && place.channel == DRUM_CHANNEL && value <= EVENT_NOTE_LAST)
      sound = drumSoundName(keyOfNoteNumber(value), language);
    if (sound != nullptr) label += " — " + number->digits + " " + sound;
  }
  return {{"signatures",
           {{{"label", label}, {"parameters", {{{"label", std::string(command.values)}}}}}}},
          {"activeSignature", 0},
          {"activeParameter", 0}};
}

// Compiles the file on disk exactly as tarvk32c does (its own program function) and tells the
// outcome in a message. tarvk32c's console text goes back only for a score the client has open:
// it quotes the failing line of whatever file it was given.
// The make-MIDI command on the score, as the client runs it: its document as the argument.
json LanguageServer::State::makeMidiCommand(const OpenScore& score) const {
  const char* title = text("Make MIDI file", "MIDI ファイルを作る");
  return {{"title", title}, {"command", MAKE_MIDI_COMMAND}, {"arguments", {{{"uri", score.uri}}}}};
}

// The fixes of the score's diagnostics whose range meets the range asked about, each a quick fix
// with its edit.
json LanguageServer::State::quickFixes(OpenScore& score, const json& params) {
  const json& asked = params.at("range");
  const TextPosition from = position(asked.at("start"));
  const TextPosition to = position(asked.at("end"));
  auto before = [](const TextPosition& a, const TextPosition& b) {
    return a.line < b.line || (a.line == b.line && a.character < b.character);
  };
  json actions = json::array();
  for (const Diagnostic& d : analysis(score).diagnostics()) {
    const json item = diagnostic(score, d);
    const TextPosition start = position(item["range"]["start"]);
    const TextPosition end = position(item["range"]["end"]);
    if (before(end, from) || before(to, start)) continue;
    const std::optional<QuickFix> fix = quickFixOf(score.text, d, language);
    if (!fix) continue;
    json edit = {
        {"range", range(score.text, fix->line, fix->startColumn, fix->line, fix->endColumn)},
        {"newText", fix->newText}};
    actions.push_back({{"title", fix->title},
                       {"kind", QUICK_FIX_ACTION_KIND},
                       {"diagnostics", {item}},
                       {"isPreferred", true},
                       {"edit", {{"changes", {{score.uri, {edit}}}}}}});
  }
  return actions;
}

// The quick fixes of the diagnostics at the range, then the make-MIDI command as a source action,
// which every score offers wherever the client asks, with or without a diagnostic; a client that
// asks only for some kinds gets those.
json LanguageServer::State::codeActions(OpenScore& score, const json& params) {
  const json only = params.value("/context/only"_json_pointer, json());
  auto wanted = [&only](std::initializer_list<const char*> kinds) {
    if (!only.is_array()) return true;
    return std::any_of(only.begin(), only.end(), [&kinds](const json& kind) {
      return std::any_of(kinds.begin(), kinds.end(),
                         [&kind](const char* known) { return kind == known; });
    });
  };
  json actions = wanted({QUICK_FIX_ACTION_KIND}) ? quickFixes(score, params) : json::array();
  if (wanted({CODE_ACTION_KIND_SOURCE, MAKE_MIDI_ACTION_KIND})) {
    const json command = makeMidiCommand(score);
    actions.push_back(
        {{"title", command["title"]}, {"kind", MAKE_MIDI_ACTION_KIND}, {"command", command}});
  }
  return actions;
}

// A lens on the first line that runs the command.
json LanguageServer::State::codeLenses(const OpenScore& score) const {
  return json::array(
      {{{"range",
         {{"start", {{"line", 0}, {"character", 0}}}, {"end", {{"line", 0}, {"character", 0}}}}},
        {"command", makeMidiCommand(score)}}});
}

json LanguageServer::State::makeMidi(const json& params,
                                     std::function<void(const std::string&)>& send) {
  const json arguments = params.value("arguments", json::array());
  std::string uri;
  if (arguments.is_array() && !arguments.empty()) {
    const json& first = arguments[0];
    if (first.is_string()) uri = first.get<std::string>();
    if (first.is_object()) uri = first.value("uri", "");
  }
  const std::string path = pathOfUri(uri);
  if (path.empty()) throw RequestError{INVALID_PARAMS, "tarvik.makeMidi needs a file: URI"};

  const auto open = scores.find(uri);
  const MakeMidiOutcome outcome =
      makeMidiFile(path, open != scores.end() ? &open->second->text : nullptr);
  const bool written = outcome.kind == MakeMidiOutcome::WRITTEN;
  send(dumped({{"jsonrpc", "2.0"},
               {"method", "window/showMessage"},
               {"params",
                {{"type", written ? MESSAGE_TYPE_INFO : MESSAGE_TYPE_ERROR},
                 {"message", makeMidiMessage(outcome, path)}}}}));
  json result = {{"exitStatus", outcome.exitStatus}, {"output", outcome.output}};
  if (open != scores.end() && !outcome.console.empty()) result["console"] = outcome.console;
  return result;
}

std::string LanguageServer::State::makeMidiMessage(const MakeMidiOutcome& outcome,
                                                   const std::string& path) const {
  const char* notWritten =
      text("The MIDI file was not written: ", "MIDI ファイルは書き出されませんでした: ");
  switch (outcome.kind) {
    case MakeMidiOutcome::WRITTEN:
      return text("Wrote ", "MIDI ファイルを書き出しました: ") + outcome.output;
    case MakeMidiOutcome::NOT_OPENED:
      return notWritten + formatText(text("%s cannot be opened (%s)", "%s を開けません (%s)"),
                                     path.c_str(), outcome.reason.c_str());
    case MakeMidiOutcome::NOT_REGULAR:
      return notWritten +
             formatText(text("%s is not a regular file", "%s は通常のファイルではありません"),
                        path.c_str());
    case MakeMidiOutcome::OVERWRITES:
      return notWritten + formatText(text("its name %s is the score's own file",
                                          "出力先 %s はスコア自身のファイルです"),
                                     outcome.output.c_str());
    case MakeMidiOutcome::UNSAVED:
      return notWritten + formatText(text("%s on disk differs from the text in the editor: save "
                                          "it first",
                                          "ディスクの %s がエディタの内容と違います。先に保存して"
                                          "ください"),
                                     path.c_str());
    case MakeMidiOutcome::FAILED:
      break;
  }
  const std::optional<Diagnostic>& failure = outcome.failure;
  if (!failure || failure->code == DIAGNOSTIC_OUTPUT_OPEN ||
      failure->code == DIAGNOSTIC_OUTPUT_WRITE) {
    if (outcome.reason.empty())
      return notWritten + formatText(text("%s could not be written", "%s を書き出せませんでした"),
                                     outcome.output.c_str());
    return notWritten +
           formatText(text("%s could not be written (%s)", "%s を書き出せませんでした (%s)"),
                      outcome.output.c_str(), outcome.reason.c_str());
  }
  if (failure->line < 0) return notWritten + diagnosticMessage(*failure, language);
  return notWritten + formatText(text("line %d: %s", "%d 行目: %s"),
                                 static_cast<int>(failure->lineNumber),
                                 diagnosticMessage(*failure, language).c_str());
}

// ---------------------------------------------------------------------------------------------

struct LanguageServer::Batch {
  std::vector<json> messages;       // parsed, or discarded when not JSON or too deep
  std::set<std::string> cancelled;  // dumped ids
  // The index of the last message that changes or closes each score.
  std::unordered_map<std::string, size_t> lastChange;
};

LanguageServer::LanguageServer(std::function<void(const std::string&)> send)
    : send_(std::move(send)), state_(std::make_unique<State>()) {}

LanguageServer::~LanguageServer() = default;

void LanguageServer::frameRejected(const char* reason) {
  std::fprintf(stderr, "tarvik32-lsp: message dropped: %s\n", reason);
}

namespace {

// The score a didChange or didClose notification changes; empty for any other message.
std::string changedUri(const json& message) {
  if (!message.is_object()) return {};
  const json method = message.value("method", json());
  if (method != "textDocument/didChange" && method != "textDocument/didClose") return {};
  const json* uri = &message;
  for (const char* key : {"params", "textDocument", "uri"}) {
    if (!uri->is_object() || !uri->contains(key)) return {};
    uri = &(*uri)[key];
  }
  return uri->is_string() ? uri->get<std::string>() : std::string();
}

}  // namespace

// A body nested too deep is answered, when it is a request, by its id; nothing in it is handled.
void LanguageServer::refuseTooDeep(const json& message) {
  const bool request = message.is_object() && message.contains("id") &&
                       (message["id"].is_string() || message["id"].is_number_integer());
  if (!request) {
    frameRejected("a body nested too deep");
    return;
  }
  send_(dumped({{"jsonrpc", "2.0"},
                {"id", message["id"]},
                {"error",
                 {{"code", INVALID_REQUEST},
                  {"message", formatText("the message is nested deeper than %d levels",
                                         MESSAGE_NESTING_MAX)}}}}));
}

void LanguageServer::handleBatch(const std::vector<std::string>& bodies) {
  Batch batch;
  batch.messages.reserve(bodies.size());
  for (const std::string& body : bodies) {
    ParsedMessage parsed = parseMessage(body);
    json& message = parsed.message;
    if (message.is_discarded()) {
      send_(dumped({{"jsonrpc", "2.0"},
                    {"id", nullptr},
                    {"error", {{"code", PARSE_ERROR}, {"message", "the body is not JSON"}}}}));
    } else if (parsed.tooDeep) {
      refuseTooDeep(message);
      message = json(json::value_t::discarded);
    }
    if (message.is_object() && message.value("method", json()) == "$/cancelRequest" &&
        message.contains("params") && message["params"].is_object() &&
        message["params"].contains("id"))
      batch.cancelled.insert(message["params"]["id"].dump());
    if (std::string uri = changedUri(message); !uri.empty())
      batch.lastChange[std::move(uri)] = batch.messages.size();
    batch.messages.push_back(std::move(message));
  }
  for (size_t i = 0; i < batch.messages.size() && !exitRequested_; ++i) {
    if (!batch.messages[i].is_discarded()) handle(batch, i);
  }
}

// What a method's handler answers: nothing (a notification), a result as a JSON value, or a
// result already written as JSON text.
struct LanguageServer::Answer {
  enum Kind { NONE, VALUE, TEXT } kind = NONE;
  json value;
  std::string text;
  static Answer none() { return {}; }
  static Answer of(json value) { return {VALUE, std::move(value), {}}; }
  static Answer ofText(std::string text) { return {TEXT, {}, std::move(text)}; }
};

// A method the server knows: what it is sent as, and its handler. A document request gets its
// open score, looked up only once the method is known; a request that comes as a notification
// is not handled.
struct LanguageServer::Method {
  enum Kind { NOTIFICATION, REQUEST, DOCUMENT_REQUEST } kind;
  Answer (*run)(LanguageServer& server, const json& params, OpenScore* score);
};

const std::unordered_map<std::string_view, LanguageServer::Method>& LanguageServer::methods() {
  using Params = const json&;
  static const std::unordered_map<std::string_view, Method> table = {
      {"initialize",
       {Method::REQUEST,
        [](LanguageServer& server, Params params, OpenScore*) {
          State& s = *server.state_;
          if (s.initialized) throw RequestError{INVALID_REQUEST, "already initialized"};
          return Answer::of(s.initialize(params));
        }}},
      {"shutdown",
       {Method::REQUEST,
        [](LanguageServer& server, Params, OpenScore*) {
          server.shutdown_ = true;
          return Answer::of(nullptr);
        }}},
      {"textDocument/didOpen",
       {Method::NOTIFICATION,
        [](LanguageServer& server, Params params, OpenScore*) {
          server.state_->open(params.at("textDocument"));
          return Answer::none();
        }}},
      {"textDocument/didChange",
       {Method::NOTIFICATION,
        [](LanguageServer& server, Params params, OpenScore*) {
          State& s = *server.state_;
          const auto found = s.scores.find(params.at("textDocument").at("uri").get<std::string>());
          if (found != s.scores.end()) s.applyChanges(*found->second, params);
          return Answer::none();
        }}},
      {"textDocument/didClose",
       {Method::NOTIFICATION,
        [](LanguageServer& server, Params params, OpenScore*) {
          const std::string uri = params.at("textDocument").at("uri").get<std::string>();
          if (server.state_->scores.erase(uri) > 0) {
            server.send_(dumped({{"jsonrpc", "2.0"},
                                 {"method", "textDocument/publishDiagnostics"},
                                 {"params", {{"uri", uri}, {"diagnostics", json::array()}}}}));
          }
          return Answer::none();
        }}},
      {"workspace/executeCommand",
       {Method::REQUEST,
        [](LanguageServer& server, Params params, OpenScore*) {
          if (params.value("command", "") != MAKE_MIDI_COMMAND)
            throw RequestError{INVALID_PARAMS, "unknown command"};
          return Answer::of(server.state_->makeMidi(params, server.send_));
        }}},
      {"textDocument/semanticTokens/full",
       {Method::DOCUMENT_REQUEST,
        [](LanguageServer& server, Params, OpenScore* score) {
          return Answer::ofText(server.state_->semanticTokensFull(*score));
        }}},
      {"textDocument/semanticTokens/full/delta",
       {Method::DOCUMENT_REQUEST,
        [](LanguageServer& server, Params params, OpenScore* score) {
          return Answer::ofText(server.state_->semanticTokensDelta(
              *score, params.at("previousResultId").get<std::string>()));
        }}},
      {"textDocument/semanticTokens/range",
       {Method::DOCUMENT_REQUEST,
        [](LanguageServer& server, Params params, OpenScore* score) {
          State& s = *server.state_;
          const json& range = params.at("range");
          return Answer::ofText(s.semanticTokensInRange(*score, s.position(range.at("start")),
                                                        s.position(range.at("end"))));
        }}},
      {"textDocument/hover",
       {Method::DOCUMENT_REQUEST,
        [](LanguageServer& server, Params params, OpenScore* score) {
          State& s = *server.state_;
          return Answer::of(s.hover(*score, s.position(params.at("position"))));
        }}},
      {"textDocument/documentSymbol",
       {Method::DOCUMENT_REQUEST,
        [](LanguageServer& server, Params, OpenScore* score) {
          return Answer::of(server.state_->symbols(*score));
        }}},
      {"textDocument/foldingRange",
       {Method::DOCUMENT_REQUEST,
        [](LanguageServer& server, Params, OpenScore* score) {
          return Answer::of(server.state_->folds(*score));
        }}},
      {"textDocument/signatureHelp",
       {Method::DOCUMENT_REQUEST,
        [](LanguageServer& server, Params params, OpenScore* score) {
          State& s = *server.state_;
          return Answer::of(s.signatureHelp(*score, s.position(params.at("position"))));
        }}},
      {"textDocument/codeAction",
       {Method::DOCUMENT_REQUEST,
        [](LanguageServer& server, Params params, OpenScore* score) {
          return Answer::of(server.state_->codeActions(*score, params));
        }}},
      {"textDocument/inlayHint",
       {Method::DOCUMENT_REQUEST,
        [](LanguageServer& server, Params params, OpenScore* score) {
          State& s = *server.state_;
          const json& range = params.at("range");
          return Answer::of(
              s.inlayHints(*score, s.position(range.at("start")), s.position(range.at("end"))));
        }}},
      {"textDocument/codeLens",
       {Method::DOCUMENT_REQUEST,
        [](LanguageServer& server, Params, OpenScore* score) {
          return Answer::of(server.state_->codeLenses(*score));
        }}},
      {"textDocument/completion",
       {Method::DOCUMENT_REQUEST,
        [](LanguageServer& server, Params params, OpenScore* score) {
          State& s = *server.state_;
          return Answer::of(s.completion(*score, s.position(params.at("position"))));
        }}},
  };
  return table;
}

void LanguageServer::handle(Batch& batch, size_t index) {
  const json& message = batch.messages[index];
  const bool isRequest = message.is_object() && message.contains("id") &&
                         (message["id"].is_string() || message["id"].is_number_integer());
  const json id = isRequest ? message["id"] : json();
  auto fail = [&](int code, const std::string& text) {
    send_(dumped({{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", text}}}}));
  };
  if (!message.is_object() || !message.contains("method") || !message["method"].is_string()) {
    // A response from the client needs no answer; anything else is no valid message.
    if (message.is_object() && message.contains("id") &&
        (message.contains("result") || message.contains("error")))
      return;
    if (isRequest || !message.is_object() || !message.contains("id")) {
      fail(INVALID_REQUEST, "not a request or notification");
    } else {
      send_(dumped({{"jsonrpc", "2.0"},
                    {"id", nullptr},
                    {"error", {{"code", INVALID_REQUEST}, {"message", "bad id"}}}}));
    }
    return;
  }
  const std::string method = message["method"].get<std::string>();
  if (method == "exit") {
    exitRequested_ = true;
    return;
  }
  if (isRequest && batch.cancelled.contains(id.dump())) return fail(REQUEST_CANCELLED, "cancelled");
  if (!state_->initialized && method != "initialize") {
    if (isRequest) fail(SERVER_NOT_INITIALIZED, "initialize first");
    return;
  }
  if (shutdown_) {
    if (isRequest) fail(INVALID_REQUEST, "the server is shut down");
    return;
  }
  const auto found = methods().find(method);
  if (found == methods().end()) {
    if (isRequest) fail(METHOD_NOT_FOUND, "unknown method: " + method);
    return;
  }
  const Method& known = found->second;
  if (known.kind != Method::NOTIFICATION && !isRequest) return;
  Answer answer;
  try {
    const json params = message.value("params", json::object());
    OpenScore* score = nullptr;
    if (known.kind == Method::DOCUMENT_REQUEST) {
      score = &state_->score(params);
      const auto change = batch.lastChange.find(score->uri);
      if (change != batch.lastChange.end() && change->second > index)
        return fail(CONTENT_MODIFIED, "the document changed");
    }
    answer = known.run(*this, params, score);
  } catch (const RequestError& error) {
    if (isRequest) fail(error.code, error.message);
    return;
  } catch (const json::exception& error) {
    if (isRequest) fail(INVALID_PARAMS, error.what());
    return;
  }
  if (!isRequest || answer.kind == Answer::NONE) return;
  if (answer.kind == Answer::VALUE) {
    send_(dumped({{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(answer.value)}}));
    return;
  }
  // A result written as text goes into the response as it is.
  std::string text = "{\"jsonrpc\":\"2.0\",\"id\":" + id.dump() + ",\"result\":";
  text.reserve(text.size() + answer.text.size() + 1);
  text += answer.text;
  text += '}';
  send_(text);
}

std::optional<LanguageServer::Clock::time_point> LanguageServer::pendingWorkDue() const {
  std::optional<Clock::time_point> due;
  for (const auto& [uri, score] : state_->scores) {
    if (score->diagnosticsDue && (!due || *score->diagnosticsDue < *due))
      due = score->diagnosticsDue;
  }
  return due;
}

void LanguageServer::runPendingWork(Clock::time_point now) {
  for (auto& [uri, score] : state_->scores) {
    if (!score->diagnosticsDue || *score->diagnosticsDue > now) continue;
    score->diagnosticsDue.reset();
    send_(dumped(state_->diagnostics(*score)));
  }
}
