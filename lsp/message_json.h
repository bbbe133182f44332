// A message body read as JSON with its nesting bounded. The parser itself keeps its own stack,
// but copies, comparisons and dump() of a JSON value recurse once a level, so a body nested a
// hundred thousand levels would overflow the server's stack in whatever touched it first.
#pragma once

#include <nlohmann/json.hpp>
#include <string_view>

// Arrays and objects nested deeper than this make a body too deep to take: no message of the
// protocol comes near it.
inline constexpr int MESSAGE_NESTING_MAX = 64;

struct ParsedMessage {
  nlohmann::json message;  // discarded when the body is no JSON
  // Arrays and objects nested deeper than MESSAGE_NESTING_MAX were left out of `message`, which
  // keeps what lies above them (a request's id and method, say) for the refusal.
  bool tooDeep = false;
};

ParsedMessage parseMessage(std::string_view body);
