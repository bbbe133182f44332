// One fuzz case: how the fuzzer's bytes become a compilation, and the properties every
// compilation must keep whatever its source. Shared by the fuzzer and the regression test.
//
// Input layout: the first byte selects the run, the rest is the source.
//   bit 0     editor flavour (the source split into editor lines), else console (a byte stream)
//   bit 1     compiled-data mode, else MIDI file
//   bits 2..7 console flavour: the largest piece the host hands out per read (0: all at once),
//             so line ends and length limits also fall across read boundaries
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/source_map.h"
#include "tests/support/memory_host.h"
#include "tests/support/source_map_check.h"

namespace fuzzing {

inline constexpr uint8_t SELECT_EDITOR = 1;
inline constexpr uint8_t SELECT_COMPILED_DATA = 2;
inline constexpr uint8_t SELECT_MODES = SELECT_EDITOR | SELECT_COMPILED_DATA;

using Bytes = std::vector<uint8_t>;

// A variable-length quantity of at most four bytes; false when it runs past `end`.
inline bool readVarLen(const Bytes& b, size_t& pos, size_t end, uint32_t& value) {
  value = 0;
  for (int i = 0; i < 4; ++i) {
    if (pos >= end) return false;
    const uint8_t byte = b[pos++];
    value = (value << 7) | (byte & 0x7F);
    if ((byte & 0x80) == 0) return true;
  }
  return false;
}

inline uint32_t bigEndian(const Bytes& b, size_t pos, int size) {
  uint32_t value = 0;
  for (int i = 0; i < size; ++i) value = (value << 8) | b[pos + i];
  return value;
}

// One MTrk body [pos, end): delta/event pairs closed by End of Track as the very last bytes;
// channel events carry `channel` in their status byte (-1: none allowed, the conductor track).
inline std::string checkTrack(const Bytes& b, size_t pos, size_t end, int channel) {
  uint8_t running = 0;
  for (;;) {
    uint32_t value = 0;
    if (!readVarLen(b, pos, end, value)) return "delta time runs off the track";
    if (pos >= end) return "track ends behind a delta time";
    const uint8_t lead = b[pos];
    if (lead == 0xFF || lead == 0xF0 || lead == 0xF7) {
      const bool meta = lead == 0xFF;
      if (meta && pos + 1 >= end) return "meta event runs off the track";
      const uint8_t type = meta ? b[pos + 1] : 0;
      pos += meta ? 2 : 1;
      if (!readVarLen(b, pos, end, value) || value > end - pos) {
        return "meta or sysex event runs off the track";
      }
      pos += value;
      running = 0;  // meta and sysex events cancel running status
      if (meta && type == 0x2F) {
        return value == 0 && pos == end ? "" : "End of Track is not the last event";
      }
      continue;
    }
    if (lead >= 0x80) {
      if (lead >= 0xF0) return "system status byte in a track";
      running = lead;
      ++pos;
    } else if (running == 0) {
      return "data byte without a running status";
    }
    if ((running & 0x0F) != channel) return "channel event on the wrong channel";
    const int dataBytes = (running & 0xF0) == 0xC0 || (running & 0xF0) == 0xD0 ? 1 : 2;
    for (int i = 0; i < dataBytes; ++i) {
      if (pos >= end) return "channel event runs off the track";
      if (b[pos++] >= 0x80) return "channel event data byte above 127";
    }
  }
}

// A Standard MIDI File: format 1, 480 ticks per quarter, a conductor track and one track per
// used channel in channel order; no used channel gives an empty file.
inline std::string checkMidiFile(const Bytes& b, const CompileSession& session) {
  std::vector<int> channels;
  for (int k = 0; k < CHANNEL_COUNT; ++k) {
    if (session.workLength[k] != 0) channels.push_back(k + 1);
  }
  if (channels.empty()) return b.empty() ? "" : "no used channel but a non-empty MIDI file";
  if (b.size() < 14 || Bytes(b.begin(), b.begin() + 4) != Bytes{'M', 'T', 'h', 'd'} ||
      bigEndian(b, 4, 4) != 6 || bigEndian(b, 8, 2) != 1 ||
      bigEndian(b, 10, 2) != channels.size() + 1 || bigEndian(b, 12, 2) != 480) {
    return "bad MThd chunk";
  }
  size_t pos = 14;
  for (size_t track = 0; track <= channels.size(); ++track) {
    if (b.size() - pos < 8 ||
        Bytes(b.begin() + pos, b.begin() + pos + 4) != Bytes{'M', 'T', 'r', 'k'}) {
      return "missing MTrk chunk";
    }
    const uint32_t length = bigEndian(b, pos + 4, 4);
    pos += 8;
    if (length > b.size() - pos) return "MTrk length runs past the file";
    const std::string fault =
        checkTrack(b, pos, pos + length, track == 0 ? -1 : channels[track - 1]);
    if (!fault.empty()) return "track " + std::to_string(track) + ": " + fault;
    pos += length;
  }
  return pos == b.size() ? "" : "bytes behind the last track";
}

// A compiled-data image: magic, a 16-entry table of channel positions counted from the table,
// then each used channel's events followed by FF FF.
inline std::string checkCompiledData(const Bytes& b, const CompileSession& session) {
  bool any = false;
  for (int32_t length : session.workLength) any = any || length != 0;
  if (!any && flavourOf(session) == FLAVOUR_CONSOLE) {
    return b.empty() ? "" : "no used channel but a non-empty image";
  }
  static const std::string MAGIC = "KVP000KVC001";
  if (b.size() < 48 || std::string(b.begin(), b.begin() + 12) != MAGIC) return "bad image header";
  size_t offset = 32;
  for (int k = 0; k < 16; ++k) {
    const uint32_t entry = b[16 + 2 * k] | (b[17 + 2 * k] << 8);
    const int32_t length = k < CHANNEL_COUNT ? session.workLength[k] : 0;
    if (length == 0) {
      if (entry != 0) return "table entry of an unused channel";
      continue;
    }
    if (entry != offset) return "table entry does not point at the channel's events";
    const size_t start = 16 + offset;
    if (start + length + 2 > b.size()) return "channel events run past the image";
    for (size_t i = start; i < start + length; i += 2) {
      const uint8_t code = b[i], value = b[i + 1];
      const bool valid = code <= EVENT_NOTE_LAST || (code == EVENT_PAN && value <= 127) ||
                         (code == EVENT_GATE && value <= 7) || (code == EVENT_TIE && value == 0) ||
                         (code == EVENT_TEMPO && value >= 10 && value <= 250) ||
                         (code == EVENT_VELOCITY && value <= 16) ||
                         (code == EVENT_PROGRAM && value <= 127);
      if (!valid) return "invalid event in channel " + std::to_string(k + 1);
    }
    if (b[start + length] != EVENT_END || b[start + length + 1] != EVENT_END) {
      return "channel events not closed by FF FF";
    }
    offset += length + 2;
  }
  return offset + 16 == b.size() ? "" : "image size does not match its table";
}

// What must hold after any compilation.
inline std::string checkCompilation(const MemoryCompile& c, int32_t result) {
  const CompileSession& s = c.session;
  const bool namedCode =
      result == -1 || result == 0 || result == 1 || (result >= 10 && result <= 27) || result == 999;
  if (!namedCode) return "unexpected result code " + std::to_string(result);
  for (int k = 0; k < CHANNEL_COUNT; ++k) {
    if (s.workArea[k] != nullptr) return "work area not released";
    if (s.workLength[k] < 0 || s.workLength[k] > WORK_AREA_LIMIT || s.workLength[k] % 2 != 0) {
      return "work length out of range";
    }
  }
  for (int32_t i = LINE_BUFFER_BYTES + 1; i < LINE_BUFFER_STORAGE; ++i) {
    if (s.lineBuffer[i] != 0) return "line buffer guard byte overwritten";
  }
  if (s.lineCursor < 0 || s.lineCursor > LINE_BUFFER_BYTES) return "line cursor out of range";
  if (result == 0) {
    if ((s.hasCopyright && s.copyrightLength > COPYRIGHT_MAX) ||
        (s.hasSequenceName && s.sequenceNameLength > SEQUENCE_NAME_MAX)) {
      return "header text over its limit after a clean compilation";
    }
    if (!c.host.outputKept) return "clean compilation kept no output";
  }
  if (!c.host.outputKept || (result != 0 && !s.compiledDataMode)) return "";
  return s.compiledDataMode ? checkCompiledData(c.host.kept, s) : checkMidiFile(c.host.kept, s);
}

// Runs the input as one compilation; the broken property, or "" when all hold. The same
// compilation then runs again recording the source map, as the editor's host asks: it must
// write and say exactly what the first did, and its map keep the map's properties
// (tests/support/source_map_check.h).
inline std::string runFuzzInput(const uint8_t* data, size_t size, int32_t* result = nullptr) {
  if (size == 0) return "";
  const uint8_t select = data[0];
  const Flavour flavour = (select & SELECT_EDITOR) != 0 ? FLAVOUR_EDITOR : FLAVOUR_CONSOLE;
  const std::string source(reinterpret_cast<const char*>(data) + 1, size - 1);
  const auto compile = [&](SourceMap* map) {
    auto c = std::make_unique<MemoryCompile>(flavour, source, (select & SELECT_COMPILED_DATA) != 0);
    if (const int32_t piece = select >> 2; piece != 0) c->host.readChunk = piece;
    c->host.sourceMapStorage = map;
    return c;
  };
  auto plain = compile(nullptr);
  const int32_t code = plain->run();
  if (result != nullptr) *result = code;
  if (std::string fault = checkCompilation(*plain, code); !fault.empty()) return fault;

  auto map = std::make_unique<SourceMap>();
  auto mapped = compile(map.get());
  if (mapped->run() != code || mapped->host.transcript != plain->host.transcript ||
      mapped->host.outputKept != plain->host.outputKept || mapped->host.kept != plain->host.kept) {
    return "recording the source map changed the compilation";
  }
  const std::string fault = testing_support::checkSourceMap(
      testing_support::quotedStretches(source, *map, flavour), *map);
  return fault.empty() ? "" : "source map: " + fault;
}

}  // namespace fuzzing
