// import/midi_1MB: the MIDI importer on a Standard MIDI File of about 1 MB and 100,000 notes
// (format 1, 480 ticks a quarter, running status for the note-ons): six melodic channels, the
// first two with lines that overlap now and then (so they split into two voices each), a drum
// channel of hits that fall together, off-grid notes, program, pan and tempo changes. The whole
// import is timed: reading, voices, layout and the score text in code page 932; best_ms and
// best_cpu_ms carry the fastest single run.
// import/midi_played_1.4MB: a file as the world writes them, about 1.4 MB and 172,800 notes:
// sixteen tracks, one a MIDI channel (the drums on 10), played timing (onsets a few ticks beside
// the beat, notes a little short or held into the next), a velocity of its own for every note,
// and controllers (expression, modulation, the sustain pedal, pitch bends) between the notes.
// With TARV_IMPORT_BENCH_FILE set, the file is also written there, for other programs to read.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "import/midi_import.h"

namespace {

constexpr int NOTES = 118000;
constexpr int CHANNELS = 7;  // MIDI channels 0..5 and the drums on 9
constexpr int QUARTER = 480;

double cpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

void varLen(std::string& out, uint32_t value) {
  std::string groups(1, static_cast<char>(value & 0x7F));
  while ((value >>= 7) != 0)
    groups.insert(groups.begin(), static_cast<char>(0x80 | (value & 0x7F)));
  out += groups;
}

void be32(std::string& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out += static_cast<char>(v >> s);
}

struct Timed {
  uint32_t tick;
  int order;  // note-offs before note-ons at one tick
  std::string bytes;
};

std::string track(std::vector<Timed> events) {
  std::stable_sort(events.begin(), events.end(), [](const Timed& a, const Timed& b) {
    return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
  });
  std::string body;
  uint32_t last = 0;
  uint8_t running = 0;
  for (const Timed& e : events) {
    varLen(body, e.tick - last);
    last = e.tick;
    const uint8_t status = static_cast<uint8_t>(e.bytes[0]);
    body += status == running ? e.bytes.substr(1) : e.bytes;
    running = status < 0xF0 ? status : 0;
  }
  body += std::string("\x00\xFF\x2F\x00", 4);
  std::string out = "MTrk";
  be32(out, static_cast<uint32_t>(body.size()));
  return out + body;
}

std::string largeFile() {
  std::mt19937 random(2026);
  auto pick = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  std::vector<Timed> conductor = {{0, 0, "\xFF\x58\x04\x04\x02\x18\x08"}};
  for (uint32_t t = 0; t < 5000u * QUARTER; t += 64 * QUARTER) {
    const uint32_t micros = 400000 + static_cast<uint32_t>(pick(0, 200000));
    conductor.push_back({t, 0,
                         std::string("\xFF\x51\x03", 3) + static_cast<char>(micros >> 16) +
                             static_cast<char>(micros >> 8) + static_cast<char>(micros)});
  }
  std::string file = "MThd";
  be32(file, 6);
  file += std::string("\x00\x01\x00", 3) + static_cast<char>(CHANNELS + 1) + "\x01\xE0";
  file += track(conductor);
  for (int c = 0; c < CHANNELS; ++c) {
    const int channel = c == CHANNELS - 1 ? 9 : c;
    std::vector<Timed> events = {
        {0, 1, {static_cast<char>(0xC0 | channel), static_cast<char>(pick(0, 127))}},
        {0, 1, {static_cast<char>(0xB0 | channel), 10, static_cast<char>(pick(0, 127))}}};
    uint32_t tick = 0;
    char velocity = 0;
    for (int n = 0; n < NOTES / CHANNELS; ++n) {
      // Phrases of 16 notes at one velocity, as players and sequencers write them: a velocity
      // of its own for every note would need a level change before each and take a channel
      // past the 32000 events it can hold.
      if (n % 16 == 0) velocity = static_cast<char>(pick(40, 120));
      const uint32_t length = static_cast<uint32_t>(QUARTER / 4 * pick(1, 4));
      const bool overlaps = channel < 2 && n % 7 == 0;
      const uint32_t off = tick + length + (overlaps ? length : 0) - (n % 11 == 0 ? 3 : 0);
      const char key = static_cast<char>(channel == 9 ? pick(35, 51) : pick(40, 90));
      events.push_back({tick, 1, {static_cast<char>(0x90 | channel), key, velocity}});
      events.push_back({off, 0, {static_cast<char>(0x80 | channel), key, 64}});
      tick += channel == 9 && n % 16 == 0 ? 0 : length;
    }
    file += track(events);
  }
  return file;
}

constexpr int PLAYED_TRACKS = 16;
constexpr int PLAYED_NOTES = 172800;
constexpr int CONTROLLER_EVERY = 8;  // notes between controller messages

std::string playedFile() {
  std::mt19937 random(2027);
  auto pick = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  std::vector<Timed> conductor = {{0, 0, "\xFF\x58\x04\x04\x02\x18\x08"},
                                  {0, 0, std::string("\xFF\x51\x03\x07\xA1\x20", 6)}};
  std::string file = "MThd";
  be32(file, 6);
  file += std::string("\x00\x01\x00", 3) + static_cast<char>(PLAYED_TRACKS + 1) + "\x01\xE0";
  file += track(conductor);
  for (int channel = 0; channel < PLAYED_TRACKS; ++channel) {
    const char status = static_cast<char>(channel);
    std::vector<Timed> events = {{0, 1, {static_cast<char>(0xC0 | channel), status}},
                                 {0, 1, {static_cast<char>(0xB0 | channel), 7, 100}}};
    uint32_t beat = QUARTER;
    for (int n = 0; n < PLAYED_NOTES / PLAYED_TRACKS; ++n) {
      const uint32_t length = static_cast<uint32_t>(QUARTER / 2 * pick(1, 3));
      const uint32_t on = beat + static_cast<uint32_t>(pick(-7, 7));
      const uint32_t off = beat + length + static_cast<uint32_t>(pick(-40, 9));  // legato or short
      const char key =
          static_cast<char>(channel == 9 ? pick(35, 51) : pick(36 + channel, 72 + channel));
      const char velocity = static_cast<char>(pick(50, 110));
      events.push_back({on, 1, {static_cast<char>(0x90 | channel), key, velocity}});
      events.push_back({off, 0, {static_cast<char>(0x90 | channel), key, 0}});  // running status
      if (n % CONTROLLER_EVERY == 0) {
        const char value = static_cast<char>(pick(0, 127));
        const char controller = static_cast<char>(n % 3 == 0 ? 11 : n % 3 == 1 ? 1 : 64);
        events.push_back({on + 5, 1, {static_cast<char>(0xB0 | channel), controller, value}});
        events.push_back({on + 9, 1, {static_cast<char>(0xE0 | channel), 0, value}});
      }
      beat += length;
    }
    file += track(events);
  }
  if (const char* path = std::getenv("TARV_IMPORT_BENCH_FILE")) {
    if (FILE* out = std::fopen(path, "wb")) {
      std::fwrite(file.data(), 1, file.size(), out);
      std::fclose(out);
    }
  }
  return file;
}

void importFile(benchmark::State& state, const std::string& file) {
  double bestMs = std::numeric_limits<double>::infinity();
  double bestCpuMs = bestMs;
  int notes = 0;
  for (auto _ : state) {
    const double cpuStart = cpuMs();
    const auto start = std::chrono::steady_clock::now();
    const ImportResult result = importMidi(reinterpret_cast<const uint8_t*>(file.data()),
                                           file.size(), ScoreEncoding::Cp932);
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    if (!result.ok) {
      const std::string reason = formatImportMessage(result.error, ImportLanguage::English);
      state.SkipWithError(reason.c_str());
      break;
    }
    notes = result.notes;
    bestMs = std::min(bestMs, took.count());
    bestCpuMs = std::min(bestCpuMs, cpuMs() - cpuStart);
  }
  state.counters["best_ms"] = bestMs;
  state.counters["best_cpu_ms"] = bestCpuMs;
  state.counters["bytes"] = static_cast<double>(file.size());
  state.counters["notes"] = notes;
}

}  // namespace

void importLargeFile(benchmark::State& state) {
  importFile(state, largeFile());
}

void importPlayedFile(benchmark::State& state) {
  importFile(state, playedFile());
}

BENCHMARK(importLargeFile)->Name("import/midi_1MB")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(importPlayedFile)
    ->Name("import/midi_played_1.4MB")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_MAIN();
