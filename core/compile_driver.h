// The compile driver: one whole compilation over the session, and what a front end calls
// before one.
#pragma once

#include "core/compile_host.h"
#include "core/compile_session.h"
#include "core/output_stream.h"

// Runs one whole compilation through session.host; 0 or the code that stopped it.
int32_t compileSource(CompileSession& session);

// Clears what one compilation leaves in the session: channel settings and sizes, the line
// counter and buffer, the channel selection, the header-command results, the GM-reset state
// and the console reader's read-ahead. Keeps q7Default, autoPan and compiledDataMode, and the
// line index and the block-comment state, which the prepare functions below set.
// compileSource() runs it first.
void resetSession(CompileSession& session);

// Prepare a compilation as each program does before compileSource(): attach the host (its kind
// fixes the flavour and the line source), set the output mode, and start reading from the
// beginning of the source with no block comment open.
//
// The console program runs one compilation per process and prepares it once.
void prepareConsoleCompilation(CompileSession& session, ConsoleCompileHost& host,
                               bool compiledData);
// The editor prepares every compilation, as its compile commands do; in compiled-data mode this
// also empties the stream that will receive the image (the host's openOutput() returns it).
void prepareEditorCompilation(CompileSession& session, EditorCompileHost& host, bool compiledData,
                              MemoryOutputStream& compiledDataStream);
