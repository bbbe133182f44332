// Header commands op, cr and sn, and the token reader they share.
#pragma once

#include "core/compile_host.h"

// Reads the next token from lineCursor into buffer (NUL-terminated), reading further source
// lines when the current one is used up. Returns the bytes stored, 0 when the source ended.
// buffer must hold maxLength + 1 bytes.
int32_t readHeaderToken(CompileSession& session, uint8_t* buffer, int32_t maxLength);

// Each runs with lineCursor just behind its keyword; 0 or an error code.
int32_t runOpCommand(CompileSession& session);
int32_t runCrCommand(CompileSession& session);
int32_t runSnCommand(CompileSession& session);
