#include "core/text_encoding.h"

#include <iconv.h>

#include <cerrno>

namespace {

constexpr const char REPLACEMENT[] = "\xEF\xBF\xBD";  // U+FFFD

}  // namespace

std::string cp932ToDisplay(std::string_view bytes) {
  std::string result;
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    // No converter: ASCII passes, every other byte is marked.
    for (char c : bytes)
      result += static_cast<unsigned char>(c) < 0x80 ? std::string(1, c) : REPLACEMENT;
    return result;
  }
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char out[256];
  while (inLeft > 0) {
    char* outPtr = out;
    size_t outLeft = sizeof out;
    const size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    result.append(out, static_cast<size_t>(outPtr - out));
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      // EILSEQ or EINVAL: one byte that does not decode here; mark it and go on behind it.
      result += REPLACEMENT;
      ++in;
      --inLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return result;
}
