// Shared steps of the importer's tests: import bytes, compile the score as tarvk32c does and
// read what the compiled file plays.
#pragma once

#include <string>
#include <vector>

#include "import/midi_import.h"
#include "tests/import/midi_facts.h"
#include "tests/support/memory_host.h"
#include "tests/support/test_support.h"

namespace import_testing {

inline ImportResult importBytes(const std::string& midi,
                                ScoreEncoding encoding = ScoreEncoding::Cp932) {
  return importMidi(reinterpret_cast<const uint8_t*>(midi.data()), midi.size(), encoding);
}

// One of the files python3-mido writes for these tests (tests/import/write_other_files.py,
// run once a test program): true with its bytes, or false with the reason in `bytes` (the script
// names the package when python3-mido is missing).
inline bool midoFile(const std::string& name, std::string& bytes) {
  static const testing_support::TempDir dir;
  static const testing_support::RunResult run = testing_support::runCommand(
      "/usr/bin/python3 " TARV_SOURCE_DIR "/tests/import/write_other_files.py " + dir.path() +
      " 2>&1");
  if (run.status != 0) {
    bytes = run.out;
    return false;
  }
  if (testing_support::readFile(dir.file(name), bytes)) return true;
  bytes = name + " was not written";
  return false;
}

#ifdef LILYPOND_PATH
// The MIDI file LilyPond makes of `source` (a .ly text): true with its bytes, or false with
// LilyPond's words in `bytes`.
inline bool lilypondMidi(const std::string& source, std::string& bytes) {
  const testing_support::TempDir dir;
  testing_support::writeFile(dir.file("score.ly"), source);
  const testing_support::RunResult run =
      testing_support::runCommand("cd " + dir.path() + " && " LILYPOND_PATH " -s score.ly 2>&1");
  if (run.status != 0) {
    bytes = run.out;
    return false;
  }
  if (testing_support::readFile(dir.file("score.midi"), bytes)) return true;
  bytes = "LilyPond wrote no score.midi";
  return false;
}
#endif

// The score compiled in memory as tarvk32c compiles a file; false when it does not compile.
inline bool compileScore(const std::string& score, std::string& midi) {
  MemoryCompile compilation(FLAVOUR_CONSOLE, score);
  if (compilation.run() != 0) return false;
  midi.assign(compilation.host.kept.begin(), compilation.host.kept.end());
  return true;
}

// What the imported score plays when compiled; `readable` false when it does not compile.
inline MidiFacts playedAfterImport(const ImportResult& imported) {
  std::string midi;
  if (!imported.ok || !compileScore(imported.bytes, midi)) return MidiFacts();
  return readFacts(midi);
}

// A refusal or report item as the editor shows it.
inline std::string japanese(const ImportMessage& message) {
  return formatImportMessage(message, ImportLanguage::Japanese);
}

// The report as the editor's lines.
inline std::vector<std::string> reportLines(const ImportResult& imported) {
  std::vector<std::string> lines;
  for (const ImportMessage& item : imported.report) lines.push_back(japanese(item));
  return lines;
}

// The score's command-string lines (those of its channel blocks), without their line ends.
inline std::vector<std::string> commandStringLines(const ImportResult& imported) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = imported.text.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = imported.text.substr(start, end - start);
    if (line.rfind("  \"", 0) == 0) lines.push_back(line);
  }
  return lines;
}

// The count of the report item of `kind`, 0 without one.
inline int reportedCount(const ImportResult& imported, ImportText kind) {
  for (const ImportMessage& item : imported.report) {
    if (item.kind == kind) return std::stoi(item.values.at(0));
  }
  return 0;
}

}  // namespace import_testing
