// One import fuzz case: the properties every MIDI file's import must keep, whatever its bytes.
// Shared by the importer's fuzz target and the test that replays its seeds and findings.
//
// A file is refused with a reason in both languages, or it becomes, in each score encoding, a
// score whose lines tarvk32c reads whole and to the last, and that it compiles, and the editor
// too. The tempo map reads the same bytes with the same reader: a file the importer takes is
// one it times, unless it refuses a tempo event or a length of its own.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "core/midi_tempo_map.h"
#include "import/midi_import.h"
#include "tests/support/memory_host.h"

namespace fuzzing {

// The bytes of a line before its CR LF that both of tarvk32c's line readers take whole.
inline constexpr size_t LINE_BYTES_MAX =
    static_cast<size_t>(std::min(CONSOLE_LINE_MAX - 1, EDITOR_LINE_MAX));

// The broken property and what shows it, or "" when all hold.
inline std::string checkImport(const uint8_t* data, size_t size) {
  for (ScoreEncoding encoding : {ScoreEncoding::Cp932, ScoreEncoding::Utf8}) {
    const ImportResult result = importMidi(data, size, encoding);
    MidiTempoMap map;
    std::string timing;
    if (result.ok && !map.parse(data, size, &timing) && timing.find("tempo") == std::string::npos &&
        timing.find("2^31") == std::string::npos) {
      return "the tempo map reads a file the importer reads\n" + timing;
    }
    if (!result.ok) {
      for (ImportLanguage language : {ImportLanguage::English, ImportLanguage::Japanese}) {
        if (formatImportMessage(result.error, language).empty()) {
          return "a refusal gives its reason";
        }
      }
      continue;
    }
    // tarvk32c stops reading at a line or a line count over its limits as if the file ended
    // there, so these are checked before the compilation.
    int64_t lines = 1;  // the empty line behind the last line end counts too
    for (size_t start = 0, end; (end = result.bytes.find("\r\n", start)) != std::string::npos;
         start = end + 2, ++lines) {
      if (end - start > LINE_BYTES_MAX) {
        return "an imported score's lines are read whole\n" + result.text;
      }
    }
    if (lines > CONSOLE_LINE_COUNT_MAX) return "an imported score's lines are all read";
    MemoryCompile console(FLAVOUR_CONSOLE, result.bytes);
    if (console.run() != 0) {
      return "an imported score compiles\n" + console.host.transcript + "\n" + result.text;
    }
    MemoryCompile editor(FLAVOUR_EDITOR, result.bytes);
    if (editor.run() != 0) {
      return "the editor compiles an imported score\n" + editor.host.transcript + "\n" +
             result.text;
    }
  }
  return "";
}

}  // namespace fuzzing
