// The words of the score language as the server names them: each command letter of a command
// string, each header command and op keyword, with a one-line description in both languages.
// Completion offers them and hover shows them.
#pragma once

#include <span>
#include <string_view>

#include "lsp/score_analysis.h"

struct ScoreWord {
  const char* text;
  const char* english;
  const char* japanese;
  const char* insert;  // what completion inserts as a snippet ($1: the cursor); nullptr: the text
};

std::span<const ScoreWord> commandLetters();  // inside a command string
std::span<const ScoreWord> lineKeywords();    // between blocks: header commands, ch1..ch9
std::span<const ScoreWord> opKeywords();      // inside op( ... )

// The description of a word of one of the lists in the language; letters in any case.
const ScoreWord* findWord(std::span<const ScoreWord> words, std::string_view text);
inline const char* describe(const ScoreWord& word, Language language) {
  return language == Language::JAPANESE ? word.japanese : word.english;
}
