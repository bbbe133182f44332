#include "import/midi_reader.h"

#include <string>
#include <utility>

namespace {

constexpr int FORMAT_MAX = 1;  // format 2 holds independent patterns, no one score

// The reader's fault as the importer words it.
ImportMessage refusal(const SmfError& e) {
  const std::vector<std::string> where = {std::to_string(e.track), std::to_string(e.offset)};
  switch (e.fault) {
    case SmfFault::None:
    case SmfFault::NotSmf:
      return {ImportText::NotSmf, {}};
    case SmfFault::HeaderShort:
      return {ImportText::BadHeaderLength, {}};
    case SmfFault::UnknownFormat:
      return {ImportText::UnreadableFormat, {std::to_string(e.format)}};
    case SmfFault::SmpteDivision:
      return {ImportText::SmpteDivision, {}};
    case SmfFault::ZeroDivision:
      return {ImportText::ZeroDivision, {}};
    case SmfFault::HeaderCut:
    case SmfFault::FileEndsInTrack:
    case SmfFault::EventCut:
      return {ImportText::CutShort, {}};
    case SmfFault::LengthTooLong:
      return {ImportText::BadVariableLength, where};
    case SmfFault::DataWithoutStatus:
    case SmfFault::SystemMessage:
    case SmfFault::StatusInsideEvent:
      return {ImportText::BadStatusByte, where};
  }
  return {ImportText::NotSmf, {}};
}

}  // namespace

bool readMidiFile(const uint8_t* data, size_t size, MidiFile& file, ImportMessage& error) {
  file = MidiFile();
  SmfReader reader;
  SmfError fault;
  if (!reader.open(data, size, fault)) {
    error = refusal(fault);
    return false;
  }
  if (reader.format() > FORMAT_MAX) {
    error = {ImportText::UnreadableFormat, {std::to_string(reader.format())}};
    return false;
  }
  if (reader.tracksNamed() == 0) {
    error = {ImportText::NoTracks, {}};
    return false;
  }
  file.format = reader.format();
  file.division = reader.division();
  file.tracksNamed = reader.tracksNamed();
  while (reader.nextTrack(fault)) {
    MidiTrack& track = file.tracks.emplace_back();
    MidiEvent event;
    while (reader.nextEvent(event, fault)) track.events.push_back(event);
    if (fault.fault != SmfFault::None) break;
    track.endTick = reader.trackEnd();
  }
  if (fault.fault != SmfFault::None) {
    error = refusal(fault);
    return false;
  }
  file.runningAfterSpecial = reader.runningAfterSpecial();
  return true;
}
