#include <windows.h>

#include <cerrno>
#include <cstring>
#include <iterator>

#include "handle_win.h"
#include "local_files.h"
#include "text_win.h"

namespace marlix {

namespace {

// The system's words for an error, in UTF-8 like every message they join.
std::string SystemMessage(DWORD code) {
  wchar_t text[512] = {};
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                 text, static_cast<DWORD>(std::size(text)), nullptr);
  std::string message = Utf8FromWide(std::wstring_view(text, n));
  while (!message.empty() && (message.back() == '\r' || message.back() == '\n')) message.pop_back();
  return message.empty() ? "error " + std::to_string(code) : message;
}

}  // namespace

// Paths are UTF-8, named to the system in UTF-16.
void MakeDirectory(const std::string& path) { CreateDirectoryW(WideFromUtf8(path).c_str(), nullptr); }

bool MoveIntoPlace(const std::string& from, const std::string& to, std::string& error) {
  if (MoveFileExW(WideFromUtf8(from).c_str(), WideFromUtf8(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  error = SystemMessage(GetLastError());
  return false;
}

// The C runtime's stdio sets errno; its texts are plain ASCII.
std::string LastFileError() { return std::strerror(errno); }

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '\\' || folder.back() == '/') return folder + name;
  return folder + "\\" + name;
}

}  // namespace marlix

#include <fcntl.h>
#include <io.h>

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
  UniqueFileHandle handle(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      keep ? OPEN_ALWAYS : CREATE_ALWAYS,
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
  FileStream file(_fdopen(fd, "r+b"));
  if (!file) _close(fd);
  return file;
}

bool FlushToDisk(std::FILE* file) { return std::fflush(file) == 0 && _commit(_fileno(file)) == 0; }

bool LastFileErrorIsDiskFull() { return errno == ENOSPC; }

}  // namespace marlix
