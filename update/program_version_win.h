// The program-version check at start-up, with the updater's start.
#pragma once

#include <string>

namespace marlix {

// The folder of this process's own program file, in UTF-16 and without a
// last backslash; empty when the system cannot tell it. Not the working
// directory: a start with Windows, a shortcut or a command line may set any.
std::wstring OwnProgramFolder();

// Asks the service for its program version (silently, on any failure the
// result is the own version) and, when it sorts after the own one, starts
// MarlixUpd.exe from `program_dir`. `server_version` receives the version seen.
// `app_name` is the agent and the caption of the message when the updater
// cannot start. Returns whether the updater was started.
bool CheckProgramVersion(const char* app_name, const std::wstring& program_dir, std::string& server_version);

// Starts MarlixUpd.exe by its full path in `program_dir` (its working
// directory too); tells the user when it cannot start. Returns whether it
// started. UTF-16 throughout, so any folder name works on any code page.
bool StartUpdater(const char* app_name, const std::wstring& program_dir);

}  // namespace marlix
