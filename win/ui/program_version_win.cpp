#include "program_version_win.h"

#include <windows.h>
#include <winver.h>

#include <string>
#include <vector>

namespace marlix {

namespace {

// This process's own program file, in UTF-16; empty when the system cannot tell it.
std::wstring OwnProgramPath() {
  std::wstring path(1024, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    if (path.size() >= 32768) return {};  // longer than any Windows path
    path.resize(path.size() * 2);
  }
}

}  // namespace

std::wstring OwnProgramFolder() {
  std::wstring path = OwnProgramPath();
  const std::size_t slash = path.rfind(L'\\');
  if (slash == std::wstring::npos) return {};
  path.resize(slash);
  return path;
}

std::optional<FileVersion> ProgramFileVersion(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return std::nullopt;
  std::vector<char> info(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixed_size = 0;
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, info.data()) ||
      !::VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixed_size) || fixed == nullptr ||
      fixed_size < sizeof *fixed || fixed->dwSignature != VS_FFI_SIGNATURE) {
    return std::nullopt;
  }
  return FileVersion{HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                     LOWORD(fixed->dwFileVersionLS)};
}

std::optional<FileVersion> OwnProgramVersion() {
  const std::wstring path = OwnProgramPath();
  if (path.empty()) return std::nullopt;
  return ProgramFileVersion(path);
}

}  // namespace marlix
