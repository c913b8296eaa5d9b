// Fuzzes the copy cut over arbitrary lines and modes: the cut is always a
// part of the line where the mode says, never more than the line.
#include <cstdint>
#include <cstring>
#include <string_view>

#include "copy_cut.h"
#include "fuzz_support.h"

using marlix::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  int mode;
  std::memcpy(&mode, data, sizeof mode);  // every int, not only 0, 1 and 2
  const std::string_view line(reinterpret_cast<const char*>(data) + 4, size - 4);
  // Today's lines: five digits and a space.
  const bool five = line.size() >= 6 && line.find_first_not_of("0123456789") == 5 && line[5] == ' ';
  const std::size_t code = five ? 5 : 7, address = five ? 6 : 8;

  for (int m : {mode, 0, 1, 2}) {
    const std::string_view cut = marlix::CutForCopy(line, m);
    Check(cut.size() <= line.size(), "the cut is longer than the line");
    Check(cut.empty() || (cut.data() >= line.data() && cut.data() + cut.size() <= line.data() + line.size()),
          "the cut lies outside the line");
    switch (m) {
      case marlix::kCopyPostcode:
        Check(cut.data() == line.data() && cut.size() == std::min<std::size_t>(line.size(), code), "code cut");
        break;
      case marlix::kCopyAddress:
        Check(line.size() <= address ? cut.empty() : cut == line.substr(address) && cut.data() == line.data() + address,
              "address cut");
        break;
      default:
        Check(cut.data() == line.data() && cut.size() == line.size(), "whole-line cut");
    }
  }
  // The code and the address with the separator between them are the line.
  if (line.size() > address) {
    Check(line.substr(0, code) == marlix::CutForCopy(line, 0) && line.substr(address) == marlix::CutForCopy(line, 1),
          "code and address do not make up the line");
  }
  return 0;
}
