#include "lsp/score_words.h"

#include <algorithm>
#include <cctype>

#include "core/header_commands.h"

namespace {

constexpr ScoreWord COMMAND_LETTERS[] = {
    {"c", "note C (length optional: c8, c4.)", "音符 ド (音長を続けられる: c8, c4.)", nullptr},
    {"d", "note D", "音符 レ", nullptr},
    {"e", "note E", "音符 ミ", nullptr},
    {"f", "note F", "音符 ファ", nullptr},
    {"g", "note G", "音符 ソ", nullptr},
    {"a", "note A", "音符 ラ", nullptr},
    {"b", "note B", "音符 シ", nullptr},
    {"r", "rest (length optional)", "休符 (音長を続けられる)", nullptr},
    {"+", "sharp: raises the note before it a semitone", "シャープ: 前の音符を半音上げる", nullptr},
    {"#", "sharp: raises the note before it a semitone", "シャープ: 前の音符を半音上げる", nullptr},
    {"-", "flat: lowers the note before it a semitone", "フラット: 前の音符を半音下げる", nullptr},
    {".", "dot: half as long again", "付点: 音長を1.5倍にする", nullptr},
    {":", "duration in units of 1/32 quarter (1 to 255)",
     "音長を単位数で指定 (1～255, 4分音符 = 32)", nullptr},
    {"l", "default length (1, 2, 4, 8, 16, 32, 64, 128; dotted but 128)",
     "省略時の音長 (1, 2, 4, 8, 16, 32, 64, 128; 128 以外は付点も)", nullptr},
    {"o", "octave (0 to 7)", "オクターブ (0～7)", nullptr},
    {"<", "octave down", "オクターブを1つ下げる", nullptr},
    {">", "octave up", "オクターブを1つ上げる", nullptr},
    {"q", "gate: how much of a short note sounds (1 to 8)", "ゲート: 短い音符の鳴る長さ (1～8)",
     nullptr},
    {"n", "note by number (0 to 96)", "ノート番号で音符 (0～96)", nullptr},
    {"v", "volume (0 to 16)", "音量 (0～16)", nullptr},
    {"t", "tempo in quarter notes a minute (10 to 250)", "テンポ (4分音符/分, 10～250)", nullptr},
    {"$", "pan (0 to 127, 64 centre)", "パン (0～127, 中央 64)", nullptr},
    {"@", "program, the instrument (0 to 127)", "音色 (プログラム 0～127)", nullptr},
    {"&", "tie: joins the note with the next one", "タイ: 次の音符とつなぐ", nullptr},
    {"{", "tuplet: {c e g}4 plays the notes in one length", "連符: {c e g}4 で音長を等分する",
     nullptr},
};

constexpr ScoreWord LINE_KEYWORDS[] = {
    {"op", "options: op(q7def, autolr, ...)", "制御命令: op(q7def, autolr, ...)", "op($1)"},
    {"cr", "copyright text of the MIDI file: cr(\"...\")",
     "著作権表示 (MIDI ファイル): cr(\"...\")", "cr(\"$1\")"},
    {"sn", "sequence name of the MIDI file: sn(\"...\")",
     "シーケンス名 (MIDI ファイル): sn(\"...\")", "sn(\"$1\")"},
    {"ch1", "channel 1 block: ch1 { \"...\" }", "チャンネル 1 のブロック: ch1 { \"...\" }",
     nullptr},
    {"ch2", "channel 2 block", "チャンネル 2 のブロック", nullptr},
    {"ch3", "channel 3 block", "チャンネル 3 のブロック", nullptr},
    {"ch4", "channel 4 block", "チャンネル 4 のブロック", nullptr},
    {"ch5", "channel 5 block", "チャンネル 5 のブロック", nullptr},
    {"ch6", "channel 6 block", "チャンネル 6 のブロック", nullptr},
    {"ch7", "channel 7 block", "チャンネル 7 のブロック", nullptr},
    {"ch8", "channel 8 block", "チャンネル 8 のブロック", nullptr},
    {"ch9", "channel 9 block (drums: no program change)",
     "チャンネル 9 のブロック (ドラム: 音色変更なし)", nullptr},
};

// order matches OpKeyword
constexpr ScoreWord OP_WORDS[OP_KEYWORD_COUNT] = {
    {OP_KEYWORDS[OP_Q7DEF], "every channel starts at gate Q7", "全チャンネルのゲートを Q7 で始める",
     nullptr},
    {OP_KEYWORDS[OP_Q8DEF], "every channel starts at gate Q8 (the default)",
     "全チャンネルのゲートを Q8 で始める (既定)", nullptr},
    {OP_KEYWORDS[OP_AUTOLR], "automatic pan for channels 2 to 7",
     "チャンネル 2～7 に自動でパンを付ける", nullptr},
    {OP_KEYWORDS[OP_MANULR], "no automatic pan (the default)", "自動パンを付けない (既定)",
     nullptr},
};

}  // namespace

std::span<const ScoreWord> commandLetters() {
  return COMMAND_LETTERS;
}

std::span<const ScoreWord> lineKeywords() {
  return LINE_KEYWORDS;
}

std::span<const ScoreWord> opKeywords() {
  return OP_WORDS;
}

const ScoreWord* findWord(std::span<const ScoreWord> words, std::string_view text) {
  for (const ScoreWord& word : words) {
    const std::string_view name = word.text;
    if (name.size() == text.size() &&
        std::equal(name.begin(), name.end(), text.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) ==
                 std::tolower(static_cast<unsigned char>(b));
        }))
      return &word;
  }
  return nullptr;
}
