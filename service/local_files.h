// The few file-system steps of a download that differ between systems.
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

#include <cstdio>

#include "file_stream.h"

namespace marlix {

// Makes `path` a folder of the program's own for files in the making, before
// anything reads it, and false (the reason for LastFileError) when it cannot
// be. On POSIX a link (or anything but a folder) in its place is removed,
// never followed, and a folder made; the folder is made mode 0700 whatever it
// was; and whatever is in it but a plain file of its own (links, folders, a
// file with a second name) is removed, never what a link leads to. On
// Windows, where a folder's rights come from the one above, a reparse point
// (a junction, a link) in its place or in it, or a folder in it, is refused.
bool MakePrivateDirectory(const std::string& path);

// True when `path` names a file itself, not a link to one.
bool IsPlainFile(const std::string& path);

// True when something (a link among them) has the name `path`.
bool PathTaken(const std::string& path);

// Writes a folder's entries through to the disk, so that the renames in it
// outlast a power loss.
bool SyncFolder(const std::string& path);

// Opens a file in such a folder for reading and writing, never through a
// link: `keep` opens the file as it is (created when missing), otherwise it
// starts empty. Null on failure, with the reason for LastFileError.
FileStream OpenWorkFile(const std::string& path, bool keep);

// Writes `file`'s buffered bytes through to the disk.
bool FlushToDisk(std::FILE* file);

// True when the last file call failed because the disk is full.
bool LastFileErrorIsDiskFull();

}  // namespace marlix
