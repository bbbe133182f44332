// One import fuzz case: the properties every MIDI file's import must keep, whatever its bytes.
// Shared by the importer's fuzz target and the test that replays its seeds and findings.
//
// A file is refused with a reason in both languages, or it becomes, in each score encoding, a
// score that tarvk32c compiles and that the editor compiles too, reading every line whole.
#pragma once

#include <cstdint>
#include <string>

#include "import/midi_import.h"
#include "tests/support/memory_host.h"

namespace fuzzing {

// The broken property and what shows it, or "" when all hold.
inline std::string checkImport(const uint8_t* data, size_t size) {
  for (ScoreEncoding encoding : {ScoreEncoding::Cp932, ScoreEncoding::Utf8}) {
    const ImportResult result = importMidi(data, size, encoding);
    if (!result.ok) {
      for (ImportLanguage language : {ImportLanguage::English, ImportLanguage::Japanese}) {
        if (formatImportMessage(result.error, language).empty()) {
          return "a refusal gives its reason";
        }
      }
      continue;
    }
    MemoryCompile console(FLAVOUR_CONSOLE, result.bytes);
    if (console.run() != 0) {
      return "an imported score compiles\n" + console.host.transcript + "\n" + result.text;
    }
    for (size_t start = 0, end; (end = result.bytes.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
      if (end - start > static_cast<size_t>(EDITOR_LINE_MAX)) {
        return "the editor takes an imported score's lines whole\n" + result.text;
      }
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
