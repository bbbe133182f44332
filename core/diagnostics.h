// Compile diagnostics: the code texts of both flavours and the failing-line report.
#pragma once

#include <string>
#include <string_view>

#include "core/compile_host.h"

// The code's text: console flavour exactly as printed (with its own line feeds); editor flavour
// the bare Japanese text (reportError frames it).
std::string_view errorText(int32_t code, Flavour flavour);

// Emits the code's text as a message (editor: " *** " + text + " *** ").
void reportError(CompileSession& session, int32_t code);

// Emits the failing line; in the editor also the pointer line with "?" under lineCursor.
void reportFailingLine(CompileSession& session);

// Exactly five decimal digits, zero-padded, modulo 100000.
std::string formatLineNumber(int32_t lineNumber);

// The bytes of lineBuffer up to its NUL.
std::string_view lineText(const CompileSession& session);
