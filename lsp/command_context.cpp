#include "lsp/command_context.h"

#include <cctype>

#include "core/compile_session.h"
#include "core/midi_writer.h"

namespace {

bool isWordByte(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

constexpr NumberCommand NUMBER_COMMANDS[] = {
    {'v', "volume 0–16", "音量 0～16", "0–16", EVENT_VELOCITY, 0},
    {'t', "tempo 10–250 (quarter notes a minute)", "テンポ 10～250 (4分音符/分)", "10–250",
     EVENT_TEMPO, 0},
    {'$', "pan 0–127 (64 centre)", "パン 0～127 (中央 64)", "0–127", EVENT_PAN, 0},
    {'@', "program 0–127", "音色 0～127", "0–127", EVENT_PROGRAM, 0},
    {'n', "note number 0–96", "ノート番号 0～96", "0–96", EVENT_END, 0},
    {'o', "octave 0–7", "オクターブ 0～7", "0–7", EVENT_END, 0},
    {'q', "gate 1–8", "ゲート 1～8", "1–8", EVENT_GATE, 1},  // q1..q8 records gate step 0..7
    {'l', "length 1, 2, 4, 8, 16, 32, 64, 128 (dotted: all but 128)",
     "音長 1, 2, 4, 8, 16, 32, 64, 128 (付点: 128 以外)", "1, 2, 4, 8, 16, 32, 64, 128", EVENT_END,
     0},
};

}  // namespace

size_t clientWordStart(std::string_view bytes, size_t column) {
  column = std::min(column, bytes.size());
  while (column > 0 && isWordByte(bytes[column - 1])) --column;
  return column;
}

std::span<const NumberCommand> numberCommands() {
  return NUMBER_COMMANDS;
}

std::optional<NumberBeingTyped> numberBeingTyped(std::string_view bytes, size_t stringStart,
                                                 size_t column) {
  column = std::min(column, bytes.size());
  size_t numberStart = column;
  while (numberStart > stringStart &&
         std::isdigit(static_cast<unsigned char>(bytes[numberStart - 1])) != 0)
    --numberStart;
  if (numberStart <= stringStart) return std::nullopt;
  const char letter =
      static_cast<char>(std::tolower(static_cast<unsigned char>(bytes[numberStart - 1])));
  for (const NumberCommand& command : NUMBER_COMMANDS) {
    if (command.letter == letter)
      return NumberBeingTyped{&command, numberStart,
                              std::string(bytes.substr(numberStart, column - numberStart))};
  }
  return std::nullopt;
}

int keyOfNoteNumber(int number) {
  return number + NOTE_NUMBER_OFFSET;
}
