#include "import/import_texts.h"

#include <cstddef>
#include <string_view>

namespace {

struct KindText {
  ImportText kind;
  const char* text;
};

constexpr size_t KIND_COUNT = static_cast<size_t>(ImportText::Count);

// The console program's texts, terse as tarvk32c's.
constexpr KindText ENGLISH[] = {
    {ImportText::Usage,
     "usage: tarvk32-import <file.mid> [-o <file.fms>] [--encoding cp932|utf-8] [--parts 1,3]\n"
     "                      [--grid 16|8t|...] [--steady-velocity]\n"
     "       tarvk32-import --list <file.mid>\n"
     "  -o          score output (default: standard output)\n"
     "  --encoding  score encoding (default: cp932)\n"
     "  --list      list the file's parts (track, MIDI channel, program, notes, voices)\n"
     "  --parts     import only these parts, numbered as --list numbers them\n"
     "  --grid      snap played notes to this grid (16: sixteenths, 8t: eighth triplets)\n"
     "  --steady-velocity  a change of one velocity level keeps the level before\n"},
    {ImportText::MissingValue, "value missing"},
    {ImportText::UnknownEncoding, "encoding must be cp932 or utf-8"},
    {ImportText::UnknownOption, "unknown option"},
    {ImportText::BadPartList, "parts must be numbers from --list, such as 1,3,4"},
    {ImportText::BadGrid, "grid must be 1, 2, 4, 8, 16, 32 or 64, with t for triplets (8t)"},
    {ImportText::PartListHeader, "part track channel program notes voices name"},
    {ImportText::SecondInput, "only one MIDI file"},
    {ImportText::OutputIsInput, "would replace the MIDI file itself"},
    {ImportText::OutputIsFolder, "is a folder"},
    {ImportText::OutputLinksNowhere, "is a symbolic link to nothing"},
    {ImportText::OutputPipeUnread, "is a named pipe that nobody reads"},
    {ImportText::CannotCreateOutput, "can not create (%1)"},
    {ImportText::CannotReplaceOutput, "can not replace"},
    {ImportText::CannotWriteOutput, "write err"},
    {ImportText::CannotWriteStandardOutput, "standard output write err"},
    {ImportText::CannotOpen, "can not open (%1)"},
    {ImportText::NotRegularFile, "not a regular file"},
    {ImportText::FileTooLarge, "file too large (max %1 MiB)"},
    {ImportText::CannotRead, "can not read (%1)"},
    {ImportText::NotSmf, "not a Standard MIDI File (no MThd)"},
    {ImportText::CutShort, "file cut short"},
    {ImportText::BadHeaderLength, "bad MThd length"},
    {ImportText::UnreadableFormat, "format %1 not supported (0 and 1 only)"},
    {ImportText::SmpteDivision, "SMPTE time division not supported"},
    {ImportText::ZeroDivision, "division is 0"},
    {ImportText::NoTracks, "no tracks"},
    {ImportText::BadStatusByte, "track %1 byte %2: bad status byte"},
    {ImportText::BadVariableLength, "track %1 byte %2: bad variable-length number"},
    {ImportText::TooManyBars, "song too long (max %1 bars)"},
    {ImportText::TooManyEvents, "ch%1: too many notes and rests (max %2 a channel)"},
    {ImportText::NotEncodable, "score not convertible to the encoding"},
    {ImportText::TracksMissing, "the header names %1 tracks, the file holds %2: those read"},
    {ImportText::RunningStatusAfterMeta,
     "events on running status behind a meta or SysEx event, read as the status before: %1"},
    {ImportText::NoNotes, "no notes in the file: the score holds only its settings"},
    {ImportText::NotesMoved, "notes off the grid moved: %1 (max %2 ticks)"},
    {ImportText::NotesDropped,
     "notes of voices over 9 channels dropped: %1 of track %3, MIDI channel %4 (bar %2)"},
    {ImportText::PartsLeftOut, "notes of the parts --parts leaves out: %1"},
    {ImportText::VoiceContinued, "ch%1 over %2 notes and rests: from bar %3 on in ch%4"},
    {ImportText::VoiceCut,
     "ch%1 over %2 notes and rests, no channel free: %3 notes from bar %4 on left out"},
    {ImportText::ZeroLengthDropped, "unwritable zero-length notes dropped: %1"},
    {ImportText::ZeroLengthCrowded, "zero-length notes over %2 at one grid point dropped: %1"},
    {ImportText::LegatoTrimmed, "legato notes ended where the next note of their line starts: %1"},
    {ImportText::NotesTransposed, "notes outside 8 octaves moved by octaves: %1"},
    {ImportText::NotesRepaired,
     "notes ended by a note-on of the same key before their note-off: %1"},
    {ImportText::DrumsShortened, "drum notes shortened at the next note: %1"},
    {ImportText::VelocitiesRounded, "velocities rounded to a level (v): %1"},
    {ImportText::VelocitiesMatched, "zero-length notes given the previous velocity: %1"},
    {ImportText::TupletLevelsJoined, "tuplet notes given the level of their first note: %1"},
    {ImportText::NotesSnapped, "notes snapped to the grid of --grid: %1"},
    {ImportText::VelocitiesSteadied, "velocities one level from the note before made the same: %1"},
    {ImportText::TemposRounded, "tempos rounded to whole beats a minute, the rounding carried: %1"},
    {ImportText::TemposOutside,
     "tempos outside 10-250 set to the nearest end: %1 (the first %2 at bar %3)"},
    {ImportText::ChangesMoved, "program/pan/tempo changes moved to the grid or a note end: %1"},
    {ImportText::PitchBendsLost, "pitch bends not kept: %1"},
    {ImportText::SustainPedalLost, "sustain pedal not kept: %1"},
    {ImportText::ControllersLost, "control changes not kept: %1 (number %2)"},
    {ImportText::OtherMessagesLost, "SysEx/pressure not kept: %1"},
    {ImportText::TextsLost, "texts/lyrics/markers not kept: %1"},
    {ImportText::NameLeftOut, "sequence name left out (not in the encoding)"},
    {ImportText::CopyrightLeftOut, "copyright left out (not in the encoding)"},
    {ImportText::NameCharactersLeftOut,
     "characters not in the encoding left out of the sequence name: %1"},
    {ImportText::CopyrightCharactersLeftOut,
     "characters not in the encoding left out of the copyright: %1"},
    {ImportText::NameCut, "sequence name cut to %1 bytes"},
    {ImportText::CopyrightCut, "copyright cut to %1 bytes"},
};

// The editor's texts.
constexpr KindText JAPANESE[] = {
    {ImportText::Usage,
     "使い方: tarvk32-import <MIDI ファイル> [-o <楽譜ファイル>] [--encoding cp932|utf-8] "
     "[--parts 1,3]\n"
     "                      [--grid 16|8t|...] [--steady-velocity]\n"
     "        tarvk32-import --list <MIDI ファイル>\n"
     "  -o          楽譜を書くファイル (省略時は標準出力)\n"
     "  --encoding  楽譜の文字コード (既定: cp932)\n"
     "  --list      ファイルのパート (トラック、MIDI チャンネル、音色、音符、声部) を示す\n"
     "  --parts     この番号 (--list の番号) のパートだけを読み込む\n"
     "  --grid      演奏した音をこの格子に合わせる (16: 16 分音符、8t: 8 分の 3 連符)\n"
     "  --steady-velocity  1 段階だけのベロシティの変化は前の段階のままにする\n"},
    {ImportText::MissingValue, "値がありません"},
    {ImportText::UnknownEncoding, "文字コードは cp932 か utf-8 です"},
    {ImportText::UnknownOption, "不明なオプションです"},
    {ImportText::BadPartList, "パートは --list の番号で 1,3,4 のように指定します"},
    {ImportText::BadGrid, "格子は 1、2、4、8、16、32、64 で、3 連符は t を付けます (8t)"},
    {ImportText::PartListHeader, "パート トラック チャンネル 音色 音符 声部 名前"},
    {ImportText::SecondInput, "MIDI ファイルは一つだけです"},
    {ImportText::OutputIsInput, "MIDI ファイルそのものを置き換えることになります"},
    {ImportText::OutputIsFolder, "フォルダです"},
    {ImportText::OutputLinksNowhere, "行き先のないシンボリックリンクです"},
    {ImportText::OutputPipeUnread, "誰も読んでいない名前付きパイプです"},
    {ImportText::CannotCreateOutput, "書き込み用に作れません (%1)"},
    {ImportText::CannotReplaceOutput, "書いたファイルを置けません"},
    {ImportText::CannotWriteOutput, "書き込めません"},
    {ImportText::CannotWriteStandardOutput, "標準出力に書けません"},
    {ImportText::CannotOpen, "開けません (%1)"},
    {ImportText::NotRegularFile, "通常のファイルではありません"},
    {ImportText::FileTooLarge, "ファイルが大きすぎます (%1 MiB まで)"},
    {ImportText::CannotRead, "読めません (%1)"},
    {ImportText::NotSmf, "Standard MIDI File ではありません (MThd がない)"},
    {ImportText::CutShort, "ファイルが途中で切れています"},
    {ImportText::BadHeaderLength, "MThd の長さが不正です"},
    {ImportText::UnreadableFormat, "フォーマット %1 の MIDI ファイルは読めません (0 と 1 のみ)"},
    {ImportText::SmpteDivision, "SMPTE 時間単位の MIDI ファイルは読めません"},
    {ImportText::ZeroDivision, "四分音符の分解能が 0 です"},
    {ImportText::NoTracks, "トラックがありません"},
    {ImportText::BadStatusByte, "トラック %1 の %2 バイト目: 不正なステータスバイト"},
    {ImportText::BadVariableLength, "トラック %1 の %2 バイト目: 不正な可変長数値"},
    {ImportText::TooManyBars, "曲が長すぎます (小節 %1 まで)"},
    {ImportText::TooManyEvents, "ch%1 の音や休符が多すぎます (1 チャンネル %2 個まで)"},
    {ImportText::NotEncodable, "楽譜を文字コードに変換できません"},
    {ImportText::TracksMissing,
     "ヘッダはトラック %1 個としていますが、ファイルには %2 "
     "個しかありません。あるものを読みました"},
    {ImportText::RunningStatusAfterMeta,
     "メタ・SysEx イベントの後のランニングステータス %1 個を前のステータスとして読みました"},
    {ImportText::NoNotes, "ファイルに音符がありません。楽譜には設定だけを書きました"},
    {ImportText::NotesMoved,
     "格子に乗らない音符 %1 個を最寄りの格子点へ動かしました (最大 %2 ティック)"},
    {ImportText::NotesDropped,
     "9 チャンネルに収まらない声部の音符 %1 個を捨てました (トラック %3、MIDI チャンネル %4、小節 "
     "%2)"},
    {ImportText::PartsLeftOut, "選ばなかったパートの音符 %1 個を読み込みませんでした"},
    {ImportText::VoiceContinued,
     "ch%1 の音と休符が %2 個を超えるため、小節 %3 から ch%4 に続けました"},
    {ImportText::VoiceCut,
     "ch%1 の音と休符が %2 個を超え、空いたチャンネルもないため、小節 %4 からの音符 %3 "
     "個を省きました"},
    {ImportText::ZeroLengthDropped, "書けない長さ 0 の音符 %1 個を捨てました"},
    {ImportText::ZeroLengthCrowded, "一つの格子点で %2 個を超える長さ 0 の音符 %1 個を捨てました"},
    {ImportText::LegatoTrimmed, "次の音に重なるレガートの音符 %1 個を次の音の始まりで終えました"},
    {ImportText::NotesTransposed, "8 オクターブの外の音符 %1 個をオクターブ単位で移しました"},
    {ImportText::NotesRepaired,
     "ノートオフの前に同じ鍵盤のノートオンが来た音符 %1 個をそこで終えました"},
    {ImportText::DrumsShortened, "次の音と重なるドラムの音符 %1 個を短くしました"},
    {ImportText::VelocitiesRounded, "ベロシティ %1 個を最寄りの段階 (v) に丸めました"},
    {ImportText::VelocitiesMatched, "長さ 0 の音符 %1 個のベロシティを前の音符に揃えました"},
    {ImportText::TupletLevelsJoined, "連符の音符 %1 個のベロシティを最初の音符の段階に揃えました"},
    {ImportText::NotesSnapped, "音符 %1 個を --grid の格子に合わせました"},
    {ImportText::VelocitiesSteadied, "前の音符と 1 段階違うベロシティ %1 個を前の音符に揃えました"},
    {ImportText::TemposRounded,
     "テンポ %1 個を整数に丸めました (丸めの誤差は後へ持ち越して打ち消します)"},
    {ImportText::TemposOutside,
     "10～250 の外のテンポ %1 個を近い端にしました (最初は小節 %3 の %2)"},
    {ImportText::ChangesMoved,
     "プログラム・パン・テンポの変更 %1 個を格子点か音の区切りへ動かしました"},
    {ImportText::PitchBendsLost, "ピッチベンド %1 個は保てません"},
    {ImportText::SustainPedalLost, "サステインペダル %1 個は保てません"},
    {ImportText::ControllersLost, "コントロールチェンジ %1 個 (番号 %2) は保てません"},
    {ImportText::OtherMessagesLost, "SysEx・プレッシャー %1 個は保てません"},
    {ImportText::TextsLost, "テキスト・歌詞・マーカー %1 個は保てません"},
    {ImportText::NameLeftOut, "曲名をこの文字コードで書けないため省きました"},
    {ImportText::CopyrightLeftOut, "著作権表示をこの文字コードで書けないため省きました"},
    {ImportText::NameCharactersLeftOut, "曲名からこの文字コードで書けない文字 %1 個を省きました"},
    {ImportText::CopyrightCharactersLeftOut,
     "著作権表示からこの文字コードで書けない文字 %1 個を省きました"},
    {ImportText::NameCut, "曲名を %1 バイトまでに切りました"},
    {ImportText::CopyrightCut, "著作権表示を %1 バイトまでに切りました"},
};

// A table holds every kind once, in the order of ImportText, so a kind is its index.
template <size_t N>
constexpr bool everyKindInOrder(const KindText (&table)[N]) {
  if (N != KIND_COUNT) return false;
  for (size_t i = 0; i < N; ++i) {
    if (static_cast<size_t>(table[i].kind) != i) return false;
  }
  return true;
}
static_assert(everyKindInOrder(ENGLISH), "the English table lacks a kind or is out of order");
static_assert(everyKindInOrder(JAPANESE), "the Japanese table lacks a kind or is out of order");

}  // namespace

const char* importText(ImportText kind, ImportLanguage language) {
  const size_t index = static_cast<size_t>(kind);
  if (index >= KIND_COUNT) return "";
  return (language == ImportLanguage::English ? ENGLISH : JAPANESE)[index].text;
}

std::string formatImportMessage(const ImportMessage& message, ImportLanguage language) {
  const std::string_view text = importText(message.kind, language);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9') {
      const size_t value = static_cast<size_t>(text[++i] - '1');
      if (value < message.values.size()) out += message.values[value];
    } else {
      out += text[i];
    }
  }
  return out;
}
