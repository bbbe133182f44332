// Replays inputs through the fuzzer's own compile path in all four flavour and output-mode
// combinations: no crash, no sanitizer report (in the sanitizer build) and every output property
// of tests/fuzz/fuzz_case.h holds. Inputs: whatever the compile fuzzer once broke
// (tests/fuzz/regressions/compile/, where scripts/fuzz tells to keep its findings once fixed), the
// seed scores, and generated inputs at the size limits, which are too large for the fuzzer.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/fuzz/fuzz_case.h"

namespace {

using fuzzing::Bytes;

// Runs `input` (select byte first) in every flavour and output mode, keeping its read pieces.
void expectPropertiesInAllModes(Bytes input, const std::string& name) {
  for (uint8_t mode = 0; mode <= fuzzing::SELECT_MODES; ++mode) {
    input[0] = static_cast<uint8_t>((input[0] & ~fuzzing::SELECT_MODES) | mode);
    EXPECT_EQ(fuzzing::runFuzzInput(input.data(), input.size()), "")
        << name << ", select byte " << int{input[0]};
  }
}

std::vector<std::filesystem::path> filesIn(const std::string& directory) {
  std::vector<std::filesystem::path> files;
  if (!std::filesystem::is_directory(directory)) return files;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

Bytes readBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Found inputs carry their select byte; the seed scores are plain sources and get one. A found
// input belongs in the folder of its fuzz target: one directly in tests/fuzz/regressions/ would
// be replayed by nothing.
TEST(FuzzRegression, FoundInputsAndSeedScoresKeepTheProperties) {
  for (const auto& file : filesIn(TARV_SOURCE_DIR "/tests/fuzz/regressions")) {
    ADD_FAILURE()
        << file << ": move it into tests/fuzz/regressions/compile/ (or settings/, text/, import/)";
  }
  int replayed = 0;
  for (const auto& file : filesIn(TARV_SOURCE_DIR "/tests/fuzz/regressions/compile")) {
    const Bytes input = readBytes(file);
    ASSERT_FALSE(input.empty()) << file;
    expectPropertiesInAllModes(input, file.filename().string());
    ++replayed;
  }
  for (const char* directory : {"/examples", "/tests/fuzz/corpus"}) {
    for (const auto& file : filesIn(TARV_SOURCE_DIR + std::string(directory))) {
      if (file.extension() != ".fms") continue;
      Bytes input{0};
      const Bytes score = readBytes(file);
      input.insert(input.end(), score.begin(), score.end());
      expectPropertiesInAllModes(input, file.filename().string());
      ++replayed;
    }
  }
  EXPECT_GE(replayed, 10);
}

std::string repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

// A channel block of `lines` command strings of `notes` notes each.
std::string block(int channel, int lines, int notes) {
  return "ch" + std::to_string(channel) + " {\n" +
         repeat("\"" + std::string(static_cast<size_t>(notes), 'c') + "\"\n", lines) + "}\n";
}

// A channel line of exactly `length` bytes before its line end.
std::string lineOf(int length) {
  return "ch1{\"" + std::string(static_cast<size_t>(length - 7), 'c') + "\"}";
}

TEST(FuzzRegression, InputsAtTheSizeLimitsKeepTheProperties) {
  struct Case {
    const char* name;
    std::string source;
  };
  std::vector<Case> cases = {
      {"work area filled past 64000 bytes", block(1, 40, 1000)},
      {"compiled-data positions past 65535",
       block(1, 17, 1000) + block(2, 17, 1000) + block(3, 1, 1)},
      {"more than 999999 lines", std::string(1000000, '\n') + "ch1 { \"c\" }\n"},
  };
  for (int length : {1998, 1999, 2000}) {
    for (const char* end : {"\n", "\r\n", ""}) {
      cases.push_back({"long line", lineOf(length) + end + "ch2{\"d\"}" + end});
    }
  }
  for (const Case& c : cases) {
    for (uint8_t pieces : {0, 1, 7}) {  // console reads: all at once, 1 and 7 bytes at a time
      const std::string selected = static_cast<char>(pieces << 2) + c.source;
      const Bytes input(selected.begin(), selected.end());
      expectPropertiesInAllModes(
          input, std::string(c.name) + " (" + std::to_string(c.source.size()) + " bytes)");
    }
  }
}

}  // namespace
