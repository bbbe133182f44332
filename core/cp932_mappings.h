// Code page 932 as a list: every byte and two-byte sequence that decodes to one character, the
// character, and whether it encodes back to the same bytes. The list is what glibc's iconv
// answers; it stands in for iconv where the C library has no code page 932 (Emscripten's), so
// the web page reads and writes scores exactly as the desktop programs do.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/score_encoding.h"

// What a converter answers for one byte or two-byte sequence.
struct Cp932Mapping {
  char32_t c;
  bool roundTrips;  // c encodes back to exactly these bytes
};

// `count` consecutive codes from `code` that decode to consecutive characters from `c`.
struct Cp932MappingRun {
  Cp932Code code;
  char32_t c;
  uint16_t count;
  bool roundTrips;
  bool operator==(const Cp932MappingRun&) const = default;
};

// The list, in code order (core/cp932_mapping_list.cpp, written by tarv-cp932-list).
extern const std::vector<Cp932MappingRun> CP932_MAPPING_RUNS;

// The tables built from the list.
std::unique_ptr<Cp932Tables> listedCp932Tables();

#ifndef __EMSCRIPTEN__
// The tables built from glibc's iconv, as cp932Tables() holds them in the native programs.
std::unique_ptr<Cp932Tables> iconvCp932Tables();
// The list as glibc's iconv answers it (empty without a converter).
std::vector<Cp932MappingRun> iconvCp932MappingRuns();
#endif
