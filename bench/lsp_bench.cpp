// Benchmarks of the language server through its own message handling (JSON in, JSON out, the
// output thrown away):
//
//   lsp/diagnostics_maximal  one character changed in the maximal score (nine channels of 32000
//                            notes), then its diagnostics: the compilation, the source map
//                            and the timing, the message
//   lsp/semantic_tokens_1M   semantic tokens of a score of 1,000,000 bytes: command lines,
//                            comments, block comments, header commands
//   lsp/semantic_tokens_delta_1M  one character changed in the middle of the 1,000,000-byte
//                            score, then the token delta from the last result (the bytes
//                            of the answer as a counter)
//   lsp/hover                hover on a note in the middle of the maximal score
//   lsp/inlay_hints_visible  inlay hints for 60 lines in the middle of the maximal score
//   lsp/code_actions         the code actions at a note of the maximal score
#include <benchmark/benchmark.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "lsp/language_server.h"

using json = nlohmann::json;

namespace {

constexpr int NOTES_PER_LINE = 32;
constexpr int LINES_PER_CHANNEL = 1000;  // 32000 notes: a full work area
constexpr size_t ONE_MEGABYTE = 1000000;
const std::string URI = "file:///nonexistent/bench.fms";

std::string maximalScore() {
  std::string score;
  for (int channel = 1; channel <= 9; ++channel) {
    score += "ch" + std::to_string(channel) + "{\n";
    for (int line = 0; line < LINES_PER_CHANNEL; ++line)
      score += "\"" + std::string(NOTES_PER_LINE, 'c') + "\"\n";
    score += "}\n";
  }
  return score;
}

std::string megabyteScore() {
  std::string score = "op(q7def)\ncr(\"bench\")\n";
  while (score.size() < ONE_MEGABYTE) {
    score += "ch1{ // melody\n";
    score += " \"t120 l8 o4 c d e f g a b > c4 r8 @3 v12 {c e g}4 c&c\"\n";
    score += "/* a block comment\n   over two lines */ \"q7 $64 n60\"\n";
    score += "}\n";
  }
  return score;
}

// The result id at the start of a semantic tokens answer.
std::string resultIdIn(const std::string& answer) {
  const std::string key = "\"resultId\":\"";
  const size_t start = answer.find(key) + key.size();
  return answer.substr(start, answer.find('"', start) - start);
}

std::string message(const json& m) {
  return m.dump();
}

class Server {
 public:
  // Keeps the start of the last message: enough to check it, without copying megabytes.
  Server()
      : server_([this](const std::string& body) {
          last = body.substr(0, PREFIX_BYTES);
          lastBytes = body.size();
        }) {
    server_.handleBatch({message({{"jsonrpc", "2.0"},
                                  {"id", 0},
                                  {"method", "initialize"},
                                  {"params", {{"capabilities", json::object()}}}})});
  }
  void open(const std::string& text) {
    server_.handleBatch({message(
        {{"jsonrpc", "2.0"},
         {"method", "textDocument/didOpen"},
         {"params", {{"textDocument", {{"uri", URI}, {"version", 1}, {"text", text}}}}}})});
    runDue();
  }
  void runDue() { server_.runPendingWork(LanguageServer::Clock::now() + std::chrono::hours(1)); }
  void handle(const json& m) { server_.handleBatch({message(m)}); }
  static constexpr size_t PREFIX_BYTES = 200;
  std::string last;
  size_t lastBytes = 0;

 private:
  LanguageServer server_;
};

json at(int line, int character) {
  return {{"line", line}, {"character", character}};
}

void diagnosticsMaximal(benchmark::State& state) {
  Server server;
  server.open(maximalScore());
  int version = 1;
  for (auto _ : state) {
    // A note of channel 5 becomes another note and back: the score stays maximal.
    const char* note = version % 2 == 1 ? "d" : "c";
    server.handle(
        {{"jsonrpc", "2.0"},
         {"method", "textDocument/didChange"},
         {"params",
          {{"textDocument", {{"uri", URI}, {"version", ++version}}},
           {"contentChanges",
            {{{"range", {{"start", at(4 * 1002 + 500, 10)}, {"end", at(4 * 1002 + 500, 11)}}},
              {"text", note}}}}}}});
    server.runDue();
    benchmark::DoNotOptimize(server.last);
  }
  if (server.last.find("\"diagnostics\":[]") == std::string::npos)
    state.SkipWithError("the maximal score did not compile cleanly");
}

void semanticTokens1M(benchmark::State& state) {
  Server server;
  server.open(megabyteScore());
  for (auto _ : state) {
    server.handle({{"jsonrpc", "2.0"},
                   {"id", 1},
                   {"method", "textDocument/semanticTokens/full"},
                   {"params", {{"textDocument", {{"uri", URI}}}}}});
    benchmark::DoNotOptimize(server.last);
  }
  if (server.last.find("\"data\":[0,0,") == std::string::npos) state.SkipWithError("no tokens");
}

void semanticTokensDelta1M(benchmark::State& state) {
  Server server;
  const std::string score = megabyteScore();
  server.open(score);
  server.handle({{"jsonrpc", "2.0"},
                 {"id", 1},
                 {"method", "textDocument/semanticTokens/full"},
                 {"params", {{"textDocument", {{"uri", URI}}}}}});
  std::string resultId = resultIdIn(server.last);
  // A note of a command line in the middle of the score: " \"t120 l8 o4 c d ...".
  int middle = static_cast<int>(std::count(score.begin(), score.end(), '\n') / 2);
  size_t lineStart = 0;
  for (int line = 0; line < middle; ++line) lineStart = score.find('\n', lineStart) + 1;
  while (score.compare(lineStart, 6, " \"t120") != 0) {
    lineStart = score.find('\n', lineStart) + 1;
    ++middle;
  }
  int version = 1;
  for (auto _ : state) {
    // The note becomes another and back.
    server.handle({{"jsonrpc", "2.0"},
                   {"method", "textDocument/didChange"},
                   {"params",
                    {{"textDocument", {{"uri", URI}, {"version", ++version}}},
                     {"contentChanges",
                      {{{"range", {{"start", at(middle, 13)}, {"end", at(middle, 14)}}},
                        {"text", version % 2 == 0 ? "d" : "c"}}}}}}});
    server.handle({{"jsonrpc", "2.0"},
                   {"id", 5},
                   {"method", "textDocument/semanticTokens/full/delta"},
                   {"params", {{"textDocument", {{"uri", URI}}}, {"previousResultId", resultId}}}});
    resultId = resultIdIn(server.last);
  }
  state.counters["bytes"] = static_cast<double>(server.lastBytes);
  if (server.last.find("\"edits\"") == std::string::npos) state.SkipWithError("no delta");
}

void hover(benchmark::State& state) {
  Server server;
  server.open(maximalScore());
  for (auto _ : state) {
    server.handle(
        {{"jsonrpc", "2.0"},
         {"id", 2},
         {"method", "textDocument/hover"},
         {"params", {{"textDocument", {{"uri", URI}}}, {"position", at(4 * 1002 + 500, 10)}}}});
    benchmark::DoNotOptimize(server.last);
  }
  if (server.last.find(" ticks)") == std::string::npos) state.SkipWithError("no hover text");
}

// A screen of lines: 60 strings, each ending where its channel stands.
void inlayHintsVisible(benchmark::State& state) {
  constexpr int VISIBLE_LINES = 60;
  Server server;
  server.open(maximalScore());
  const int first = 4 * 1002 + 500;
  for (auto _ : state) {
    server.handle(
        {{"jsonrpc", "2.0"},
         {"id", 3},
         {"method", "textDocument/inlayHint"},
         {"params",
          {{"textDocument", {{"uri", URI}}},
           {"range", {{"start", at(first, 0)}, {"end", at(first + VISIBLE_LINES, 0)}}}}}});
    benchmark::DoNotOptimize(server.last);
  }
  if (server.last.find("\"label\"") == std::string::npos) state.SkipWithError("no hints");
}

void codeActions(benchmark::State& state) {
  Server server;
  server.open(maximalScore());
  for (auto _ : state) {
    server.handle(
        {{"jsonrpc", "2.0"},
         {"id", 4},
         {"method", "textDocument/codeAction"},
         {"params",
          {{"textDocument", {{"uri", URI}}},
           {"range", {{"start", at(4 * 1002 + 500, 10)}, {"end", at(4 * 1002 + 500, 10)}}},
           {"context", {{"diagnostics", json::array()}}}}}});
    benchmark::DoNotOptimize(server.last);
  }
  if (server.last.find("tarvik.makeMidi") == std::string::npos) state.SkipWithError("no action");
}

}  // namespace

BENCHMARK(diagnosticsMaximal)->Name("lsp/diagnostics_maximal")->Unit(benchmark::kMillisecond);
BENCHMARK(semanticTokens1M)->Name("lsp/semantic_tokens_1M")->Unit(benchmark::kMillisecond);
BENCHMARK(semanticTokensDelta1M)
    ->Name("lsp/semantic_tokens_delta_1M")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(hover)->Name("lsp/hover")->Unit(benchmark::kMicrosecond);
BENCHMARK(inlayHintsVisible)->Name("lsp/inlay_hints_visible")->Unit(benchmark::kMicrosecond);
BENCHMARK(codeActions)->Name("lsp/code_actions")->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
