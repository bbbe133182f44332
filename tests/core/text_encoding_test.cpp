// Code page 932 for display: the editor's message lines quote score bytes through it.
#include "core/text_encoding.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <string>

namespace {

const std::string MARK = "\xEF\xBF\xBD";  // U+FFFD

// The display glibc's converter gives: what it decodes, and a mark for each byte it stops at.
std::string iconvDisplay(iconv_t cd, std::string bytes) {
  std::string result;
  char* in = bytes.data();
  size_t inLeft = bytes.size();
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  while (inLeft > 0) {
    char out[64];
    char* outPtr = out;
    size_t outLeft = sizeof out;
    const size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    result.append(out, static_cast<size_t>(outPtr - out));
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      result += MARK;
      ++in;
      --inLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  return result;
}

}  // namespace

TEST(Cp932ToDisplay, DecodesCodePage932AndMarksEachUndecodableByte) {
  const struct {
    std::string bytes;
    std::string shown;
  } cases[] = {
      {"", ""},
      {"ch1 { \"c\" }", "ch1 { \"c\" }"},
      {"\x82\xa0\x82\xa2", "あい"},
      {"\x87\x40", "①"},   // an extension of code page 932 alone
      {"\x81\x60", "～"},  // U+FF5E, where plain Shift_JIS has the wave dash
      {"\xb1\xdd", "ｱﾝ"},  // single-byte katakana
      {"a\x80z", "a" + MARK + "z"},
      {"\xfd\xfe", MARK + MARK},
      {"x\x82", "x" + MARK},    // a lead byte at the end
      {"\x82 x", MARK + " x"},  // a lead byte before a byte that cannot follow it
  };
  for (const auto& c : cases) {
    EXPECT_EQ(cp932ToDisplay(c.bytes), c.shown) << c.bytes;
  }
}

TEST(Cp932ToDisplay, TextLongerThanOnePieceOfTheConverter) {
  std::string bytes, shown;
  for (int i = 0; i < 300; ++i) {
    bytes += i % 50 == 49 ? "\xff" : "\x82\xa0";
    shown += i % 50 == 49 ? MARK : "あ";
  }
  EXPECT_EQ(cp932ToDisplay(bytes), shown);
}

// The display does not need a converter (a WebAssembly build has none for code page 932) and
// shows what glibc's shows for every byte and every pair of bytes, each followed by a byte that
// cannot continue it.
TEST(Cp932ToDisplay, ShowsWhatGlibcsConverterShowsForEveryByteAndPair) {
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "no code page 932 converter";
  int differences = 0;
  for (unsigned lead = 0; lead < 0x100 && differences < 10; ++lead) {
    for (unsigned trail = 0; trail < 0x100 && differences < 10; ++trail) {
      const std::string bytes{char(lead), char(trail), '\xff', 'x'};
      const std::string expected = iconvDisplay(cd, bytes);
      if (cp932ToDisplay(bytes) != expected) {
        ++differences;
        ADD_FAILURE() << std::hex << lead << " " << trail << ": " << cp932ToDisplay(bytes)
                      << " != " << expected;
      }
    }
  }
  iconv_close(cd);
}
