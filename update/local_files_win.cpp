#include <windows.h>

#include <cerrno>
#include <cstring>

#include "local_files.h"

namespace marlix {

namespace {

std::string SystemMessage(DWORD code) {
  char text[512] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                 text, sizeof text, nullptr);
  std::string message(text, n);
  while (!message.empty() && (message.back() == '\r' || message.back() == '\n')) message.pop_back();
  return message.empty() ? "error " + std::to_string(code) : message;
}

}  // namespace

void MakeDirectory(const std::string& path) { CreateDirectoryA(path.c_str(), nullptr); }

bool MoveIntoPlace(const std::string& from, const std::string& to, std::string& error) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  error = SystemMessage(GetLastError());
  return false;
}

// The C runtime's stdio sets errno; the text comes in the ANSI code page.
std::string LastFileError() { return std::strerror(errno); }

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '\\' || folder.back() == '/') return folder + name;
  return folder + "\\" + name;
}

}  // namespace marlix
