// Hand-made Standard MIDI Files for the importer's tests: tracks of timed events, written with
// a status byte on every event.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace import_testing {

struct TimedBytes {
  int64_t tick;
  std::string bytes;  // status and data, or FF type length data
};

class SmfBuilder {
 public:
  SmfBuilder(int format, int division) : format_(format), division_(division) {}

  SmfBuilder& track() {
    tracks_.emplace_back();
    return *this;
  }
  SmfBuilder& event(int64_t tick, std::initializer_list<int> bytes) {
    std::string b;
    for (int v : bytes) b += static_cast<char>(v);
    tracks_.back().push_back({tick, b});
    return *this;
  }
  SmfBuilder& note(int channel, int key, int64_t on, int64_t off, int velocity = 79) {
    event(on, {0x90 | channel, key, velocity});
    return event(off, {0x80 | channel, key, 0});
  }
  SmfBuilder& meta(int64_t tick, int type, const std::string& data) {
    tracks_.back().push_back(
        {tick,
         std::string{'\xFF', static_cast<char>(type), static_cast<char>(data.size())} + data});
    return *this;
  }

  std::string bytes() const {
    std::string out = "MThd";
    be(out, 6, 4);
    be(out, format_, 2);
    be(out, static_cast<uint32_t>(tracks_.size()), 2);
    be(out, division_, 2);
    for (std::vector<TimedBytes> events : tracks_) {
      std::stable_sort(events.begin(), events.end(),
                       [](const TimedBytes& a, const TimedBytes& b) { return a.tick < b.tick; });
      std::string body;
      int64_t last = 0;
      for (const TimedBytes& e : events) {
        varLen(body, static_cast<uint32_t>(e.tick - last));
        body += e.bytes;
        last = e.tick;
      }
      body += std::string("\x00\xFF\x2F\x00", 4);
      out += "MTrk";
      be(out, static_cast<uint32_t>(body.size()), 4);
      out += body;
    }
    return out;
  }

 private:
  static void be(std::string& out, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  }
  static void varLen(std::string& out, uint32_t value) {
    std::string groups(1, static_cast<char>(value & 0x7F));
    while ((value >>= 7) != 0)
      groups.insert(groups.begin(), static_cast<char>(0x80 | (value & 0x7F)));
    out += groups;
  }

  int format_;
  int division_;
  std::vector<std::vector<TimedBytes>> tracks_;
};

}  // namespace import_testing
