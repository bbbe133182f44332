#include "import/import_program.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "console/output_signals.h"
#include "core/output_file.h"
#include "import/import_texts.h"
#include "import/midi_import.h"
#include "import/midi_input.h"

namespace {

constexpr const char PROGRAM[] = "tarvk32-import";
constexpr size_t PART_NUMBER_DIGITS_MAX = 4;             // no file has more parts than 16 a track
constexpr int GRID_VALUES[] = {1, 2, 4, 8, 16, 32, 64};  // note values --grid takes

// The console speaks English.
constexpr ImportLanguage LANGUAGE = ImportLanguage::English;

void usage(std::FILE* to) {
  std::fputs(importText(ImportText::Usage, LANGUAGE), to);
}

int fail(std::FILE* err, const std::string& subject, const ImportMessage& reason) {
  std::fprintf(err, "%s: %s%s%s\n", PROGRAM, subject.c_str(), subject.empty() ? "" : ": ",
               formatImportMessage(reason, LANGUAGE).c_str());
  return 1;
}

int fail(std::FILE* err, const std::string& subject, ImportText reason) {
  return fail(err, subject, ImportMessage{reason, {}});
}

// Why the output cannot be opened, as a message.
ImportMessage openRefusal(const OutputFile& output) {
  switch (output.openFailure()) {
    case OutputOpenFailure::Folder:
      return {ImportText::OutputIsFolder, {}};
    case OutputOpenFailure::DanglingLink:
      return {ImportText::OutputLinksNowhere, {}};
    case OutputOpenFailure::None:
    case OutputOpenFailure::System:
      break;
  }
  if (output.error() == ENXIO) return {ImportText::OutputPipeUnread, {}};
  return {ImportText::CannotCreateOutput, {std::strerror(output.error())}};
}

// Written whole, as tarvk32c writes its output: through a file without a name beside the target
// (a terminating signal removes a named one), or into a device or a named pipe in place.
bool writeOutput(const std::string& path, const std::string& bytes, ImportMessage& error) {
  const TerminatingSignalsHeld held;
  OutputFile output(path);
  if (!output.open()) {
    error = openRefusal(output);
    return false;
  }
  watchTemporaryOutput(output.temporaryPath());
  output.write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  const int32_t result = output.commit();
  forgetTemporaryOutput();
  if (result != OUTPUT_CLOSED) {
    error = {result == OUTPUT_REPLACE_FAILED ? ImportText::CannotReplaceOutput
                                             : ImportText::CannotWriteOutput,
             {}};
    return false;
  }
  return true;
}

// "1,3,4" into part numbers (from 1); false when it is no such list.
bool parsePartList(const std::string& text, std::vector<int>& parts) {
  parts.clear();
  size_t at = 0;
  while (at <= text.size()) {
    const size_t comma = std::min(text.find(',', at), text.size());
    const std::string item = text.substr(at, comma - at);
    if (item.empty() || item.size() > PART_NUMBER_DIGITS_MAX ||
        item.find_first_not_of("0123456789") != std::string::npos || std::stoi(item) == 0) {
      return false;
    }
    parts.push_back(std::stoi(item));
    at = comma + 1;
  }
  return true;
}

// "16" or "8t" into the grid of the options; false when it is no note value the grid takes.
bool parseGrid(const std::string& text, ImportOptions& options) {
  options.gridTriplets = !text.empty() && text.back() == 't';
  const std::string value = options.gridTriplets ? text.substr(0, text.size() - 1) : text;
  for (const int grid : GRID_VALUES) {
    if (value == std::to_string(grid)) {
      options.grid = grid;
      return true;
    }
  }
  return false;
}

// The parts, one a line under the header, in the columns of the header.
int listPartsOf(const std::string& input, std::FILE* out, std::FILE* err) {
  std::vector<uint8_t> bytes;
  ImportMessage refusal;
  if (!readMidiInput(input, bytes, refusal)) return fail(err, input, refusal);
  std::vector<PartSummary> parts;
  if (!listParts(bytes.data(), bytes.size(), parts, refusal)) return fail(err, input, refusal);
  std::fprintf(out, "%s\n", importText(ImportText::PartListHeader, LANGUAGE));
  int number = 0;
  for (const PartSummary& p : parts) {
    const std::string program = p.program < 0 ? "-" : std::to_string(p.program);
    std::fprintf(out, "%4d %5d %7d %7s %5d %6d %s\n", ++number, p.track, p.midiChannel,
                 program.c_str(), p.notes, p.voices, p.name.c_str());
  }
  if (std::fflush(out) == 0 && !std::ferror(out)) return 0;
  return fail(err, "", ImportText::CannotWriteStandardOutput);
}

}  // namespace

int runImportProgram(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
  std::string input, output;
  ScoreEncoding encoding = ScoreEncoding::Cp932;
  ImportOptions options;
  bool list = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "-h" || argument == "--help") {
      usage(out);
      return 0;
    }
    if ((argument == "-o" || argument == "--encoding" || argument == "--parts" ||
         argument == "--grid") &&
        i + 1 >= argc) {
      return fail(err, argument, ImportText::MissingValue);
    }
    if (argument == "-o") {
      output = argv[++i];
    } else if (argument == "--list") {
      list = true;
    } else if (argument == "--steady-velocity") {
      options.steadyVelocity = true;
    } else if (argument == "--grid") {
      const std::string grid = argv[++i];
      if (!parseGrid(grid, options)) return fail(err, grid, ImportText::BadGrid);
    } else if (argument == "--parts") {
      const std::string parts = argv[++i];
      if (!parsePartList(parts, options.parts)) return fail(err, parts, ImportText::BadPartList);
    } else if (argument == "--encoding") {
      const std::string name = argv[++i];
      if (name == "cp932") {
        encoding = ScoreEncoding::Cp932;
      } else if (name == "utf-8") {
        encoding = ScoreEncoding::Utf8;
      } else {
        return fail(err, name, ImportText::UnknownEncoding);
      }
    } else if (!argument.empty() && argument[0] == '-') {
      usage(err);
      return fail(err, argument, ImportText::UnknownOption);
    } else if (input.empty()) {
      input = argument;
    } else {
      usage(err);
      return fail(err, argument, ImportText::SecondInput);
    }
  }
  if (input.empty()) {
    usage(err);
    return 1;
  }

  if (list) return listPartsOf(input, out, err);

  // The score would take the MIDI file's place (-o song.mid, or a name linked to it).
  if (!output.empty() && outputWouldOverwrite(output, input)) {
    return fail(err, output, ImportText::OutputIsInput);
  }
  std::vector<uint8_t> bytes;
  ImportMessage refusal;
  if (!readMidiInput(input, bytes, refusal)) return fail(err, input, refusal);
  const ImportResult result = importMidi(bytes.data(), bytes.size(), encoding, options);
  if (!result.ok) return fail(err, input, result.error);
  for (const ImportMessage& item : result.report) {
    std::fprintf(err, "%s: %s\n", PROGRAM, formatImportMessage(item, LANGUAGE).c_str());
  }
  if (output.empty()) {
    std::fwrite(result.bytes.data(), 1, result.bytes.size(), out);
    if (std::fflush(out) == 0 && !std::ferror(out)) return 0;
    return fail(err, "", ImportText::CannotWriteStandardOutput);
  }
  ImportMessage writeError;
  if (!writeOutput(output, result.bytes, writeError)) return fail(err, output, writeError);
  return 0;
}
