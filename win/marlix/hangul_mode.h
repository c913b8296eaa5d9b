// When a search-term field gets the focus, the input method is switched to
// Hangul so that a district or building name can be typed at once.
#pragma once

#include <optional>

namespace marlix {

inline constexpr unsigned long kConversionNative = 1;  // IME_CMODE_NATIVE: Hangul input

// The conversion mode to set on focus, if any. Only plain alphanumeric input
// (mode exactly 0) is switched; any other mode, full-shape alphanumeric
// included, and a status that could not be read, stay as the user left them.
constexpr std::optional<unsigned long> HangulModeOnFocus(bool status_read, unsigned long conversion) {
  if (!status_read || conversion != 0) return std::nullopt;
  return kConversionNative;
}

}  // namespace marlix
