#include "program_version_win.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "text_win.h"
#include "version_check.h"

namespace marlix {

namespace {

// Around the folder and the file name: "...\n\n<folder>\<file> 프로그램이 있는지 확인하십시오".
constexpr char kCannotStartHead[] = "우편번호 검색 업데이트 프로그램을 실행할 수 없습니다.\n\n";
constexpr char kCannotStartTail[] = " 프로그램이 있는지 확인하십시오";

// A path from the ANSI calls is in the system's code page, not CP949.
std::wstring WideFromSystemCodePage(const char* text) {
  const int n = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (n <= 1) return {};
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), n);
  out.pop_back();
  return out;
}

}  // namespace

bool StartUpdater(const char* app_name, const char* start_dir) {
  const HINSTANCE started = ShellExecuteA(nullptr, "open", kUpdaterProgram, nullptr, start_dir, SW_SHOW);
  if (reinterpret_cast<INT_PTR>(started) > 32) return true;
  const std::wstring text = WideFromCp949(kCannotStartHead) + WideFromSystemCodePage(start_dir) + L"\\" +
                            WideFromSystemCodePage(kUpdaterProgram) + WideFromCp949(kCannotStartTail);
  MessageBoxW(nullptr, text.c_str(), WideFromSystemCodePage(app_name).c_str(), MB_OK | MB_ICONEXCLAMATION);
  return false;
}

bool CheckProgramVersion(const char* app_name, const char* start_dir, std::string& server_version) {
  server_version = FetchServerVersion(ServiceAccess{}, app_name);
  if (!ServerVersionIsNewer(server_version)) return false;
  return StartUpdater(app_name, start_dir);
}

}  // namespace marlix
