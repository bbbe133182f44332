// The importer's two text tables: every kind of message has an English and a Japanese text that
// name the same values, and a message's values land where its text names them.
#include "import/import_texts.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

// The value numbers a text names (the N of each %N).
std::set<char> valuesNamed(const std::string& text) {
  std::set<char> named;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '%' && text[i + 1] >= '1' && text[i + 1] <= '9') named.insert(text[i + 1]);
  }
  return named;
}

TEST(ImportTexts, EveryKindHasAnEnglishAndAJapaneseTextNamingTheSameValues) {
  for (int k = 0; k < static_cast<int>(ImportText::Count); ++k) {
    SCOPED_TRACE("kind " + std::to_string(k));
    const std::string english = importText(static_cast<ImportText>(k), ImportLanguage::English);
    const std::string japanese = importText(static_cast<ImportText>(k), ImportLanguage::Japanese);
    EXPECT_FALSE(english.empty());
    EXPECT_FALSE(japanese.empty());
    EXPECT_EQ(valuesNamed(english), valuesNamed(japanese)) << english << "\n" << japanese;
    for (char c : english) {
      EXPECT_EQ(static_cast<unsigned char>(c) & 0x80, 0) << "not English: " << english;
    }
  }
}

TEST(ImportTexts, ValuesFillTheirPlacesInEachLanguage) {
  const ImportMessage bad{ImportText::BadStatusByte, {"3", "17"}};
  EXPECT_EQ(formatImportMessage(bad, ImportLanguage::English), "track 3 byte 17: bad status byte");
  EXPECT_EQ(formatImportMessage(bad, ImportLanguage::Japanese),
            "トラック 3 の 17 バイト目: 不正なステータスバイト");
  const ImportMessage dropped{ImportText::NotesDropped, {"12", "2, 4-6"}};
  EXPECT_EQ(formatImportMessage(dropped, ImportLanguage::English),
            "notes of voices over 9 channels dropped: 12 (bar 2, 4-6)");
  // A value the message lacks leaves its place empty; a value that is itself "%2" stays as is.
  EXPECT_EQ(formatImportMessage({ImportText::BadStatusByte, {"%2"}}, ImportLanguage::English),
            "track %2 byte : bad status byte");
  EXPECT_EQ(formatImportMessage(ImportMessage{}, ImportLanguage::English), "");
}

}  // namespace
