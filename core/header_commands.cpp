#include "core/header_commands.h"

#include <cstring>
#include <string>

#include "core/diagnostics.h"
#include "core/source_lines.h"
#include "core/text_encoding.h"

namespace {

constexpr uint8_t CR = 13;

std::string_view asText(const uint8_t* bytes) {
  return std::string_view(reinterpret_cast<const char*>(bytes));
}

void applyOption(CompileSession& session, OpKeyword keyword) {
  session.host->messageLine(formatText(textsOf(session).optionEcho, OP_KEYWORDS[keyword]));
  switch (keyword) {
    case OP_Q7DEF:
    case OP_Q8DEF:
      session.q7Default = keyword == OP_Q7DEF;
      for (int32_t& gate : session.gate) gate = session.q7Default ? GATE_STEP_Q7 : GATE_STEP_Q8;
      break;
    case OP_AUTOLR:
    case OP_MANULR:
      session.autoPan = keyword == OP_AUTOLR;
      session.host->autoPanChanged(session.autoPan);
      break;
    case OP_KEYWORD_COUNT:
      break;
  }
}

// What differs between cr and sn.
struct TextCommand {
  uint8_t* text;
  int32_t* length;
  bool* present;
  int32_t maxLength;
  int32_t parenError;
  int32_t lengthError;
  const char* label;      // of the echo line
  const char* overLabel;  // of the echo line of a text that is too long
};

// The echo line: the label, the quoted text (editor: converted for display), then its size or,
// for a text that is too long, "<- MAX".
void echoText(CompileSession& session, const TextCommand& command, bool accepted) {
  const std::string_view text = asText(command.text);
  std::string line = accepted ? command.label : command.overLabel;
  line += '"';
  line +=
      flavourOf(session) == FLAVOUR_EDITOR ? editorDisplayText(session, text) : std::string(text);
  line += accepted ? "\" (" + std::to_string(*command.length) + " byte)" : std::string("<- MAX");
  line += textsOf(session).lineEnd;
  session.host->messageLine(line);
}

// text command: '(' (')' | '"' text '"' ('"' byte text '"')* ')')
// text: bytes other than '"', on the line the piece starts on. The byte that starts a further
// piece joins unexamined, a '"' too; the tokens around the pieces may stand on later lines.
int32_t runTextCommand(CompileSession& session, const TextCommand& command) {
  uint8_t token[SEQUENCE_NAME_MAX + 1];
  if (readHeaderToken(session, token, command.maxLength) == 0 || token[0] != '(') {
    return ERROR_OTHER;
  }
  if (readHeaderToken(session, token, command.maxLength) == 0) return ERROR_OTHER;
  if (token[0] == ')') return 0;
  if (token[0] != '"') return ERROR_OTHER;

  int32_t& length = *command.length;
  length = 0;
  // Appends one byte; false once the text is too long (then echoed and failed).
  auto append = [&](uint8_t byte) {
    command.text[length++] = byte;
    ++session.lineCursor;
    if (length <= command.maxLength) return true;
    command.text[length] = 0;
    echoText(session, command, false);
    return false;
  };
  auto atLineEnd = [&] {
    return session.lineCursor >= session.lineLength || session.lineCursor >= LINE_BUFFER_BYTES ||
           cursorByte(session) == CR;
  };
  for (;;) {
    if (atLineEnd()) return ERROR_OTHER;  // a quoted piece must close on its line
    const uint8_t byte = cursorByte(session);
    if (byte != '"') {
      if (!append(byte)) return command.lengthError;
      continue;
    }
    ++session.lineCursor;
    if (readHeaderToken(session, token, command.maxLength) == 0) return command.parenError;
    if (token[0] == ')') break;
    if (token[0] != '"') return ERROR_OTHER;
    // A further piece: its first byte joins the text unexamined.
    if (atLineEnd()) return ERROR_OTHER;
    if (!append(cursorByte(session))) return command.lengthError;
  }
  if (length >= 1) {
    *command.present = true;
    command.text[length] = 0;
    echoText(session, command, true);
  }
  return 0;
}

}  // namespace

// header token: (blank | line end)* ('(' | ')' | ',' | '"' | word)
// A line end (carriage return or NUL) reads the next source line. A word is up to maxLength
// bytes other than blanks, CR, LF, ',' and ')', and stops at a NUL.
int32_t readHeaderToken(CompileSession& session, uint8_t* buffer, int32_t maxLength) {
  buffer[0] = 0;
  for (;;) {
    uint8_t byte = cursorByte(session);
    if (byte == 0 || byte == CR) {
      const int32_t length = readSourceLine(session);
      session.lineCursor = 0;
      if (length <= 0) return 0;
    }
    while (cursorByte(session) == ' ' || cursorByte(session) == '\t') ++session.lineCursor;
    byte = cursorByte(session);
    if (byte != CR && byte != 0) break;
  }
  const uint8_t first = cursorByte(session);
  if (first == '"' || first == '(' || first == ')' || first == ',') {
    buffer[0] = first;
    buffer[1] = 0;
    ++session.lineCursor;
    return 1;
  }
  const int32_t rest = static_cast<int32_t>(
      strnlen(reinterpret_cast<const char*>(session.lineBuffer + session.lineCursor),
              static_cast<size_t>(LINE_BUFFER_BYTES - session.lineCursor)));
  int32_t count = 0;
  while (count < maxLength && count < rest) {
    const uint8_t byte = cursorByte(session);
    if (byte == ' ' || byte == '\t' || byte == CR || byte == '\n' || byte == ',' || byte == ')') {
      break;
    }
    buffer[count++] = byte;
    ++session.lineCursor;
  }
  buffer[count] = 0;
  return count;
}

// op: 'op' '(' (keyword | ',')* ')'
// keyword: q7def | q8def | autolr | manulr, in any case, each a header token of its own.
int32_t runOpCommand(CompileSession& session) {
  uint8_t token[OP_TOKEN_MAX + 1];
  if (readHeaderToken(session, token, OP_TOKEN_MAX) == 0 || token[0] != '(') return ERROR_OTHER;
  for (;;) {
    const int32_t length = readHeaderToken(session, token, OP_TOKEN_MAX);
    if (length == 0) return ERROR_OP_PAREN;
    for (int32_t i = 0; i < length; ++i) {
      if (token[i] >= 'A' && token[i] <= 'Z') token[i] = static_cast<uint8_t>(token[i] - 'A' + 'a');
    }
    if (token[0] == ')') return 0;
    if (token[0] == ',') continue;
    bool known = false;
    for (int32_t keyword = 0; keyword < OP_KEYWORD_COUNT; ++keyword) {
      if (asText(token) == OP_KEYWORDS[keyword]) {
        applyOption(session, static_cast<OpKeyword>(keyword));
        known = true;
      }
    }
    if (!known) return ERROR_OP_KEYWORD;
  }
}

bool isOpKeyword(std::string_view word) {
  for (const char* keyword : OP_KEYWORDS) {
    const std::string_view known = keyword;
    if (word.size() != known.size()) continue;
    bool same = true;
    for (size_t i = 0; i < word.size() && same; ++i) {
      const char c =
          word[i] >= 'A' && word[i] <= 'Z' ? static_cast<char>(word[i] - 'A' + 'a') : word[i];
      same = c == known[i];
    }
    if (same) return true;
  }
  return false;
}

// cr: 'cr' text command
int32_t runCrCommand(CompileSession& session) {
  const FlavourTexts& texts = textsOf(session);
  return runTextCommand(session, {session.copyrightText, &session.copyrightLength,
                                  &session.hasCopyright, COPYRIGHT_MAX, ERROR_CR_PAREN,
                                  ERROR_CR_LENGTH, texts.copyrightLabel, texts.copyrightOverLabel});
}

// sn: 'sn' text command
int32_t runSnCommand(CompileSession& session) {
  const FlavourTexts& texts = textsOf(session);
  return runTextCommand(
      session, {session.sequenceNameText, &session.sequenceNameLength, &session.hasSequenceName,
                SEQUENCE_NAME_MAX, ERROR_SN_PAREN, ERROR_SN_LENGTH, texts.sequenceNameLabel,
                texts.sequenceNameOverLabel});
}
