// Code page 932 text for display.
#pragma once

#include <string>
#include <string_view>

// Converts code-page-932 bytes to UTF-8 for display. Bytes that do not decode are shown as
// U+FFFD, one per byte, so the display keeps one mark per undecodable byte.
std::string cp932ToDisplay(std::string_view bytes);
