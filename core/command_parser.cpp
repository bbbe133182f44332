#include "core/command_parser.h"

#include "core/source_lines.h"
#include "core/work_area.h"

namespace {

constexpr uint8_t CR = 13;

constexpr int32_t SHORTEST_LENGTH_INDEX = LENGTH_INDEX_COUNT - 1;  // a 128th: no dotted form

bool channelOpen(const CompileSession& session) {
  return session.openChannel >= 1 && session.openChannel <= CHANNEL_COUNT;
}

int32_t upper(uint8_t byte) {
  return byte >= 'a' && byte <= 'z' ? byte - 'a' + 'A' : byte;
}

// Semitone of a note letter A..G, 0 for any other byte.
int32_t semitoneOf(uint8_t byte) {
  switch (upper(byte)) {
    case 'C':
      return 1;
    case 'D':
      return 3;
    case 'E':
      return 5;
    case 'F':
      return 6;
    case 'G':
      return 8;
    case 'A':
      return 10;
    case 'B':
      return 12;
    default:
      return 0;
  }
}

// accidental: ('#' | '+' | '-')?
// '#' and '+' raise the semitone, '-' lowers it, wrapping within the octave.
int32_t applyAccidental(CompileSession& session, int32_t semitone) {
  const uint8_t byte = cursorByte(session);
  if (byte == '#' || byte == '+') {
    ++session.lineCursor;
    return semitone == SEMITONES_PER_OCTAVE ? 1 : semitone + 1;
  }
  if (byte == '-') {
    ++session.lineCursor;
    return semitone == 1 ? SEMITONES_PER_OCTAVE : semitone - 1;
  }
  return semitone;
}

int32_t& octaveOf(CompileSession& session) {
  return session.octave[channelIndex(session.openChannel)];
}

// note: letter accidental? (':' number | length?)
// The letter is A..G in either case; the caller has turned it into `semitone`.
int32_t parseNote(CompileSession& session, int32_t semitone) {
  ++session.lineCursor;
  semitone = applyAccidental(session, semitone);
  if (cursorByte(session) == ':') {
    ++session.lineCursor;
    const int32_t duration = readNumber(session);
    if (duration < DURATION_MIN || duration > BYTE_MAX) return ERROR_DURATION;
    if (!channelOpen(session)) return ERROR_CHANNEL_NOT_OPEN;
    const int32_t code = semitone + SEMITONES_PER_OCTAVE * octaveOf(session);
    return appendEvent(session, code, duration) == 0 ? 0 : ERROR_OTHER;
  }
  return appendTimedEvent(session, semitone, readLengthOrDefault(session)) == 0 ? 0 : ERROR_OTHER;
}

// digit: '0'..'9'
// `O` and `Q`: one digit in [low, high]; the digit is consumed only when it is used.
int32_t readSingleDigit(CompileSession& session, int32_t low, int32_t high, int32_t rangeError,
                        int32_t& digit) {
  const uint8_t byte = cursorByte(session);
  if (byte < '0' + low || byte > '0' + high) return rangeError;
  if (!channelOpen(session)) return ERROR_UNKNOWN_COMMAND;
  digit = byte - '0';
  ++session.lineCursor;
  return 0;
}

// parameter: ('v' | 't' | '$') number
// A byte number in [low, high], then an event for the open channel.
int32_t parseParameter(CompileSession& session, int32_t low, int32_t high, int32_t rangeError,
                       int32_t code) {
  ++session.lineCursor;
  int32_t value = 0;
  if (!readByteNumber(session, value) || value < low || value > high) return rangeError;
  if (!channelOpen(session)) return ERROR_CHANNEL_NOT_OPEN;
  return appendEvent(session, code, value) == 0 ? 0 : ERROR_OTHER;
}

// command: blank | note | rest | 'l' length | octave | 'q' digit | numbered | '&' | tuplet | '"'
// rest: 'r' length?  octave: 'o' digit | '<' | '>'  numbered: ('n' | 'v' | 't' | '$' | '@') number
// Letters in either case; "&&" is an error of its own. 0 to go on, COMMAND_STRING_CLOSED after the
// closing quote, else an error.
int32_t parseCommand(CompileSession& session) {
  const uint8_t byte = cursorByte(session);
  if (const int32_t semitone = semitoneOf(byte); semitone != 0) return parseNote(session, semitone);
  switch (upper(byte)) {
    case '\t':
    case ' ':
      ++session.lineCursor;
      return 0;
    case '"':
      ++session.lineCursor;
      return COMMAND_STRING_CLOSED;
    case 'R':
      ++session.lineCursor;
      return appendTimedEvent(session, 0, readLengthOrDefault(session)) == 0 ? 0 : ERROR_OTHER;
    case 'N': {
      ++session.lineCursor;
      const int32_t code = readNumber(session);
      if (code < 0 || code > EVENT_NOTE_LAST) return ERROR_NOTE_NUMBER;
      if (!channelOpen(session)) return ERROR_CHANNEL_NOT_OPEN;
      const int32_t units = LENGTH_TICKS[session.lengthIndex[channelIndex(session.openChannel)]];
      return appendEvent(session, code, units) == 0 ? 0 : ERROR_OTHER;
    }
    case 'O': {
      ++session.lineCursor;
      int32_t digit = 0;
      if (int32_t r = readSingleDigit(session, 0, OCTAVE_MAX, ERROR_OCTAVE, digit); r != 0) {
        return r;
      }
      octaveOf(session) = digit;
      return 0;
    }
    case '<':
    case '>': {
      ++session.lineCursor;
      if (!channelOpen(session)) return ERROR_CHANNEL_NOT_OPEN;
      int32_t& octave = octaveOf(session);
      if (byte == '<' && octave > 0) --octave;
      if (byte == '>' && octave < OCTAVE_MAX) ++octave;
      return 0;
    }
    case 'L': {
      ++session.lineCursor;
      if (!channelOpen(session)) return ERROR_CHANNEL_NOT_OPEN;
      const int32_t index = readLength(session);
      if (index < 0) return ERROR_LENGTH;
      session.lengthIndex[channelIndex(session.openChannel)] = index;
      return 0;
    }
    case 'Q': {
      ++session.lineCursor;
      int32_t digit = 0;
      if (int32_t r = readSingleDigit(session, GATE_MIN, GATE_MAX, ERROR_GATE, digit); r != 0) {
        return r;
      }
      return appendEvent(session, EVENT_GATE, digit - GATE_MIN) == 0 ? 0 : ERROR_OTHER;
    }
    case 'V':
      return parseParameter(session, 0, VELOCITY_LEVEL_MAX, ERROR_VELOCITY, EVENT_VELOCITY);
    case 'T':
      return parseParameter(session, TEMPO_MIN, TEMPO_MAX, ERROR_TEMPO, EVENT_TEMPO);
    case '$':
      return parseParameter(session, 0, PAN_MAX, ERROR_PAN, EVENT_PAN);
    case '@': {
      ++session.lineCursor;
      int32_t program = 0;
      if (!readByteNumber(session, program) || program > PROGRAM_MAX) return ERROR_PROGRAM;
      appendEvent(session, EVENT_PROGRAM, program);  // refused without an open channel: no effect
      return 0;
    }
    case '&':
      ++session.lineCursor;
      if (cursorByte(session) == '&') return ERROR_TIE_REPEATED;
      if (!channelOpen(session)) return ERROR_OTHER;
      return appendEvent(session, EVENT_TIE, 0) == 0 ? 0 : ERROR_OTHER;
    case '{':
      ++session.lineCursor;
      return parseTuplet(session) == 0 ? 0 : ERROR_TUPLET;
    default:
      return ERROR_UNKNOWN_COMMAND;
  }
}

// tuplet items: (blank* tuplet item)+ '}'
// tuplet item: letter accidental? length? | 'r' length? | ('n' | 'o' | 'q') number | '<' | '>'
// Reads the items into the scratch lists, each note or rest with where it stands; the count of
// notes and rests, or -1.
int32_t readTupletItems(CompileSession& session) {
  if (!channelOpen(session)) return -1;
  int32_t count = 0;
  for (;;) {
    uint8_t byte = cursorByte(session);
    if (byte == 0 || byte == CR) return -1;
    while (byte == '\t' || byte == ' ') {
      ++session.lineCursor;
      byte = cursorByte(session);
    }
    const int32_t itemStart = session.lineCursor;
    const int32_t listed = count;
    if (const int32_t letter = semitoneOf(byte); letter != 0) {
      ++session.lineCursor;
      const int32_t semitone = applyAccidental(session, letter);
      readLengthOrDefault(session);  // a length inside a tuplet has no effect
      session.tupletCodes[count++] =
          static_cast<uint8_t>(semitone + SEMITONES_PER_OCTAVE * octaveOf(session));
    } else {
      ++session.lineCursor;
      switch (upper(byte)) {
        case 'R':
          readLengthOrDefault(session);
          session.tupletCodes[count++] = EVENT_REST;
          break;
        case 'N': {
          const int32_t code = readNumber(session);
          if (code < 0 || code > EVENT_NOTE_LAST) return -1;
          session.tupletCodes[count++] = static_cast<uint8_t>(code);
          break;
        }
        case 'O': {
          const int32_t octave = readNumber(session);
          if (octave < 0 || octave > OCTAVE_MAX) return -1;
          octaveOf(session) = octave;
          break;
        }
        case 'Q': {
          const int32_t gate = readNumber(session);
          if (gate < GATE_MIN || gate > GATE_MAX) return -1;
          break;
        }
        case '>':
          if (octaveOf(session) < OCTAVE_MAX) ++octaveOf(session);
          break;
        case '<':
          if (octaveOf(session) > 0) --octaveOf(session);
          break;
        default:  // L, @, V, T, &, the quote and every other byte
          --session.lineCursor;
          return -1;
      }
    }
    if (count != listed) {
      session.tupletItemStart[listed] = itemStart;
      session.tupletItemEnd[listed] = session.lineCursor;
    }
    if (count > TUPLET_MAX_NOTES) return -1;
    if (cursorByte(session) == '}') {
      ++session.lineCursor;
      return count == 0 ? -1 : count;
    }
  }
}

}  // namespace

// number: digit digit? digit? digit? digit?
int32_t readNumber(CompileSession& session) {
  int32_t value = 0;
  int32_t digits = 0;
  while (digits < NUMBER_DIGITS_MAX) {
    const uint8_t byte = cursorByte(session);
    if (byte < '0' || byte > '9') break;
    value = value * 10 + (byte - '0');
    ++session.lineCursor;
    ++digits;
  }
  if (digits == 0) return -1;
  return value > NUMBER_MAX ? NUMBER_MAX : value;
}

// byte number: number?
bool readByteNumber(CompileSession& session, int32_t& value) {
  const int32_t number = readNumber(session);
  value = number < 0 ? BYTE_MAX : number;
  return number <= BYTE_MAX;
}

// length: number '.'?
int32_t readLength(CompileSession& session) {
  int32_t index = -1;
  switch (readNumber(session)) {
    case 1:
      index = 2;
      break;
    case 2:
      index = 4;
      break;
    case 4:
      index = 6;
      break;
    case 8:
      index = 8;
      break;
    case 16:
      index = 10;
      break;
    case 32:
      index = 12;
      break;
    case 64:
      index = 14;
      break;
    case 128:
      index = 15;
      break;
    default:
      return -1;
  }
  if (cursorByte(session) == '.') {
    if (index == SHORTEST_LENGTH_INDEX) return -1;  // no dotted 128th; the dot stays
    ++session.lineCursor;
    --index;
  }
  return index;
}

// length or default: length?
int32_t readLengthOrDefault(CompileSession& session) {
  const int32_t index = readLength(session);
  if (index >= 0) return index;
  return channelOpen(session) ? session.lengthIndex[channelIndex(session.openChannel)] : -1;
}

// tuplet: '{' tuplet items ' '* length?
// Entered behind the '{'; the notes and rests share the length's duration.
int32_t parseTuplet(CompileSession& session) {
  const int32_t count = readTupletItems(session);
  if (count <= 0) return -1;
  while (cursorByte(session) == ' ') ++session.lineCursor;
  const int32_t index = readLengthOrDefault(session);
  if (index < 0) return -1;
  const int32_t total = LENGTH_TICKS[index];
  const int32_t share = total / count;
  const int32_t remainder = total % count;
  for (int32_t i = 0; i < count; ++i) session.tupletDurations[i] = share;
  if (remainder >= 1) {
    const int32_t step = count / remainder;
    for (int32_t i = 0; i < remainder; ++i) ++session.tupletDurations[i * step];
  }
  for (int32_t i = 0; i < count; ++i) {
    if (appendEvent(session, session.tupletCodes[i], session.tupletDurations[i]) != 0) return -1;
  }
  return 0;
}

// Not called by the compiler; flattened so that parseCommandString() keeps parseCommand() inline.
__attribute__((flatten)) int32_t parseCommandStep(CompileSession& session) {
  return parseCommand(session);
}

// command string: '"' command* '"'
// Entered behind the opening quote; parseCommand() reads the closing one. A string still open
// at the scan limit ends there.
int32_t parseCommandString(CompileSession& session) {
  while (session.lineCursor < LINE_BUFFER_BYTES) {
    session.itemStart = session.lineCursor;
    const int32_t result = parseCommand(session);
    if (result == COMMAND_STRING_CLOSED) return 0;
    if (result != 0) return result;
  }
  return 0;
}
