// The program-version check at start-up, with the updater's start.
#pragma once

#include <optional>
#include <string>

#include "manifest.h"

namespace marlix {

// A path from the ANSI calls is in the system's code page, not CP949.
std::wstring WideFromSystemCodePage(const char* text);

// The fixed file version of a program's version resource; nothing when the
// file is missing or has none.
std::optional<FileVersion> ProgramFileVersion(const std::wstring& path);
// This process's own program's version, as the updater reads the installed one.
std::optional<FileVersion> OwnProgramVersion();

// Asks the service whether a program newer than `own` is published (silently,
// on any failure nothing is newer; see CheckServiceProgram, with the data
// folder's manifest as the edition held) and, when one is, starts
// MarlixUpd.exe from `start_dir`. `server_version` receives the version seen.
// `app_name` is the agent and the caption of the message when the updater
// cannot start. Returns whether the updater was started. It waits on the
// network: call it off the window's thread.
bool CheckProgramVersion(const char* app_name, const char* start_dir, const FileVersion& own,
                         std::string& server_version);

// Starts MarlixUpd.exe in `start_dir` (its working directory too); tells the
// user when it cannot start. Returns whether it started.
bool StartUpdater(const char* app_name, const char* start_dir);

}  // namespace marlix
