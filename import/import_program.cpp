#include "import/import_program.h"

#include <string>
#include <vector>

#include "console/output_signals.h"
#include "core/output_file.h"
#include "import/midi_import.h"
#include "import/midi_input.h"

namespace {

constexpr const char PROGRAM[] = "tarvk32-import";

constexpr const char USAGE[] =
    "使い方: tarvk32-import <MIDI ファイル> [-o <楽譜ファイル>] [--encoding cp932|utf-8]\n"
    "  -o          楽譜を書くファイル (省略時は標準出力)\n"
    "  --encoding  楽譜の文字コード (既定: cp932)\n";

int fail(std::FILE* err, const std::string& subject, const std::string& reason) {
  std::fprintf(err, "%s: %s%s%s\n", PROGRAM, subject.c_str(), subject.empty() ? "" : ": ",
               reason.c_str());
  return 1;
}

// Through a temporary file beside the target, renamed over it when complete, as tarvk32c writes
// its output; a terminating signal removes the temporary file.
bool writeOutput(const std::string& path, const std::string& bytes, std::string& error) {
  const TerminatingSignalsHeld held;
  OutputFile output(path);
  if (!output.open()) {
    error = "書き込み用に作れません";
    return false;
  }
  watchTemporaryOutput(output.temporaryPath());
  output.write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  const int32_t result = output.commit();
  forgetTemporaryOutput();
  if (result != OUTPUT_CLOSED) {
    error = result == OUTPUT_REPLACE_FAILED ? "書いたファイルを置けません" : "書き込めません";
    return false;
  }
  return true;
}

}  // namespace

int runImportProgram(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
  std::string input, output;
  ScoreEncoding encoding = ScoreEncoding::Cp932;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "-h" || argument == "--help") {
      std::fputs(USAGE, out);
      return 0;
    }
    if ((argument == "-o" || argument == "--encoding") && i + 1 >= argc) {
      return fail(err, argument, "値がありません");
    }
    if (argument == "-o") {
      output = argv[++i];
    } else if (argument == "--encoding") {
      const std::string name = argv[++i];
      if (name == "cp932") {
        encoding = ScoreEncoding::Cp932;
      } else if (name == "utf-8") {
        encoding = ScoreEncoding::Utf8;
      } else {
        return fail(err, name, "文字コードは cp932 か utf-8 です");
      }
    } else if (!argument.empty() && argument[0] == '-') {
      std::fputs(USAGE, err);
      return fail(err, argument, "不明なオプションです");
    } else if (input.empty()) {
      input = argument;
    } else {
      std::fputs(USAGE, err);
      return fail(err, argument, "MIDI ファイルは一つだけです");
    }
  }
  if (input.empty()) {
    std::fputs(USAGE, err);
    return 1;
  }

  std::vector<uint8_t> bytes;
  std::string error;
  if (!readMidiInput(input, bytes, error)) return fail(err, input, error);
  const ImportResult result = importMidi(bytes.data(), bytes.size(), encoding);
  if (!result.ok) return fail(err, input, result.error);
  for (const std::string& line : result.report)
    std::fprintf(err, "%s: %s\n", PROGRAM, line.c_str());
  if (output.empty()) {
    std::fwrite(result.bytes.data(), 1, result.bytes.size(), out);
    return std::fflush(out) == 0 && !std::ferror(out) ? 0 : fail(err, "", "標準出力に書けません");
  }
  if (!writeOutput(output, result.bytes, error)) return fail(err, output, error);
  return 0;
}
