#include "core/diagnostics.h"

#include <cstdio>
#include <cstring>

#include "core/text_encoding.h"

namespace {

struct CodeText {
  int32_t code;
  const char* editor;
  const char* console;
};

constexpr CodeText CODE_TEXTS[] = {
    {1, "解読できない命令があります", "\nIt isn't possible to decipher.\n"},
    {10, "& は連続で並べられません", "\n&  can not continuation\n"},
    {11, "& を単独では利用できません", "\n&  single\n"},
    {12, "命令 N? の範囲は 0～96", "\ncode 'N?' (0 to 96)\n"},
    {13, "命令 O? の範囲は 0～7", "\ncode 'O?' (0 to 7)\n"},
    {14, "命令 L? で不可数値を使用", "\ncode 'L?' value error\n"},
    {15, "命令 @? の範囲は 0～127", "\ncode '@?' (0 to 127)\n"},
    {16, "命令 V? の範囲は 0～16", "\ncode 'V?' (0 to 16)\n"},
    {17, "命令 T? の範囲は 10～250", "\ncode 'T?' (10 to 250)\n"},
    {18, "命令 :  の範囲は 1～255", "\ncode ':'  (1 to 255)\n"},
    {19, "命令 Q? の範囲は 1～8", "\ncode 'Q?' (1 to 8)\n"},
    {20, "命令 {} 連符指定に誤りがある", "\ncode {} error\n"},
    {21, "命令 $? の範囲は 0～127", "\ncode '$?' (0 to 127)\n"},
    {22, "op は ')'で終わる必要があります", "\nop ')' not found\n"},
    {23, "op で 該当する制御命令はありません", "\nop :: command not found\n"},
    {24, "cr は ')'で終わる必要があります", "\ncr ')' not found\n"},
    {25, "文字列は63Byteまで(超過違反)", "\n string > 63 Byte (over flow)\n"},
    {26, "sn は ')'で終わる必要があります", "\nsn ')' not found\n"},
    {27, "文字列は127Byteまで(超過違反)", "\n string > 127 Byte(over flow)\n"},
    {999, "ch をオープンしていません", "\nch  not open\n"},
};

constexpr CodeText OTHER_ERROR = {-1, "その他のエラー発生", "\n other error\n"};

}  // namespace

std::string_view errorText(int32_t code, Flavour flavour) {
  const CodeText* entry = &OTHER_ERROR;
  for (const CodeText& candidate : CODE_TEXTS) {
    if (candidate.code == code) entry = &candidate;
  }
  return flavour == FLAVOUR_EDITOR ? entry->editor : entry->console;
}

void reportError(CompileSession& session, int32_t code) {
  std::string_view text = errorText(code, flavourOf(session));
  if (flavourOf(session) == FLAVOUR_EDITOR) {
    std::string line = " *** ";
    line += text;
    line += " *** ";
    session.host->messageLine(line);
  } else {
    session.host->messageLine(text);
  }
}

std::string_view lineText(const CompileSession& session) {
  const char* start = reinterpret_cast<const char*>(session.lineBuffer);
  return std::string_view(start, strnlen(start, LINE_BUFFER_STORAGE));
}

void reportFailingLine(CompileSession& session) {
  std::string_view text = lineText(session);
  if (flavourOf(session) == FLAVOUR_EDITOR) {
    // A pane line carries no line end: the carriage return that ends the line is left out.
    std::string_view shown = text;
    if (!shown.empty() && shown.back() == '\r') shown.remove_suffix(1);
    session.host->messageLine("ERR -> line [" + formatLineNumber(session.lineNumber) +
                              "]:" + cp932ToDisplay(shown));
    std::string pointer(20 + static_cast<size_t>(session.lineCursor), ' ');
    pointer += '?';
    session.host->messageLine(pointer);
  } else {
    char prefix[32];
    int n = std::snprintf(prefix, sizeof prefix,
                          "line (%ld) : ", static_cast<long>(session.lineNumber));
    std::string line(prefix, static_cast<size_t>(n));
    line += text;
    line += '\n';
    session.host->messageLine(line);
  }
}

std::string formatLineNumber(int32_t lineNumber) {
  int64_t n = lineNumber % 100000;
  if (n < 0) n += 100000;
  char digits[8];
  std::snprintf(digits, sizeof digits, "%05d", static_cast<int>(n));
  return digits;
}
