#include "hot_key.h"

#include <cstdio>

namespace marlix {

std::string HotKeyName(std::uint32_t setting) {
  const unsigned key = setting & 0xFF;
  const unsigned flags = (setting >> 8) & 0xFF;
  std::string name;
  if (flags & kHotKeyControl) name += "Ctrl+";
  if (flags & kHotKeyAlt) name += "Alt+";
  if (flags & kHotKeyShift) name += "Shift+";
  char text[16];
  constexpr unsigned kF1 = 0x70, kF24 = 0x87;
  if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z')) {
    std::snprintf(text, sizeof text, "%c", static_cast<char>(key));
  } else if (key >= kF1 && key <= kF24) {
    std::snprintf(text, sizeof text, "F%u", key - kF1 + 1);
  } else {
    std::snprintf(text, sizeof text, "0x%02X", key);
  }
  return name + text;
}

}  // namespace marlix
