// The program-version check at start-up, with the updater's start.
#pragma once

#include <string>

namespace marlix {

// Asks the service for its program version (silently, on any failure the
// result is the own version) and, when it sorts after the own one, starts
// MarlixUpd.exe from `start_dir`. `server_version` receives the version seen.
// `app_name` is the agent and the caption of the message when the updater
// cannot start. Returns whether the updater was started.
bool CheckProgramVersion(const char* app_name, const char* start_dir, std::string& server_version);

// Starts MarlixUpd.exe in `start_dir` (its working directory too); tells the
// user when it cannot start. Returns whether it started.
bool StartUpdater(const char* app_name, const char* start_dir);

}  // namespace marlix
