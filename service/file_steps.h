// The few file-system steps of a download that differ between systems: a
// folder made, a file moved into place, a path joined, a failure's reason.
#pragma once

#include <string>

namespace marlix {

// Creates one directory; an existing one is fine, and so is failure: the
// download then fails where it first writes and says so.
void MakeDirectory(const std::string& path);

// Puts `from` in the place of `to`, replacing an existing file in one step.
// On failure returns false with the system's reason in `error`.
bool MoveIntoPlace(const std::string& from, const std::string& to, std::string& error);

// The system's reason for the last failed file call, for a message.
std::string LastFileError();

// Joins a folder and a file name with the system's separator.
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace marlix
