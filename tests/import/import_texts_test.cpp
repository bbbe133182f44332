// The importer's two text tables: every kind of message has an English and a Japanese text that
// name the same values, a message's values land where its text names them, and the manual page
// lists every English message.
#include "import/import_texts.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
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
  const ImportMessage dropped{ImportText::NotesDropped, {"12", "2, 4-6", "3", "1"}};
  EXPECT_EQ(formatImportMessage(dropped, ImportLanguage::English),
            "notes of voices over 9 channels dropped: 12 of track 3, MIDI channel 1 (bar 2, 4-6)");
  // A value the message lacks leaves its place empty; a value that is itself "%2" stays as is.
  EXPECT_EQ(formatImportMessage({ImportText::BadStatusByte, {"%2"}}, ImportLanguage::English),
            "track %2 byte : bad status byte");
  EXPECT_EQ(formatImportMessage(ImportMessage{}, ImportLanguage::English), "");
}

// The DIAGNOSTICS section of the manual page as its words read: font changes dropped, "\\-" a
// hyphen.
std::string manualDiagnostics() {
  std::ifstream in(TARV_SOURCE_DIR "/packaging/man/tarvk32-import.1");
  std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t start = page.find(".SH DIAGNOSTICS");
  if (start == std::string::npos) return "";
  page = page.substr(start, page.find("\n.SH ", start + 1) - start);
  std::string words;
  for (size_t i = 0; i < page.size(); ++i) {
    if (page.compare(i, 2, "\\f") == 0 && i + 2 < page.size()) {
      i += 2;
    } else if (page.compare(i, 2, "\\-") == 0) {
      words += '-';
      ++i;
    } else {
      words += page[i];
    }
  }
  return words;
}

TEST(ImportTexts, TheManualPageListsEveryEnglishMessage) {
  const std::string manual = manualDiagnostics();
  ASSERT_FALSE(manual.empty());
  for (int k = 0; k < static_cast<int>(ImportText::Count); ++k) {
    if (static_cast<ImportText>(k) == ImportText::Usage) continue;
    const std::string text = importText(static_cast<ImportText>(k), ImportLanguage::English);
    // Each piece between the values, as the page writes it around the values' names.
    size_t from = 0;
    while (from < text.size()) {
      size_t to = text.find('%', from);
      if (to == std::string::npos) to = text.size();
      const std::string piece = text.substr(from, to - from);
      EXPECT_NE(manual.find(piece), std::string::npos) << "\"" << piece << "\" of " << text;
      from = to + 2;
    }
  }
}

}  // namespace
