#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <string>

#include "handle_win.h"
#include "text_win.h"
#include "work_folder.h"

namespace marlix {

namespace {

constexpr DWORD kNoAttributes = INVALID_FILE_ATTRIBUTES;

bool IsPlainFolder(DWORD attributes) {
  return attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

}  // namespace

// A reparse point is refused, never removed: removing one is not safe on
// every system the programs run on (Wine removes what a link leads to).
bool MakePrivateDirectory(const std::string& path) {
  const std::wstring wide = WideFromUtf8(path);
  CreateDirectoryW(wide.c_str(), nullptr);
  bool ours = IsPlainFolder(GetFileAttributesW(wide.c_str()));
  WIN32_FIND_DATAW entry{};
  const UniqueFindHandle find(ours ? FindFirstFileW((wide + L"\\*").c_str(), &entry) : INVALID_HANDLE_VALUE);
  for (bool more = static_cast<bool>(find); more && ours; more = FindNextFileW(find.get(), &entry) != FALSE) {
    const std::wstring name = entry.cFileName;
    const bool plain = (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    ours = plain || name == L"." || name == L"..";
  }
  if (!ours) errno = EACCES;
  return ours;
}

bool IsPlainFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(WideFromUtf8(path).c_str());
  return attributes != kNoAttributes && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

bool PathTaken(const std::string& path) { return GetFileAttributesW(WideFromUtf8(path).c_str()) != kNoAttributes; }

// MoveFileExW with MOVEFILE_WRITE_THROUGH returns once the rename is on the
// disk: nothing is left to write.
bool SyncFolder(const std::string&) { return true; }

// The file's own handle, never a link's target: a reparse point is opened as
// itself and refused.
FileStream OpenWorkFile(const std::string& path, bool keep) {
  UniqueFileHandle handle(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                      nullptr, keep ? OPEN_ALWAYS : CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle) {
    errno = GetLastError() == ERROR_DISK_FULL ? ENOSPC : EACCES;
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle.get(), &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    errno = EINVAL;
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle.get()), _O_BINARY | _O_RDWR);
  if (fd < 0) return nullptr;
  handle.release();  // the descriptor owns the handle
  return StreamOfDescriptor(fd, "r+b");
}

bool FlushToDisk(std::FILE* file) { return std::fflush(file) == 0 && _commit(_fileno(file)) == 0; }

bool LastFileErrorIsDiskFull() { return errno == ENOSPC; }

}  // namespace marlix
