// Benchmarks of tarvk32c through its own console path (runConsoleProgram: ConsoleHost reading
// the score file, the output file written beside it, console text to /dev/null), so only the
// process start is left out.
//
//   reader/comments       90 MB of comment and blank lines: line reader and classifier
//   reader/block_comments 100 MB of "/* ... */" blocks over several lines, some with commented-
//                         out score lines: the classifier crossing block comments
//   reader/commands       short command lines inside one channel block: reader, classifier and
//                         command parser
//   compile/maximal_smf   nine channels of 32000 notes each, the most a score can hold, to .mid
//   compile/maximal_fmd   two full channels to .fmd: the largest compiled-data image that fits,
//                         since a third channel's table entry would pass 65535
//   compile/editor_smf    the maximal score as the editor compiles it again and again: editor
//                         lines from memory, one session, the MIDI file into memory (the
//                         in-memory host of tests/support)
//   display/highlight_1M  the editor's colouring of a 1,000,000-character score line by line
//                         (core/line_highlighter.h): command lines, comments, block comments,
//                         header commands, about 60 bytes a line
//
// Own flags (before the benchmark library's): --tarv_generate=DIR writes the scores into DIR and
// exits; --tarv_data=DIR times the scores found in DIR. Without either, the scores are written
// into a temporary directory that is removed at the end.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "console/console_program.h"
#include "core/compile_session.h"
#include "core/line_highlighter.h"
#include "tests/support/memory_host.h"

namespace fs = std::filesystem;

namespace {

// The console reader stops at 999999 lines; the large scores stay well below that.
constexpr int LARGE_SCORE_LINES = 900000;
constexpr int NOTES_PER_LINE = 32;
constexpr int EVENTS_PER_CHANNEL = WORK_AREA_LIMIT / 2;  // 32000 two-byte events fill a channel
constexpr int FMD_CHANNELS = 2;

constexpr const char* COMMENT_SCORE = "comments.fms";
constexpr const char* BLOCK_COMMENT_SCORE = "block-comments.fms";
constexpr const char* COMMAND_SCORE = "commands.fms";
constexpr const char* MAXIMAL_SCORE = "maximal.fms";
constexpr const char* MAXIMAL_FMD_SCORE = "maximal-fmd.fms";

class ScoreWriter {
 public:
  explicit ScoreWriter(const fs::path& path) : file_(std::fopen(path.c_str(), "wb")) {
    if (file_ == nullptr) {
      std::perror(path.c_str());
      std::exit(2);
    }
    std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
  }
  ~ScoreWriter() {
    if (std::fclose(file_) != 0) {
      std::perror("score");
      std::exit(2);
    }
  }
  void line(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fwrite("\r\n", 1, 2, file_);
  }

 private:
  std::FILE* file_;
};

// ~90 MB: lines of 108 bytes and a CR LF in two shapes (comment at the start, indented comment),
// every tenth line blank (empty, or blanks only).
void writeCommentScore(const fs::path& path) {
  static constexpr std::string_view FILLER =
      "the strings come in softly under the horn, then the oboe takes the second phrase and "
      "hands it back to the violas before the tutti, ";
  ScoreWriter out(path);
  char head[32];
  for (int i = 0; i < LARGE_SCORE_LINES; ++i) {
    switch (i % 10) {
      case 9:
        out.line(i % 20 == 9 ? "" : "    \t  ");
        break;
      default: {
        const int n =
            std::snprintf(head, sizeof head, "%s// bar %06d: ", i % 10 >= 6 ? "    " : "", i);
        std::string text(head, static_cast<size_t>(n));
        text.append(FILLER.substr(static_cast<size_t>(i % 7), 108 - text.size()));
        out.line(text);
      }
    }
  }
}

// ~100 MB: lines of 122 bytes and a CR LF in blocks of ten: "/* bar n: " opens a block comment,
// prose and a commented-out score line follow, " */" closes it on the ninth line, the tenth is
// blank.
void writeBlockCommentScore(const fs::path& path) {
  static constexpr std::string_view FILLER =
      "the strings come in softly under the horn, then the oboe takes the second phrase and "
      "hands it back to the violas before the tutti, then all of them together once more ";
  static constexpr std::string_view SCORE_LINE =
      "  ch3 { \"t120 o4 l8 c d e f g a b > c4 r4 < g2\" }  muted for now, ";
  constexpr size_t WIDTH = 122;
  ScoreWriter out(path);
  char head[32];
  for (int i = 0; i < LARGE_SCORE_LINES; ++i) {
    std::string text;
    switch (i % 10) {
      case 0:
        text.assign(head,
                    static_cast<size_t>(std::snprintf(head, sizeof head, "/* bar %06d: ", i)));
        break;
      case 4:
        text = SCORE_LINE;
        break;
      case 6:
      case 7:
        text = "    ";
        break;
      case 9:
        out.line("");
        continue;
    }
    text.append(FILLER.substr(static_cast<size_t>(i % 7), WIDTH - text.size()));
    if (i % 10 == 8) text.replace(WIDTH - 3, 3, " */");
    out.line(text);
  }
}

// One channel block of short command strings that change octave and length only: a score of
// 900000 lines of notes could not compile, as a channel holds 32000 events.
void writeCommandScore(const fs::path& path) {
  static constexpr std::string_view LINES[] = {
      "  \"o4 l8 > < l16\"",
      "  \"l4. o5 < < l32 >\"",
      "\t\"O3 L2 >> l8.\"",
      "  \"l16 o4\" \"> l4 <\"",
  };
  ScoreWriter out(path);
  out.line("ch1 {");
  for (int i = 0; i < LARGE_SCORE_LINES - 2; ++i) out.line(LINES[i % 4]);
  out.line("}");
}

// Full channels: a length command, then 32000 sixteenth notes, 32 to a command string.
void writeMaximalScore(const fs::path& path, int channels) {
  ScoreWriter out(path);
  std::string notes;
  for (int i = 0; i < NOTES_PER_LINE; ++i) notes += "cdefgab"[i % 7];
  const std::string noteLine = "  \"" + notes + "\"";
  for (int channel = 1; channel <= channels; ++channel) {
    out.line("ch" + std::to_string(channel) + " {");
    out.line("  \"l16\"");
    for (int i = 0; i < EVENTS_PER_CHANNEL / NOTES_PER_LINE; ++i) out.line(noteLine);
    out.line("}");
  }
}

void generateScores(const fs::path& dir) {
  writeCommentScore(dir / COMMENT_SCORE);
  writeBlockCommentScore(dir / BLOCK_COMMENT_SCORE);
  writeCommandScore(dir / COMMAND_SCORE);
  writeMaximalScore(dir / MAXIMAL_SCORE, CHANNEL_COUNT);
  writeMaximalScore(dir / MAXIMAL_FMD_SCORE, FMD_CHANNELS);
}

double cpuMs() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

int countOf(const std::string& text, std::string_view part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// One untimed run with the console text kept: the timed runs must be complete compilations,
// not ones cut short by a limit. Empty when all is well, else what went wrong.
std::string checkRun(const std::vector<const char*>& argv, int fullChannels) {
  char* text = nullptr;
  size_t size = 0;
  std::FILE* console = open_memstream(&text, &size);
  const int status = runConsoleProgram(static_cast<int>(argv.size()), argv.data(), console);
  std::fclose(console);
  const std::string output(text, size);
  std::free(text);
  const bool complete = status == 0 && countOf(output, " ** complete! **") == 1 &&
                        countOf(output, "size(64000 byte)") == fullChannels &&
                        output.find("over") == std::string::npos;
  if (complete) return {};
  std::string problem = "status " + std::to_string(status) + ": " + output;
  std::replace(problem.begin(), problem.end(), '\n', ' ');  // one line in the reports
  return problem;
}

void compileScore(benchmark::State& state, const fs::path& source, bool compiledData,
                  int fullChannels) {
  std::vector<const char*> argv = {"tarvk32c", source.c_str()};
  if (compiledData) argv.push_back("-f");
  if (const std::string problem = checkRun(argv, fullChannels); !problem.empty()) {
    state.SkipWithError(("not a complete compilation, " + problem).c_str());
    return;
  }
  std::FILE* devNull = std::fopen("/dev/null", "w");
  double bestMs = std::numeric_limits<double>::infinity();
  double bestCpuMs = bestMs;
  for (auto _ : state) {
    const double cpuStart = cpuMs();
    const auto start = std::chrono::steady_clock::now();
    if (runConsoleProgram(static_cast<int>(argv.size()), argv.data(), devNull) != 0) {
      state.SkipWithError("compilation failed");
      break;
    }
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    bestMs = std::min(bestMs, took.count());
    bestCpuMs = std::min(bestCpuMs, cpuMs() - cpuStart);
  }
  std::fclose(devNull);
  // The fastest single compilation, by the clock and by the process's CPU time: on a shared
  // machine the means carry other processes' load.
  state.counters["best_ms"] = bestMs;
  state.counters["best_cpu_ms"] = bestCpuMs;
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(source)));
  if (fullChannels > 0)
    state.SetItemsProcessed(state.iterations() * fullChannels * EVENTS_PER_CHANNEL);
}

// The editor's repeated compilation of one score: the same session and host each time.
void compileInEditor(benchmark::State& state, const fs::path& source) {
  std::string score;
  if (std::FILE* file = std::fopen(source.c_str(), "rb")) {
    char piece[65536];
    for (size_t n; (n = std::fread(piece, 1, sizeof piece, file)) > 0;) score.append(piece, n);
    std::fclose(file);
  }
  MemoryHost host(FLAVOUR_EDITOR, score);
  auto session = std::make_unique<CompileSession>();
  double bestMs = std::numeric_limits<double>::infinity();
  double bestCpuMs = bestMs;
  for (auto _ : state) {
    host.messages.clear();
    host.transcript.clear();
    const double cpuStart = cpuMs();
    const auto start = std::chrono::steady_clock::now();
    host.prepare(*session, false);
    const int32_t result = compileSource(*session);
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    if (result != 0 || countOf(host.transcript, "size(64000 byte)") != CHANNEL_COUNT) {
      state.SkipWithError("not a complete compilation");
      break;
    }
    bestMs = std::min(bestMs, took.count());
    bestCpuMs = std::min(bestCpuMs, cpuMs() - cpuStart);
  }
  state.counters["best_ms"] = bestMs;
  state.counters["best_cpu_ms"] = bestCpuMs;
  state.SetItemsProcessed(state.iterations() * CHANNEL_COUNT * EVENTS_PER_CHANNEL);
}

// A score of about 1,000,000 characters in lines the editor would show.
std::vector<std::string> highlightScore() {
  static const char* const LINES[] = {
      "ch1 { \"l8 o4 c d e f g a b > c4. r8 {c e g}4 & c2\" } // melody",
      "  \"t120 v12 @5 $64 q7 c#8 d-8 e+16 f:24 n60 < a4 > b4 c2\"",
      "/* a block comment that runs on over the next line",
      "   and closes here */ ch2 { \"o3 l4 c e g > c < g e c2\" }",
      "op(q7def, autolr) cr(\"(c) composer\") sn(\"title of the song\")",
      "",
  };
  std::vector<std::string> lines;
  size_t characters = 0;
  for (size_t n = 0; characters < 1000000; ++n) {
    lines.emplace_back(LINES[n % (sizeof LINES / sizeof LINES[0])]);
    characters += lines.back().size() + 1;
  }
  return lines;
}

void highlightInEditor(benchmark::State& state) {
  const std::vector<std::string> lines = highlightScore();
  LineHighlighter highlighter;
  std::vector<DisplaySpan> spans;
  int64_t bytes = 0;
  for (const std::string& line : lines) bytes += static_cast<int64_t>(line.size()) + 1;
  for (auto _ : state) {
    DisplayLineState lineState;
    for (const std::string& line : lines) {
      lineState = highlighter.highlightLine(line, lineState, spans);
      benchmark::DoNotOptimize(spans.data());
    }
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(lines.size()));
}

void registerBenchmarks(const fs::path& dir) {
  struct Case {
    const char* name;
    const char* file;
    bool compiledData;
    int fullChannels;
  };
  static constexpr Case CASES[] = {
      {"reader/comments", COMMENT_SCORE, false, 0},
      {"reader/block_comments", BLOCK_COMMENT_SCORE, false, 0},
      {"reader/commands", COMMAND_SCORE, false, 0},
      {"compile/maximal_smf", MAXIMAL_SCORE, false, CHANNEL_COUNT},
      {"compile/maximal_fmd", MAXIMAL_FMD_SCORE, true, FMD_CHANNELS},
  };
  for (const Case& c : CASES) {
    benchmark::RegisterBenchmark(c.name, compileScore, dir / c.file, c.compiledData, c.fullChannels)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
  benchmark::RegisterBenchmark("compile/editor_smf", compileInEditor, dir / MAXIMAL_SCORE)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  benchmark::RegisterBenchmark("display/highlight_1M", highlightInEditor)
      ->Unit(benchmark::kMillisecond);
}

// Takes "--name=value" out of the arguments; empty when absent.
std::string takeFlag(int& argc, char** argv, std::string_view name) {
  std::string value;
  const std::string prefix = "--" + std::string(name) + "=";
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]).starts_with(prefix)) {
      value = argv[i] + prefix.size();
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  argv[argc] = nullptr;
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string generateDir = takeFlag(argc, argv, "tarv_generate");
  std::string dataDir = takeFlag(argc, argv, "tarv_data");
  if (!generateDir.empty()) {
    generateScores(generateDir);
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  std::string ownDir;
  if (dataDir.empty()) {
    std::string pattern = (fs::temp_directory_path() / "tarv_bench.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      return 2;
    }
    ownDir = dataDir = pattern;
    generateScores(dataDir);
  }
  registerBenchmarks(dataDir);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (!ownDir.empty()) fs::remove_all(ownDir);
  return 0;
}
