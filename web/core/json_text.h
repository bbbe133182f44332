// The few pieces of JSON the web interface writes: quoted strings and arrays of numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// `text` (UTF-8) as a JSON string with its quotes; control bytes are escaped, and bytes that are
// not valid UTF-8 become U+FFFD so that JSON.parse() never refuses the result.
void appendJsonString(std::string& out, std::string_view text);

inline void appendJsonNumber(std::string& out, int64_t n) {
  out += std::to_string(n);
}
