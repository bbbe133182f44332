// Names and copyrights of other programs' files, by the core's encoding rules: a character the
// score's encoding cannot hold so that it reads back the same is left out and counted, never
// changed into another; a text that is no UTF-8 and no plausible code page 932 is Latin-1.
#include <gtest/gtest.h>

#include "tests/fuzz/import_case.h"
#include "tests/import/import_helpers.h"
#include "tests/import/smf_builder.h"

namespace {

using namespace import_testing;

std::string withTexts(const std::string& name, const std::string& copyright) {
  SmfBuilder smf(1, 480);
  smf.track().meta(0, 3, name).meta(0, 2, copyright);
  smf.track().note(1, 60, 0, 480);
  return smf.bytes();
}

// The score's header lines.
std::string header(const ImportResult& imported) {
  return imported.text.substr(0, imported.text.find("\n\n") + 1);
}

TEST(ImportNameEncoding, AWaveDashIsLeftOutOfACodePage932ScoreNotChangedIntoAnother) {
  const std::string midi = withTexts(
      "A\xE3\x80\x9C"
      "B",
      "(c)");  // A〜B, UTF-8 in the file
  EXPECT_EQ(fuzzing::checkImport(reinterpret_cast<const uint8_t*>(midi.data()), midi.size()), "");
  const ImportResult cp932 = importBytes(midi);
  EXPECT_EQ(header(cp932), "sn(\"AB\")\ncr(\"(c)\")\n");
  EXPECT_EQ(reportLines(cp932),
            std::vector<std::string>{"曲名からこの文字コードで書けない文字 1 個を省きました"});
  const ImportResult utf8 = importBytes(midi, ScoreEncoding::Utf8);
  EXPECT_EQ(header(utf8),
            "sn(\"A\xE3\x80\x9C"
            "B\")\ncr(\"(c)\")\n");
  EXPECT_TRUE(utf8.report.empty());
}

TEST(ImportNameEncoding, TextsAreUtf8ElseCodePage932ElseLatin1) {
  struct Case {
    const char* what;
    std::string raw;
    std::string utf8;  // as the UTF-8 score writes it
  };
  const Case cases[] = {
      {"UTF-8", "\xE6\x9B\xB2", "\xE6\x9B\xB2"},                                        // 曲
      {"code page 932 kanji", "\x8B\xC8", "\xE6\x9B\xB2"},                              // 曲
      {"half-width katakana", "\xC3\xBD\xC4", "\xEF\xBE\x83\xEF\xBD\xBD\xEF\xBE\x84"},  // ﾃｽﾄ
      {"Latin-1", "(c) 2026 \xA9 Caf\xE9", "(c) 2026 \xC2\xA9 Caf\xC3\xA9"},            // © Café
      {"a lone A9: Latin-1, not half-width katakana", "\xA9 2026", "\xC2\xA9 2026"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ImportResult utf8 = importBytes(withTexts(c.raw, "x"), ScoreEncoding::Utf8);
    ASSERT_TRUE(utf8.ok);
    EXPECT_EQ(header(utf8), "sn(\"" + c.utf8 + "\")\ncr(\"x\")\n");
  }
}

}  // namespace
