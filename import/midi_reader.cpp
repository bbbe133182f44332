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

bool readMidiEvents(const uint8_t* data, size_t size, MidiEventSink& sink, MidiFileFacts& facts,
                    ImportMessage& error) {
  facts = MidiFileFacts();
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
  facts.format = reader.format();
  facts.division = reader.division();
  facts.tracksNamed = reader.tracksNamed();
  while (reader.nextTrack(fault)) {
    sink.beginTrack(static_cast<size_t>(reader.tracksRead() - 1));
    MidiEvent event;
    while (reader.nextEvent(event, fault)) sink.event(event);
    if (fault.fault != SmfFault::None) break;
    sink.endTrack(reader.trackEnd());
  }
  if (fault.fault != SmfFault::None) {
    error = refusal(fault);
    return false;
  }
  facts.tracksHeld = reader.tracksRead();
  facts.runningAfterSpecial = reader.runningAfterSpecial();
  return true;
}

namespace {

// Keeps every event, track by track.
class EventList : public MidiEventSink {
 public:
  explicit EventList(MidiFile& file) : file_(file) {}
  void beginTrack(size_t) override { file_.tracks.emplace_back(); }
  void event(const MidiEvent& e) override { file_.tracks.back().events.push_back(e); }
  void endTrack(int64_t endTick) override { file_.tracks.back().endTick = endTick; }

 private:
  MidiFile& file_;
};

}  // namespace

bool readMidiFile(const uint8_t* data, size_t size, MidiFile& file, ImportMessage& error) {
  file = MidiFile();
  EventList list(file);
  MidiFileFacts facts;
  if (!readMidiEvents(data, size, list, facts, error)) return false;
  file.format = facts.format;
  file.division = facts.division;
  file.tracksNamed = facts.tracksNamed;
  file.runningAfterSpecial = facts.runningAfterSpecial;
  return true;
}
