// The check of the program's own version against the one the service offers.
#pragma once

#include <string>
#include <string_view>

#include "server_url.h"

class CInternetFile;

namespace marlix {

inline constexpr char kProgramVersion[] = "1.0";
inline constexpr char kProgramVersionFile[] = "MarlixVer.ini";
inline constexpr char kUpdaterProgram[] = "MarlixUpd.exe";

// When `line` holds the key "zipver=", sets `version` to the text after the
// key (trailing white space kept) and returns true.
bool TakeVersionLine(std::string_view line, std::string& version);

// Orders two version texts character by character, a double-byte CP949
// character counting as one unit ordered by its two bytes; a prefix sorts
// first. Negative, zero or positive as with strcmp.
int CompareVersions(std::string_view a, std::string_view b);

// True when the server's version sorts strictly after the own one.
bool ServerVersionIsNewer(std::string_view server, std::string_view own = kProgramVersion);

// Reads the version file line by line up to the first version line; true and
// `version` set when there was one.
bool ReadVersionLine(CInternetFile& file, std::string& version);

// Asks the service for its program version. Any failure, an error page and a
// file without a version line all give `fallback`.
std::string FetchServerVersion(const ServiceAccess& access, const char* agent,
                               std::string_view fallback = kProgramVersion);

}  // namespace marlix
