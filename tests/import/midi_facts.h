// The tests' own reading of a Standard MIDI File, independent of the importer's reader: what a
// listener hears, as comparable lists. Notes are (channel, key, on, off, velocity); programs and
// pans are the changes of each channel's value (the last of several at one tick, only those
// that change it, programs starting at 0); tempos are the conductor track's changes, likewise,
// starting at 500000 microseconds a quarter.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace import_testing {

using Note = std::tuple<int, int, int64_t, int64_t, int>;
using Change = std::tuple<int, int64_t, int>;  // channel (-1 for tempo), tick, value

struct MidiFacts {
  bool readable = false;
  int division = 0;
  std::vector<Note> notes;
  std::vector<Change> programs, pans, tempos;
};

inline uint32_t readVarLen(const std::string& d, size_t& p) {
  uint32_t v = 0;
  while (p < d.size()) {
    const uint8_t b = static_cast<uint8_t>(d[p++]);
    v = (v << 7) | (b & 0x7F);
    if (!(b & 0x80)) break;
  }
  return v;
}

inline std::vector<Change> changesOnly(std::vector<Change> raw, bool fromZero, int start) {
  std::stable_sort(raw.begin(), raw.end(), [](const Change& a, const Change& b) {
    return std::tie(std::get<0>(a), std::get<1>(a)) < std::tie(std::get<0>(b), std::get<1>(b));
  });
  std::vector<Change> lastAtTick;
  for (const Change& c : raw) {
    if (!lastAtTick.empty() && std::get<0>(lastAtTick.back()) == std::get<0>(c) &&
        std::get<1>(lastAtTick.back()) == std::get<1>(c)) {
      lastAtTick.pop_back();
    }
    lastAtTick.push_back(c);
  }
  std::vector<Change> result;
  std::map<int, int> current;
  for (const Change& c : lastAtTick) {
    auto found = current.find(std::get<0>(c));
    const int now = found != current.end() ? found->second : (fromZero ? start : -1);
    if (std::get<2>(c) == now) continue;
    current[std::get<0>(c)] = std::get<2>(c);
    result.push_back(c);
  }
  return result;
}

inline MidiFacts readFacts(const std::string& d) {
  MidiFacts f;
  if (d.size() < 14 || d.compare(0, 4, "MThd") != 0) return f;
  auto be = [&](size_t p, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | static_cast<uint8_t>(d[p + i]);
    return v;
  };
  f.division = static_cast<int>(be(12, 2));
  std::vector<Change> programs, pans, tempos;
  size_t pos = 14;
  for (int track = 0; pos + 8 <= d.size(); ++track) {
    const size_t end = pos + 8 + be(pos + 4, 4);
    if (end > d.size()) return f;
    size_t p = pos + 8;
    int64_t tick = 0;
    uint8_t running = 0;
    std::map<int, std::deque<std::pair<int64_t, int>>> open;
    while (p < end) {
      tick += readVarLen(d, p);
      uint8_t status = static_cast<uint8_t>(d[p]);
      if (status >= 0x80)
        ++p;
      else
        status = running;
      if (status == 0xFF) {
        const uint8_t type = static_cast<uint8_t>(d[p++]);
        const uint32_t n = readVarLen(d, p);
        if (type == 0x51 && track == 0) tempos.push_back({-1, tick, static_cast<int>(be(p, 3))});
        p += n;
        continue;
      }
      if (status == 0xF0 || status == 0xF7) {
        p += readVarLen(d, p);
        continue;
      }
      running = status;
      const int channel = status & 0x0F;
      const int kind = status & 0xF0;
      const int a = static_cast<uint8_t>(d[p++]);
      const int b = (kind == 0xC0 || kind == 0xD0) ? 0 : static_cast<uint8_t>(d[p++]);
      if (kind == 0x90 && b > 0) {
        open[channel * 128 + a].push_back({tick, b});
      } else if (kind == 0x80 || kind == 0x90) {
        auto& q = open[channel * 128 + a];
        if (q.empty()) continue;  // a rest of the compiled file
        f.notes.emplace_back(channel, a, q.front().first, tick, q.front().second);
        q.pop_front();
      } else if (kind == 0xC0) {
        programs.push_back({channel, tick, a});
      } else if (kind == 0xB0 && a == 10) {
        pans.push_back({channel, tick, b});
      }
    }
    pos = end;
  }
  std::sort(f.notes.begin(), f.notes.end());
  f.programs = changesOnly(programs, true, 0);
  f.pans = changesOnly(pans, false, 0);
  f.tempos = changesOnly(tempos, true, 500000);
  f.readable = true;
  return f;
}

}  // namespace import_testing
