// libFuzzer entry: any bytes as a MIDI file for the importer, in both score encodings. A file
// is either refused with a reason or becomes a score that compiles; sanitizer reports and hangs
// end the run as findings too.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "import/midi_import.h"
#include "tests/support/memory_host.h"

namespace {

[[noreturn]] void broken(const char* property, const std::string& detail) {
  std::fprintf(stderr, "broken property: %s\n%s\n", property, detail.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (ScoreEncoding encoding : {ScoreEncoding::Cp932, ScoreEncoding::Utf8}) {
    const ImportResult result = importMidi(data, size, encoding);
    if (!result.ok) {
      for (ImportLanguage language : {ImportLanguage::English, ImportLanguage::Japanese}) {
        if (formatImportMessage(result.error, language).empty()) {
          broken("a refusal gives its reason", "");
        }
      }
      continue;
    }
    MemoryCompile compilation(FLAVOUR_CONSOLE, result.bytes);
    if (compilation.run() != 0) broken("an imported score compiles", result.text);
  }
  return 0;
}
