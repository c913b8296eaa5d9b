// What the publisher reads of a Windows program before it is released: that
// it is one, and its version resource.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "manifest.h"

namespace marlix::publish {

struct ProgramVersion {
  marlix::FileVersion number{};  // the fixed file version, as the programs compare it
  std::string text;              // the FileVersion string, as the program names itself ("1.0")
};

// Nothing, and `why` set, when `bytes` are not a Windows executable ("MZ" and
// a "PE\0\0" header) or carry no version resource with a FileVersion text.
std::optional<ProgramVersion> ReadProgramVersion(std::string_view bytes, std::string& why);

}  // namespace marlix::publish
