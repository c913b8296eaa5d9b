#include "program_version_win.h"

#include <windows.h>
#include <shellapi.h>
#include <winver.h>

#include <string>
#include <vector>

#include "data_download.h"
#include "text_win.h"
#include "version_check.h"

namespace marlix {

namespace {

// Around the folder and the file name: "...\n\n<folder>\<file> 프로그램이 있는지 확인하십시오".
constexpr char kCannotStartHead[] = "우편번호 검색 업데이트 프로그램을 실행할 수 없습니다.\n\n";
constexpr char kCannotStartTail[] = " 프로그램이 있는지 확인하십시오";


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

bool StartUpdater(const char* app_name, const std::wstring& program_dir) {
  const std::wstring updater = program_dir + L"\\" + WideFromUtf8(kUpdaterProgram);
  const HINSTANCE started = ShellExecuteW(nullptr, L"open", updater.c_str(), nullptr, program_dir.c_str(), SW_SHOW);
  if (reinterpret_cast<INT_PTR>(started) > 32) return true;
  const std::wstring text = WideFromUtf8(kCannotStartHead) + updater + WideFromUtf8(kCannotStartTail);
  MessageBoxW(nullptr, text.c_str(), WideFromUtf8(app_name).c_str(), MB_OK | MB_ICONEXCLAMATION);
  return false;
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

bool CheckProgramVersion(const char* app_name, const std::wstring& program_dir, const FileVersion& own,
                         std::string& server_version) {
  const ProgramOffer offer = CheckServiceProgram(ServiceAccess{}, app_name, own, kDataFolder);
  server_version = offer.version;
  if (!offer.newer) return false;
  return StartUpdater(app_name, program_dir);
}

}  // namespace marlix
