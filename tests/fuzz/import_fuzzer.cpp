// libFuzzer entry: any bytes as a MIDI file for the importer, in both score encodings. A file
// is either refused with a reason or becomes a score that compiles, in tarvk32c and in the
// editor alike (tests/fuzz/import_case.h); sanitizer reports and hangs end the run as findings
// too.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/fuzz/import_case.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (const std::string broken = fuzzing::checkImport(data, size); !broken.empty()) {
    std::fprintf(stderr, "broken property: %s\n", broken.c_str());
    std::abort();
  }
  return 0;
}
