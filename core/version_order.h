// The order of program versions, for the programs, the updater and the
// publisher alike.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace marlix {

// Version texts of dotted numbers ("1.2.0.10", at most four parts of at most
// nine digits) ordered as numbers, a missing part counting as 0; nothing for
// a text that is not such a version. The one order of program versions: the
// manifest's, the installed program's, the running one's and the one a
// release replaces are all compared here.
std::optional<int> CompareNumericVersions(std::string_view a, std::string_view b);

// A program file's version as its version resource gives it (the file
// version of VS_FIXEDFILEINFO), most significant part first.
using FileVersion = std::array<std::uint16_t, 4>;
// "1.2.0.0".
std::string VersionText(const FileVersion& version);

// The version file's own order, which programs that read no manifest
// apply to its "zipver=" line: character by character, a double-byte
// CP949 character counting as one unit ordered by its two bytes; a prefix
// sorts first ("1.10" before "1.9"). Negative, zero or positive as with strcmp.
int CompareVersions(std::string_view a, std::string_view b);

}  // namespace marlix
