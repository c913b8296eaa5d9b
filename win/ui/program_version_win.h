// The program-version check at start-up, with the updater's start.
#pragma once

#include <optional>
#include <string>

#include "manifest.h"

namespace marlix {

// The folder of this process's own program file, in UTF-16 and without a
// last backslash; empty when the system cannot tell it. Not the working
// directory: a start with Windows, a shortcut or a command line may set any.
std::wstring OwnProgramFolder();

// The fixed file version of a program's version resource; nothing when the
// file is missing or has none.
std::optional<FileVersion> ProgramFileVersion(const std::wstring& path);
// This process's own program's version, as the updater reads the installed one.
std::optional<FileVersion> OwnProgramVersion();

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
