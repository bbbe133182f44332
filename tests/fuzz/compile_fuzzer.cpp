// libFuzzer entry: one whole compilation over the input (layout in fuzz_case.h). Sanitizer
// reports, hangs and broken output properties all end the run as a finding.
#include <cstdio>
#include <cstdlib>

#include "tests/fuzz/fuzz_case.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string fault = fuzzing::runFuzzInput(data, size);
  if (!fault.empty()) {
    std::fprintf(stderr, "broken property: %s\n", fault.c_str());
    std::abort();
  }
  return 0;
}
