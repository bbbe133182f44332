// Header commands op, cr and sn, and the token reader they share.
#pragma once

#include <string_view>

#include "core/compile_host.h"

// Reads the next token from lineCursor into buffer (NUL-terminated), reading further source
// lines when the current one is used up. Returns the bytes stored, 0 when the source ended.
// buffer must hold maxLength + 1 bytes.
int32_t readHeaderToken(CompileSession& session, uint8_t* buffer, int32_t maxLength);

// The longest header token an op command reads.
inline constexpr int32_t OP_TOKEN_MAX = 20;

// The op keywords, in the order of OpKeyword.
enum OpKeyword : int32_t { OP_Q7DEF, OP_Q8DEF, OP_AUTOLR, OP_MANULR, OP_KEYWORD_COUNT };
inline constexpr const char* OP_KEYWORDS[OP_KEYWORD_COUNT] = {"q7def", "q8def", "autolr", "manulr"};

// Whether `word` is one of the op keywords, in any case. For display (core/line_highlighter.h).
bool isOpKeyword(std::string_view word);

// Each runs with lineCursor just behind its keyword; 0 or an error code.
int32_t runOpCommand(CompileSession& session);
int32_t runCrCommand(CompileSession& session);
int32_t runSnCommand(CompileSession& session);
