#include "core/diagnostics.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

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

constexpr CodeText OTHER_ERROR = {ERROR_OTHER, "その他のエラー発生", "\n other error\n"};

constexpr FlavourTexts CONSOLE_TEXTS = {
    .lineEnd = "\n",
    .outOfMemory = "out of memory\n",
    .compileStopped = "compile stopped!\n",
    .cannotReadSource = "Can not read source file!\n",
    .cannotOpenOutput = "fmbin open err\n",
    .cannotWriteOutput = "fmbin write err\n",
    .channelSize = " -> ch%d  size(%d byte)  %s (%ld)\n",
    .complete = " ** complete! **\n",
    .channelOverflow = " -> ch%d  workarea over.(Max %dbyte)",
    .channelFull = "ch%d is full: %d events",
    .loneTie = "[error] &  single(ch%d)",
    .compiledDataOver = "[error] fmd data over %d byte\n",
    .lineTooLong = "work area over!\n",
    .lineCountOver = "**** line over(MAX:%ld line) ****\n**** compile stopped. ****\n",
    .longLineWarning = nullptr,
    .optionEcho = " [option]:%s ON\n",
    .copyrightLabel = " [copyright]:",
    .copyrightOverLabel = " [copyright]:",
    .sequenceNameLabel = " [sname]:",
    .sequenceNameOverLabel = "[sname]:",
};

constexpr FlavourTexts EDITOR_TEXTS = {
    .lineEnd = "",
    .outOfMemory = "out of memory",
    .compileStopped = "compile stopped!",
    .cannotReadSource = nullptr,
    .cannotOpenOutput = "書き込みファイルエラー",
    .cannotWriteOutput = "書き込みファイルエラー",
    .channelSize = " -> ch%d size(%d byte)  %s (%ld)",
    .complete = " ** コンパイル終了 **",
    .channelOverflow = " -> ch%dが 確保領域:%dbyteを越えた",
    .channelFull = "ch%dが満杯: %dイベント",
    .loneTie = "[エラー] & 記号が単独で存在(ch%d)",
    .compiledDataOver = "[エラー] fmd データが %d byte を越えた",
    .lineTooLong = nullptr,
    .lineCountOver = nullptr,
    .longLineWarning = " [警告] line (%s) : １行 %d Byte以内",
    .optionEcho = " [制御命令]:%sに設定",
    .copyrightLabel = " [著作情報]:",
    .copyrightOverLabel = " [著作情報]:",
    .sequenceNameLabel = " [シーケンス名]:",
    .sequenceNameOverLabel = " [シーケンス名]:",
};

// The failing-line report.
constexpr const char CONSOLE_FAILING_LINE[] = "line (%ld) : ";
constexpr const char EDITOR_FAILING_LINE[] = "ERR -> line [";  // + number + "]:" + text
constexpr size_t EDITOR_REPORT_PREFIX_WIDTH = 20;              // "ERR -> line [00012]:"
constexpr int32_t LINE_NUMBER_MODULUS = 100000;                // five digits

}  // namespace

const FlavourTexts& flavourTexts(Flavour flavour) {
  return flavour == FLAVOUR_EDITOR ? EDITOR_TEXTS : CONSOLE_TEXTS;
}

std::string formatText(const char* format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string text(static_cast<size_t>(n) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  text.resize(static_cast<size_t>(n));
  return text;
}

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
    session.host->messageLine(EDITOR_FAILING_LINE + formatLineNumber(session.lineNumber) +
                              "]:" + editorDisplayText(session, shown));
    const size_t before =
        std::min(static_cast<size_t>(std::max(session.lineCursor, 0)), text.size());
    const int32_t columns = editorDisplayColumns(session, text.substr(0, before)) +
                            (session.lineCursor - static_cast<int32_t>(before));
    std::string pointer(EDITOR_REPORT_PREFIX_WIDTH + static_cast<size_t>(std::max(columns, 0)),
                        ' ');
    pointer += '?';
    session.host->messageLine(pointer);
  } else {
    std::string line = formatText(CONSOLE_FAILING_LINE, static_cast<long>(session.lineNumber));
    line += text;
    line += '\n';
    session.host->messageLine(line);
  }
}

void reportFailure(CompileSession& session, int32_t code) {
  reportFailingLine(session);
  reportError(session, code);
  Diagnostic failure;
  failure.code = code;
  if (code == ERROR_OTHER && session.fullChannel != 0) {
    failure.code = DIAGNOSTIC_CHANNEL_FULL;
    failure.channel = session.fullChannel;
    failure.limit = WORK_AREA_EVENTS;
  }
  failure.lineNumber = session.lineNumber;
  failure.line =
      flavourOf(session) == FLAVOUR_EDITOR ? session.sourceLineIndex - 1 : session.lineNumber - 1;
  failure.pointer = session.lineCursor;
  failure.commandStart = std::clamp(session.itemStart, 0, session.lineCursor);
  failure.commandEnd = std::max(failure.pointer, failure.commandStart + 1);
  diagnose(session, failure);
}

void diagnose(CompileSession& session, const Diagnostic& diagnostic) {
  session.host->diagnosed(diagnostic);
}

Diagnostic unencodableDiagnostic(int32_t line, int32_t column, char32_t character) {
  Diagnostic diagnostic;
  diagnostic.code = DIAGNOSTIC_UNENCODABLE;
  diagnostic.line = line;
  diagnostic.lineNumber = line + 1;
  diagnostic.commandStart = column;
  diagnostic.commandEnd = column + 1;
  diagnostic.pointer = column;
  diagnostic.character = character;
  return diagnostic;
}

Diagnostic lineFreeDiagnostic(int32_t code, int32_t limit) {
  Diagnostic diagnostic;
  diagnostic.code = code;
  diagnostic.limit = limit;
  return diagnostic;
}

namespace {

std::string trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == '\n' || text.front() == ' ')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
  return std::string(text);
}

std::string textOrEmpty(const char* text) {
  return text == nullptr ? std::string() : trimmed(text);
}

}  // namespace

std::string diagnosticText(const Diagnostic& diagnostic, Flavour flavour) {
  const FlavourTexts& texts = flavourTexts(flavour);
  switch (diagnostic.code) {
    case DIAGNOSTIC_CHANNEL_FULL:
      return formatText(texts.channelFull, static_cast<int>(diagnostic.channel),
                        static_cast<int>(diagnostic.limit));
    case DIAGNOSTIC_LONG_LINE:
      if (texts.longLineWarning == nullptr) return {};
      return trimmed(formatText(texts.longLineWarning,
                                formatLineNumber(diagnostic.lineNumber).c_str(),
                                static_cast<int>(diagnostic.limit)));
    case DIAGNOSTIC_UNENCODABLE:
      return {};
    case DIAGNOSTIC_COMPILED_DATA_OVER:
      return trimmed(formatText(texts.compiledDataOver, static_cast<int>(diagnostic.limit)));
    case DIAGNOSTIC_OUTPUT_OPEN:
      return textOrEmpty(texts.cannotOpenOutput);
    case DIAGNOSTIC_OUTPUT_WRITE:
      return textOrEmpty(texts.cannotWriteOutput);
    case DIAGNOSTIC_SOURCE_READ:
      return textOrEmpty(texts.cannotReadSource);
    case DIAGNOSTIC_LINE_TOO_LONG:
      return textOrEmpty(texts.lineTooLong);
    case DIAGNOSTIC_LINE_COUNT_OVER:
      if (texts.lineCountOver == nullptr) return {};
      return trimmed(formatText(texts.lineCountOver, static_cast<long>(diagnostic.limit)));
    case DIAGNOSTIC_OUT_OF_MEMORY:
      return textOrEmpty(texts.outOfMemory);
    default:
      return trimmed(errorText(diagnostic.code, flavour));
  }
}

std::string formatLineNumber(int32_t lineNumber) {
  int32_t n = lineNumber % LINE_NUMBER_MODULUS;
  if (n < 0) n += LINE_NUMBER_MODULUS;
  return formatText("%05d", static_cast<int>(n));
}
