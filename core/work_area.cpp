#include "core/work_area.h"

#include <cstdio>
#include <string>

namespace {

int32_t store(CompileSession& session, int32_t code, int32_t value) {
  const int32_t k = channelIndex(session.openChannel);
  int32_t& length = session.workLength[k];
  if (length >= WORK_AREA_LIMIT) return -1;
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
  if (code < 0 || code > 255 || value < 0 || value > 255) return -1;
  if (!channelOpen(session)) return -1;
  return store(session, code, value);
}

int32_t appendTimedEvent(CompileSession& session, int32_t semitone, int32_t lengthIndex) {
  if (!channelOpen(session)) return -1;
  if (lengthIndex < 0 || lengthIndex > 15) return -1;
  const int32_t k = channelIndex(session.openChannel);
  if (session.workLength[k] >= WORK_AREA_LIMIT) {
    if (flavourOf(session) == FLAVOUR_EDITOR) {
      session.host->messageLine(" -> ch" + std::to_string(session.openChannel) +
                                "が 確保領域:" + std::to_string(WORK_AREA_LIMIT) + "byteを越えた");
    } else {
      char line[64];
      int n =
          std::snprintf(line, sizeof line, " -> ch%d  workarea over.(Max %dbyte)",
                        static_cast<int>(session.openChannel), static_cast<int>(WORK_AREA_LIMIT));
      session.host->messageLine(std::string_view(line, static_cast<size_t>(n)));
    }
    return -1;
  }
  const int32_t code = semitone == 0 ? 0 : semitone + 12 * session.octave[k];
  return store(session, code, LENGTH_TICKS[lengthIndex]);
}
