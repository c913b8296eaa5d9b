// What both programs read of their own program file: its folder and its
// version, and the version of another program file.
#pragma once

#include <optional>
#include <string>

#include "version_order.h"

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

}  // namespace marlix
