#include "lsp/message_json.h"

using json = nlohmann::json;

ParsedMessage parseMessage(std::string_view body) {
  ParsedMessage parsed;
  // `depth` is the number of arrays and objects around the event's value; a value the callback
  // turns down is not built, nor is anything inside it.
  const json::parser_callback_t keep = [&parsed](int depth, json::parse_event_t event, json&) {
    const bool opens =
        event == json::parse_event_t::object_start || event == json::parse_event_t::array_start;
    if (!opens || depth < MESSAGE_NESTING_MAX) return true;
    parsed.tooDeep = true;
    return false;
  };
  parsed.message = json::parse(body.begin(), body.end(), keep, false);
  return parsed;
}
