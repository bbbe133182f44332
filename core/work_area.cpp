#include "core/work_area.h"

#include "core/diagnostics.h"

namespace {

int32_t store(CompileSession& session, int32_t code, int32_t value) {
  const int32_t k = channelIndex(session.openChannel);
  int32_t& length = session.workLength[k];
  if (length >= WORK_AREA_LIMIT) {
    session.fullChannel = session.openChannel;
    return -1;
  }
  session.workArea[k][length] = static_cast<uint8_t>(code);
  session.workArea[k][length + 1] = static_cast<uint8_t>(value);
  length += 2;
  return 0;
}

bool channelOpen(const CompileSession& session) {
  return session.openChannel >= 1 && session.openChannel <= CHANNEL_COUNT &&
         session.workArea[channelIndex(session.openChannel)] != nullptr;
}

}  // namespace

int32_t appendEvent(CompileSession& session, int32_t code, int32_t value) {
  if (code < 0 || code > BYTE_MAX || value < 0 || value > BYTE_MAX) return -1;
  if (!channelOpen(session)) return -1;
  return store(session, code, value);
}

int32_t appendTimedEvent(CompileSession& session, int32_t semitone, int32_t lengthIndex) {
  if (!channelOpen(session)) return -1;
  if (lengthIndex < 0 || lengthIndex >= LENGTH_INDEX_COUNT) return -1;
  const int32_t k = channelIndex(session.openChannel);
  if (session.workLength[k] >= WORK_AREA_LIMIT) {
    session.host->messageLine(formatText(textsOf(session).channelOverflow,
                                         static_cast<int>(session.openChannel),
                                         static_cast<int>(WORK_AREA_LIMIT)));
    session.fullChannel = session.openChannel;
    return -1;
  }
  const int32_t code =
      semitone == 0 ? EVENT_REST : semitone + SEMITONES_PER_OCTAVE * session.octave[k];
  return store(session, code, LENGTH_TICKS[lengthIndex]);
}
