// What stands before a point of a line, as completion and signature help need it: the word a
// client filters its list by, and the numbered command whose number is being typed there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "lsp/score_analysis.h"

// The start of the word that ends at `column`: the letters, digits and '_' before it, which
// clients take for the word being typed and filter their list by.
size_t clientWordStart(std::string_view bytes, size_t column);

// A command of a command string that takes a number, and what the number is.
struct NumberCommand {
  char letter;
  const char* english;  // "volume 0–16": what the number is and the values it takes
  const char* japanese;
  const char* values;  // the values as both texts show them, a part of each
  uint8_t event;       // the event the command records (EVENT_END: none)
  int32_t shown;       // what the score writes minus the event's value
};
std::span<const NumberCommand> numberCommands();

// A numbered command whose number is being typed: the command, where its number starts (just
// after the letter) and the digits typed so far (none right after the letter).
struct NumberBeingTyped {
  const NumberCommand* command;
  size_t numberStart;
  std::string digits;
};
// The numbered command that `column` of a command string's bytes stands in the number of, as
// in "v1|" or "@|"; nothing elsewhere. `stringStart` is the byte after the string's opening
// quote.
std::optional<NumberBeingTyped> numberBeingTyped(std::string_view bytes, size_t stringStart,
                                                 size_t column);

// The MIDI key that `n` with this number plays.
int keyOfNoteNumber(int number);
