// The work folder of files in the making: private to the program and safe
// from links, its files opened and written through to the disk.
#pragma once

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
