// The quick fixes of a compiler error: from the diagnostic's code and the failing command's
// bytes, the one edit that lets the compilation go past that command (a number brought into its
// command's range, "&&" made one tie, the missing ')' of a header command, a cr or sn text cut
// to its limit, an unknown op keyword made the nearest known one, a character code page 932
// cannot hold replaced by the one it would be written as, or removed).
#pragma once

#include <optional>
#include <string>

#include "lsp/score_analysis.h"
#include "lsp/score_text.h"

struct QuickFix {
  // The bytes replaced, in compile bytes; the edit lies within one line.
  int32_t line = 0;
  size_t startColumn = 0;
  size_t endColumn = 0;
  std::string newText;  // UTF-8, as the client holds the text
  std::string title;
};

// The fix of a diagnostic of `text`; nothing for a diagnostic no edit is known to fix.
std::optional<QuickFix> quickFixOf(const ScoreText& text, const Diagnostic& diagnostic,
                                   Language language);
