#include <windows.h>

#include <cerrno>
#include <cstring>
#include <iterator>

#include "file_steps.h"
#include "text_win.h"

namespace marlix {

namespace {

// The system's words for an error, in UTF-8 like every message they join.
std::string SystemMessage(DWORD code) {
  wchar_t text[512] = {};
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                 static_cast<DWORD>(std::size(text)), nullptr);
  std::string message = Utf8FromWide(std::wstring_view(text, n));
  while (!message.empty() && (message.back() == '\r' || message.back() == '\n')) message.pop_back();
  return message.empty() ? "error " + std::to_string(code) : message;
}

}  // namespace

// Paths are UTF-8, named to the system in UTF-16.
void MakeDirectory(const std::string& path) { CreateDirectoryW(WideFromUtf8(path).c_str(), nullptr); }

bool MoveIntoPlace(const std::string& from, const std::string& to, std::string& error) {
  if (MoveFileExW(WideFromUtf8(from).c_str(), WideFromUtf8(to).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
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
