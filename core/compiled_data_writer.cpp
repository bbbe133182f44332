#include "core/compiled_data_writer.h"

#include "core/diagnostics.h"

namespace {

constexpr uint8_t HEADER[16] = {'K', 'V', 'P', '0', '0', '0',  'K',  'V',
                                'C', '0', '0', '1', ' ', 0x00, 0x10, 0x00};
constexpr int32_t TABLE_ENTRIES = 16;
constexpr int32_t FIRST_OFFSET = 32;  // counted from the start of the table
constexpr int32_t OFFSET_MAX = 65535;

}  // namespace

int32_t writeCompiledData(CompileSession& session, OutputStream& out) {
  bool anyData = false;
  for (int32_t length : session.workLength) anyData = anyData || length != 0;
  if (!anyData && flavourOf(session) == FLAVOUR_CONSOLE) return 0;

  // The table holds 16-bit positions: refuse an image whose positions would not fit.
  uint8_t table[TABLE_ENTRIES * 2] = {};
  int32_t offset = FIRST_OFFSET;
  for (int32_t k = 0; k < CHANNEL_COUNT; ++k) {
    if (session.workLength[k] == 0) continue;
    if (offset > OFFSET_MAX) {
      session.host->messageLine(formatText(textsOf(session).compiledDataOver, OFFSET_MAX));
      diagnose(session, lineFreeDiagnostic(DIAGNOSTIC_COMPILED_DATA_OVER, OFFSET_MAX));
      return ERROR_OTHER;
    }
    table[k * 2] = static_cast<uint8_t>(offset);
    table[k * 2 + 1] = static_cast<uint8_t>(offset >> 8);
    offset += session.workLength[k] + 2;
  }

  static constexpr uint8_t END_MARK[2] = {EVENT_END, EVENT_END};
  out.write(HEADER, sizeof HEADER);
  out.write(table, sizeof table);
  for (int32_t k = 0; k < CHANNEL_COUNT; ++k) {
    if (session.workLength[k] == 0) continue;
    out.write(session.workArea[k], static_cast<size_t>(session.workLength[k]));
    out.write(END_MARK, sizeof END_MARK);
  }
  return 0;
}
