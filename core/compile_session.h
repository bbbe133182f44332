// The compile session: the one state of a compilation, its constants and codes.
//
// The compiler core is a set of plain functions over one CompileSession. It never throws and
// every operation returns a 32-bit signed code, 0 for success. A front end attaches its host
// (core/compile_host.h), sets `compiledDataMode` and calls compileSource()
// (core/compile_driver.h); the host's kind decides the flavour and the line source.
#pragma once

#include <cstdint>

class CompileHost;
struct SourceMap;

// ---------------------------------------------------------------------------------------------
// Fixed sizes
inline constexpr int32_t CHANNEL_COUNT = 9;
inline constexpr int32_t WORK_AREA_BYTES = 64004;  // allocated per channel
inline constexpr int32_t WORK_AREA_LIMIT = 64000;  // bytes of events a channel may hold
inline constexpr int32_t WORK_AREA_EVENTS = WORK_AREA_LIMIT / 2;  // two bytes an event
inline constexpr int32_t LINE_BUFFER_BYTES = 2000;  // the scan limit of every line reader
// Room behind the scan limit: a 1999-byte console line that ends at the end of the file stores
// its carriage return at index 1999 and the NUL at 2000; the rest are always-zero guard bytes,
// so that the block-comment scan may read 32 bytes and one more from any index below the limit.
inline constexpr int32_t LINE_BUFFER_STORAGE = LINE_BUFFER_BYTES + 32;
inline constexpr int32_t CONSOLE_LINE_MAX = 1999;  // stored bytes of one console line
inline constexpr int32_t CONSOLE_LINE_COUNT_MAX = 999999;
inline constexpr int32_t EDITOR_LINE_MAX = 1998;  // bytes taken from one editor line
inline constexpr int32_t TUPLET_MAX_NOTES = 31;
inline constexpr int32_t COPYRIGHT_MAX = 63;
inline constexpr int32_t SEQUENCE_NAME_MAX = 127;
inline constexpr int32_t SOURCE_CHUNK_BYTES = 65536;  // console reader's read-ahead
inline constexpr int32_t NUMBER_DIGITS_MAX = 5;       // a number reads at most five digits
inline constexpr int32_t NUMBER_MAX = 65535;          // a longer number reads as this

// Time: a unit is 1/32 of a quarter note; the MIDI file has 480 ticks per quarter.
inline constexpr int32_t TICKS_PER_UNIT = 15;

// A channel's settings at the start of each compilation. The gate step is 0-based: step 7 is
// Q8 (the note sounds its whole length), step 6 is Q7, the default under op q7def.
inline constexpr int32_t DEFAULT_OCTAVE = 4;
inline constexpr int32_t DEFAULT_LENGTH_INDEX = 6;  // a quarter note
inline constexpr int32_t GATE_STEP_Q8 = 7;
inline constexpr int32_t GATE_STEP_Q7 = 6;

inline constexpr int32_t BYTE_MAX = 255;  // an event's code and value are bytes
inline constexpr int32_t SEMITONES_PER_OCTAVE = 12;
inline constexpr int32_t VELOCITY_LEVEL_MAX = 16;  // levels 0..16 of the V command

// Length index 0..15 -> duration in units (1/32 of a quarter note).
inline constexpr int32_t LENGTH_INDEX_COUNT = 16;
inline constexpr int32_t LENGTH_TICKS[LENGTH_INDEX_COUNT] = {255, 192, 128, 96, 64, 48, 32, 24,
                                                             16,  12,  8,   6,  4,  3,  2,  1};

// ---------------------------------------------------------------------------------------------
// Work-area event codes. Codes 1..96 are notes (12 x octave + semitone).
enum EventCode : uint8_t {
  EVENT_REST = 0,
  EVENT_NOTE_LAST = 96,
  EVENT_PAN = 249,
  EVENT_GATE = 250,
  EVENT_TIE = 251,
  EVENT_TEMPO = 252,
  EVENT_VELOCITY = 253,
  EVENT_PROGRAM = 254,
  EVENT_END = 255,
};

// Line kinds returned by classifyLineItem().
enum LineKind : int32_t {
  KIND_UNKNOWN = -1,
  KIND_END_OF_LINE = 0,
  KIND_CHANNEL_NAME = 1,
  KIND_BLOCK_OPEN = 2,
  KIND_COMMAND_STRING = 3,
  KIND_BLOCK_CLOSE = 4,
  KIND_COMMENT = 5,
  KIND_COMMENT_END = 6,
  KIND_OP = 7,
  KIND_CR = 8,
  KIND_SN = 9,
};

// Error codes. Every value without a name of its own is "other error".
enum ErrorCode : int32_t {
  ERROR_NONE = 0,
  ERROR_OTHER = -1,  // a failure with no text of its own: reported as "other error"
  ERROR_UNKNOWN_COMMAND = 1,
  ERROR_FAILED = 1,  // a failure outside the score: memory, source or output
  ERROR_TIE_REPEATED = 10,
  ERROR_TIE_SINGLE = 11,
  ERROR_NOTE_NUMBER = 12,
  ERROR_OCTAVE = 13,
  ERROR_LENGTH = 14,
  ERROR_PROGRAM = 15,
  ERROR_VELOCITY = 16,
  ERROR_TEMPO = 17,
  ERROR_DURATION = 18,
  ERROR_GATE = 19,
  ERROR_TUPLET = 20,
  ERROR_PAN = 21,
  ERROR_OP_PAREN = 22,
  ERROR_OP_KEYWORD = 23,
  ERROR_CR_PAREN = 24,
  ERROR_CR_LENGTH = 25,
  ERROR_SN_PAREN = 26,
  ERROR_SN_LENGTH = 27,
  ERROR_CHANNEL_NOT_OPEN = 999,
};

// Which program the core serves: texts, report formats, the line source and a few writer
// details differ. The host's kind fixes it (CompileHost::flavour()).
enum Flavour : uint8_t {
  FLAVOUR_CONSOLE = 0,  // English, raw bytes to standard output, file source
  FLAVOUR_EDITOR = 1,   // Japanese, UTF-8 message-pane lines, editor lines as source
};

// ---------------------------------------------------------------------------------------------
// Channel arrays have CHANNEL_COUNT entries; entry k belongs to channel k + 1.
struct CompileSession {
  CompileHost* host = nullptr;
  // The host's source map for this compilation, or nullptr when it asked for none
  // (core/source_map.h).
  SourceMap* sourceMap = nullptr;

  uint8_t* workArea[CHANNEL_COUNT] = {};
  int32_t workLength[CHANNEL_COUNT] = {};
  int32_t channelTicks[CHANNEL_COUNT] = {};
  int32_t octave[CHANNEL_COUNT] = {};
  int32_t lengthIndex[CHANNEL_COUNT] = {};
  int32_t gate[CHANNEL_COUNT] = {};

  // The current line: its bytes, a carriage return, then NUL (a console line ended by byte 26
  // has no carriage return). lineLength is the index of that NUL.
  uint8_t lineBuffer[LINE_BUFFER_STORAGE] = {};
  int32_t lineCursor = 0;  // index into lineBuffer of the next byte to examine
  int32_t itemStart = 0;   // index of the first byte of the line item or command being read
  int32_t lineLength = 0;
  int32_t lineNumber = 0;
  int32_t sourceLineIndex = 0;  // editor flavour: next editor line to fetch

  int32_t namedChannel = 0;
  int32_t openChannel = 0;
  int32_t fullChannel = 0;  // the channel whose full work area refused an event, else 0
  bool inBlockComment = false;

  uint8_t copyrightText[COPYRIGHT_MAX + 2] = {};
  int32_t copyrightLength = 0;
  bool hasCopyright = false;
  uint8_t sequenceNameText[SEQUENCE_NAME_MAX + 2] = {};
  int32_t sequenceNameLength = 0;
  bool hasSequenceName = false;

  bool q7Default = false;
  bool autoPan = false;
  bool compiledDataMode = false;
  int32_t gmResetWritten = 0;

  // Tuplet scratch space (one spare entry for the 32nd item that makes a tuplet fail).
  uint8_t tupletCodes[TUPLET_MAX_NOTES + 1] = {};
  int32_t tupletDurations[TUPLET_MAX_NOTES + 1] = {};
  // Where each item of the list stands in the line buffer: its first byte and the byte behind it.
  int32_t tupletItemStart[TUPLET_MAX_NOTES + 1] = {};
  int32_t tupletItemEnd[TUPLET_MAX_NOTES + 1] = {};

  // Console reader's read-ahead over the host's byte stream.
  uint8_t sourceChunk[SOURCE_CHUNK_BYTES] = {};
  int32_t sourceChunkPos = 0;
  int32_t sourceChunkLength = 0;
  bool sourceAtEnd = false;
  bool sourceReadFailed = false;  // the host reported a read error: the compilation fails
  // A console limit (a line over its bytes, the line count) stopped the reading after its
  // message: the compilation fails, as the message says, rather than end with part of the score.
  bool sourceStopped = false;
};

// Index into the channel arrays of channel 1..9.
inline int32_t channelIndex(int32_t channel) {
  return channel - 1;
}
