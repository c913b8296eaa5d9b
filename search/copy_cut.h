// The part of a result line that goes to the clipboard, by copy mode.
#pragma once

#include <string_view>

namespace marlix {

enum CopyMode : int { kCopyPostcode = 0, kCopyAddress = 1, kCopyWholeLine = 2 };

// Mode 0: the first 7 bytes (the postal code); 1: from byte 8 on (the address);
// any other value: the whole line. Bytes are counted, not characters.
constexpr std::string_view CutForCopy(std::string_view line, int mode) {
  switch (mode) {
    case kCopyPostcode: return line.substr(0, 7);
    case kCopyAddress: return line.size() > 8 ? line.substr(8) : std::string_view();
    default: return line;
  }
}

}  // namespace marlix
