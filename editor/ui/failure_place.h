// Where the text view marks a compilation's score error: the failure's place and text, as the
// view takes them.
#pragma once

#include "editor/compile/editor_compile_host.h"
#include "editor/view/score_view.h"

inline FailurePlace failurePlace(const CompileFailure& failure) {
  return {failure.line, failure.commandStart, failure.pointer, failure.text};
}
