// Writes core/cp932_mapping_list.cpp from glibc's iconv: tarv-cp932-list > that file.
#include <cstdio>

#include "core/cp932_mappings.h"

int main() {
  const std::vector<Cp932MappingRun> runs = iconvCp932MappingRuns();
  if (runs.empty()) {
    std::fputs("tarv-cp932-list: iconv has no code page 932 here\n", stderr);
    return 1;
  }
  std::puts("// Written by tarv-cp932-list (core/tools/write_cp932_list.cpp) from glibc's iconv.");
  std::puts("// clang-format off");
  std::puts("#include \"core/cp932_mappings.h\"\n");
  std::puts("const std::vector<Cp932MappingRun> CP932_MAPPING_RUNS = {");
  for (const Cp932MappingRun& r : runs)
    std::printf("  {0x%04X, 0x%04X, %u, %s},\n", unsigned(r.code), unsigned(r.c), unsigned(r.count),
                r.roundTrips ? "true" : "false");
  std::puts("};");
  std::puts("// clang-format on");
  return 0;
}
