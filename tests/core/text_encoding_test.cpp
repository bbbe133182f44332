// Code page 932 for display: the editor's message lines quote score bytes through it.
#include "core/text_encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string MARK = "\xEF\xBF\xBD";  // U+FFFD

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
