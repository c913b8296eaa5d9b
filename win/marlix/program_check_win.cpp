#include "program_check_win.h"

#include <windows.h>
#include <shellapi.h>

#include "data_download.h"
#include "data_folder.h"
#include "text_win.h"
#include "version_check.h"

namespace marlix {

namespace {

// Around the folder and the file name: "...\n\n<folder>\<file> 프로그램이 있는지 확인하십시오".
constexpr char kCannotStartHead[] = "우편번호 검색 업데이트 프로그램을 실행할 수 없습니다.\n\n";
constexpr char kCannotStartTail[] = " 프로그램이 있는지 확인하십시오";

}  // namespace

bool StartUpdater(const char* app_name, const std::wstring& program_dir) {
  const std::wstring updater = program_dir + L"\\" + WideFromUtf8(kUpdaterProgram);
  const HINSTANCE started = ShellExecuteW(nullptr, L"open", updater.c_str(), nullptr, program_dir.c_str(), SW_SHOW);
  if (reinterpret_cast<INT_PTR>(started) > 32) return true;
  const std::wstring text = WideFromUtf8(kCannotStartHead) + updater + WideFromUtf8(kCannotStartTail);
  MessageBoxW(nullptr, text.c_str(), WideFromUtf8(app_name).c_str(), MB_OK | MB_ICONEXCLAMATION);
  return false;
}

bool CheckProgramVersion(const char* app_name, const std::wstring& program_dir, const FileVersion& own,
                         std::string& server_version) {
  const ProgramOffer offer = CheckServiceProgram(ServiceAccess{}, app_name, own, kDataFolder);
  server_version = offer.version;
  if (!offer.newer) return false;
  return StartUpdater(app_name, program_dir);
}

}  // namespace marlix
