#include "program_version_win.h"

#include <windows.h>
#include <shellapi.h>

#include "text_format.h"
#include "version_check.h"

namespace marlix {

namespace {

constexpr char kCannotStartFormat[] =
    "우편번호 검색 업데이트 프로그램을 실행할 수 없습니다.\n\n%s\\%s 프로그램이 있는지 확인하십시오";

}  // namespace

bool StartUpdater(const char* app_name, const char* start_dir) {
  const HINSTANCE started = ShellExecuteA(nullptr, "open", kUpdaterProgram, nullptr, start_dir, SW_SHOW);
  if (reinterpret_cast<INT_PTR>(started) > 32) return true;
  const std::string text = FormatText(kCannotStartFormat, start_dir, kUpdaterProgram);
  MessageBoxA(nullptr, text.c_str(), app_name, MB_OK | MB_ICONEXCLAMATION);
  return false;
}

bool CheckProgramVersion(const char* app_name, const char* start_dir, std::string& server_version) {
  server_version = FetchServerVersion(ServiceAccess{}, app_name);
  if (!ServerVersionIsNewer(server_version)) return false;
  return StartUpdater(app_name, start_dir);
}

}  // namespace marlix
