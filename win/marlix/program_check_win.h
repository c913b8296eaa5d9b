// Marlix's program-version check at start-up, with the updater's start.
#pragma once

#include <string>

#include "version_order.h"

namespace marlix {

// Asks the service whether a program newer than `own` is published (silently,
// on any failure nothing is newer; see CheckServiceProgram, with the data
// folder's manifest as the edition held) and, when one is, starts
// MarlixUpd.exe from `program_dir`. `server_version` receives the version seen.
// `app_name` (UTF-8) is the agent and the caption of the message when the updater
// cannot start. Returns whether the updater was started. It waits on the
// network: call it off the window's thread.
bool CheckProgramVersion(const char* app_name, const std::wstring& program_dir, const FileVersion& own,
                         std::string& server_version);

// Starts MarlixUpd.exe by its full path in `program_dir` (its working
// directory too); tells the user when it cannot start. Returns whether it
// started. UTF-16 throughout, so any folder name works on any code page.
bool StartUpdater(const char* app_name, const std::wstring& program_dir);

}  // namespace marlix
