// The check of the program's own version against the one the service offers.
#pragma once

#include <string>
#include <string_view>

#include "manifest.h"
#include "server_url.h"

namespace marlix {

inline constexpr char kProgramVersion[] = "1.0";
inline constexpr char kProgramVersionFile[] = "MarlixVer.ini";
inline constexpr char kUpdaterProgram[] = "MarlixUpd.exe";

// The version file's line that offers program `version`, as the publisher
// writes it (with its CR LF) and TakeVersionLine reads it back.
std::string VersionFileLine(std::string_view version);

// When `line` holds the key "zipver=", sets `version` to the text after the
// key (trailing white space kept) and returns true.
bool TakeVersionLine(std::string_view line, std::string& version);

// True when the server's version sorts strictly after the own one, in the
// version file's order (CompareVersions).
bool ServerVersionIsNewer(std::string_view server, std::string_view own = kProgramVersion);

// The first version line of a version file's body, its lines ending at line
// feeds with every CR dropped; true and `version` set when there was one.
bool FindVersionLine(std::string_view body, std::string& version);

// Asks the service for its program version. Any failure, an error page, a
// file without the publisher's signature and one without a version line all
// give `fallback`.
std::string FetchServerVersion(const ServiceAccess& access, const char* agent,
                               std::string_view fallback = kProgramVersion);

// A version in the short form the version file has always used: the
// trailing zero parts past the second dropped ("1.0.0.0" is "1.0").
std::string ShortVersionText(const FileVersion& version);

// What the start-up check found.
struct ProgramOffer {
  bool newer = false;   // the updater is to start
  std::string version;  // what the service offers; the own version when nothing
  std::string detail;   // why nothing is done, for a log
};

// Asks the service whether a program newer than `own` is published. With a
// signed manifest, only a program record above `own` counts, and only in an
// edition not below the one installed in `data_folder`: a replayed older
// manifest decides nothing. A manifest that arrived but is not the
// publisher's, or cannot be read, or did not arrive, decides nothing either.
// Only a service that has no manifest (404) is asked for its version file,
// compared as text with the short form of `own`, as it always was.
ProgramOffer CheckServiceProgram(const ServiceAccess& access, const char* agent, const FileVersion& own,
                                 const std::string& data_folder);

}  // namespace marlix
