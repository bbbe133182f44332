// The compile driver: session start, the line loop that dispatches each line item, the error
// report and the end phase of each flavour.
#include "core/compile_driver.h"

#include <cstdio>
#include <new>
#include <string>

#include "core/command_parser.h"
#include "core/compiled_data_writer.h"
#include "core/diagnostics.h"
#include "core/header_commands.h"
#include "core/midi_writer.h"
#include "core/source_lines.h"
#include "core/source_map.h"

namespace {

bool isConsole(const CompileSession& session) {
  return flavourOf(session) == FLAVOUR_CONSOLE;
}

void releaseWorkAreas(CompileSession& session) {
  for (uint8_t*& area : session.workArea) {
    delete[] area;
    area = nullptr;
  }
}

bool allocateWorkAreas(CompileSession& session) {
  for (uint8_t*& area : session.workArea) {
    area = new (std::nothrow) uint8_t[WORK_AREA_BYTES];
    if (area == nullptr) {
      releaseWorkAreas(session);
      return false;
    }
  }
  return true;
}

// Runs the line loop; 0 when the source ended, else the code that stopped it (reported).
int32_t readLines(CompileSession& session) {
  int32_t pendingChannel = 0;
  for (;;) {
    const int32_t length = readSourceLine(session);
    session.lineCursor = 0;
    if (length <= 0) {
      if (session.sourceStopped) return ERROR_FAILED;  // the reader said why
      if (!session.sourceReadFailed) return 0;
      session.host->messageLine(textsOf(session).cannotReadSource);
      diagnose(session, lineFreeDiagnostic(DIAGNOSTIC_SOURCE_READ));
      return ERROR_FAILED;
    }
    for (;;) {
      int32_t error = 0;
      const int32_t kind = classifyLineItem(session);
      switch (kind) {
        case KIND_END_OF_LINE:
        case KIND_COMMENT:
        case KIND_COMMENT_END:
          break;
        case KIND_CHANNEL_NAME:
          pendingChannel = session.namedChannel;
          break;
        case KIND_BLOCK_OPEN:
          if (openChannelBlock(session, pendingChannel) == 0 && session.sourceMap != nullptr) {
            recordBlockOpen(session);
          }
          break;
        case KIND_BLOCK_CLOSE:
          if (closeChannelBlock(session) == 0 && session.sourceMap != nullptr) {
            recordBlockClose(session);
          }
          break;
        case KIND_COMMAND_STRING:
          error = session.sourceMap != nullptr ? parseCommandStringMapped(session)
                                               : parseCommandString(session);
          break;
        case KIND_OP:
          error = runOpCommand(session);
          break;
        case KIND_CR:
          error = runCrCommand(session);
          break;
        case KIND_SN:
          error = runSnCommand(session);
          break;
        default:
          error = ERROR_UNKNOWN_COMMAND;
          break;
      }
      if (error != 0) {
        reportFailure(session, error);
        return error;
      }
      if (kind == KIND_END_OF_LINE) break;
    }
  }
}

// The line loop, then, for a host that keeps a source map, the events it must keep before the
// writer runs and the work areas go.
int32_t runLineLoop(CompileSession& session) {
  const int32_t error = readLines(session);
  if (session.sourceMap != nullptr) finishSourceMap(session);
  return error;
}

// Compiled-data mode: each used channel's time total, the sum of its note and rest durations.
void computeChannelTicks(CompileSession& session) {
  for (int32_t k = 0; k < CHANNEL_COUNT; ++k) {
    if (session.workLength[k] <= 0) continue;
    const uint8_t* events = session.workArea[k];
    int32_t total = 0;
    for (int32_t offset = 0; offset < session.workLength[k]; offset += 2) {
      if (events[offset] == EVENT_END) break;
      if (events[offset] <= EVENT_NOTE_LAST) total += events[offset + 1];
    }
    session.channelTicks[k] = total;
  }
}

void reportChannelSizes(CompileSession& session) {
  const FlavourTexts& texts = textsOf(session);
  const bool units = session.compiledDataMode;
  for (int32_t k = 0; k < CHANNEL_COUNT; ++k) {
    if (session.workLength[k] == 0) continue;
    const long ticks = static_cast<long>(session.channelTicks[k]);
    session.host->messageLine(
        formatText(texts.channelSize, k + 1, static_cast<int>(session.workLength[k]),
                   units ? "kvc Length" : "Track Tick", units ? ticks : ticks * TICKS_PER_UNIT));
  }
  session.host->messageLine(texts.complete);
}

int32_t runWriter(CompileSession& session, OutputStream& out) {
  return session.compiledDataMode ? writeCompiledData(session, out) : writeMidiFile(session, out);
}

// Opens the host's output, runs the writer and puts the result in place; 0, or ERROR_FAILED
// after the failure was reported. Every failure leaves the previous output at the name untouched.
int32_t writeOutput(CompileSession& session) {
  const FlavourTexts& texts = textsOf(session);
  auto fail = [&](const char* text, int32_t code) {
    if (isConsole(session)) {
      session.host->messageLine(text);
    } else {
      session.host->alert(text);
    }
    diagnose(session, lineFreeDiagnostic(code));
    return ERROR_FAILED;
  };
  OutputStream* out = session.host->openOutput();
  if (out == nullptr) return fail(texts.cannotOpenOutput, DIAGNOSTIC_OUTPUT_OPEN);
  const int32_t result = runWriter(session, *out);
  if (result != 0) {
    reportError(session, result);
    session.host->closeOutput(false);
    return ERROR_FAILED;
  }
  const bool writeFailed = out->failed();
  const int32_t closed = session.host->closeOutput(!writeFailed);
  if (writeFailed || closed == OUTPUT_WRITE_FAILED) {
    return fail(texts.cannotWriteOutput, DIAGNOSTIC_OUTPUT_WRITE);
  }
  if (closed != OUTPUT_CLOSED) return fail(texts.cannotOpenOutput, DIAGNOSTIC_OUTPUT_OPEN);
  return 0;
}

int32_t finishConsole(CompileSession& session, int32_t error, bool sourceOpened) {
  if (sourceOpened) static_cast<ConsoleCompileHost&>(*session.host).closeSource();
  if (error != 0) {
    session.host->alert(textsOf(session).compileStopped);
  } else {
    error = writeOutput(session);
  }
  if (session.compiledDataMode) computeChannelTicks(session);
  if (error == 0) reportChannelSizes(session);
  return error;
}

int32_t finishEditor(CompileSession& session, int32_t error) {
  if (error == 0 && !session.compiledDataMode) error = writeOutput(session);
  if (session.compiledDataMode) {
    computeChannelTicks(session);
    // The image goes to the editor's stream also after a failed compilation, whose code stays.
    if (writeOutput(session) != 0 && error == 0) error = ERROR_FAILED;
  }
  if (error != 0) {
    session.host->alert(textsOf(session).compileStopped);
  } else {
    reportChannelSizes(session);
  }
  return error;
}

}  // namespace

void resetSession(CompileSession& session) {
  session.openChannel = 0;
  session.namedChannel = 0;
  for (int32_t k = 0; k < CHANNEL_COUNT; ++k) {
    session.octave[k] = DEFAULT_OCTAVE;
    session.lengthIndex[k] = DEFAULT_LENGTH_INDEX;
    session.workLength[k] = 0;
    session.channelTicks[k] = 0;
    session.gate[k] = session.q7Default ? GATE_STEP_Q7 : GATE_STEP_Q8;
  }
  session.lineNumber = 0;
  session.lineCursor = 0;
  session.lineLength = 0;
  session.lineBuffer[0] = 0;
  session.gmResetWritten = 0;
  session.hasCopyright = false;
  session.copyrightLength = 0;
  session.hasSequenceName = false;
  session.sequenceNameLength = 0;
  session.sourceChunkPos = 0;
  session.sourceChunkLength = 0;
  session.sourceAtEnd = false;
  session.sourceReadFailed = false;
  session.sourceStopped = false;
  session.fullChannel = 0;
}

int32_t compileSource(CompileSession& session) {
  resetSession(session);
  session.sourceMap = session.host->sourceMap();
  if (session.sourceMap != nullptr) startSourceMap(session);
  if (!allocateWorkAreas(session)) {
    session.host->alert(textsOf(session).outOfMemory);
    diagnose(session, lineFreeDiagnostic(DIAGNOSTIC_OUT_OF_MEMORY));
    return ERROR_FAILED;
  }
  int32_t error = 0;
  if (isConsole(session)) {
    const bool sourceOpened = static_cast<ConsoleCompileHost&>(*session.host).openSource();
    error = sourceOpened ? runLineLoop(session) : ERROR_FAILED;
    error = finishConsole(session, error, sourceOpened);
  } else {
    error = finishEditor(session, runLineLoop(session));
  }
  releaseWorkAreas(session);
  session.sourceMap = nullptr;
  return error;
}

namespace {

void prepareCompilation(CompileSession& session, CompileHost& host, bool compiledData) {
  session.host = &host;
  session.compiledDataMode = compiledData;
  session.sourceLineIndex = 0;
  session.inBlockComment = false;
}

}  // namespace

void prepareConsoleCompilation(CompileSession& session, ConsoleCompileHost& host,
                               bool compiledData) {
  prepareCompilation(session, host, compiledData);
}

void prepareEditorCompilation(CompileSession& session, EditorCompileHost& host, bool compiledData,
                              MemoryOutputStream& compiledDataStream) {
  prepareCompilation(session, host, compiledData);
  if (compiledData) compiledDataStream.clear();
}
