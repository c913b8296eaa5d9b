#include "update_platform_win.h"

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <vector>

#include "handle_win.h"
#include "program_version_win.h"
#include "text_win.h"

namespace marlix::updater {

namespace {

class Win32Process final : public OpenedProcess {
 public:
  explicit Win32Process(HANDLE handle) : handle_(handle) {}
  bool Terminate() override { return handle_ && ::TerminateProcess(handle_.get(), 0); }
  std::optional<std::uint32_t> ExitStatus() override {
    DWORD status = 0;
    if (!handle_ || !::GetExitCodeProcess(handle_.get(), &status)) return std::nullopt;
    return status;
  }

 private:
  UniqueKernelHandle handle_;
};

}  // namespace

std::optional<std::vector<ProcessEntry>> Win32Processes::List() {
  UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return std::nullopt;
  std::vector<ProcessEntry> entries;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    entries.push_back({entry.th32ProcessID, Utf8FromWide(entry.szExeFile)});
  }
  return entries;
}

// All access rights in the form every Windows version accepts (the newer
// PROCESS_ALL_ACCESS is refused by older systems): the process is to be
// terminated and waited for.
std::unique_ptr<OpenedProcess> Win32Processes::Open(std::uint32_t id) {
  constexpr DWORD kAllAccess = 0x1F0FFF;
  return std::make_unique<Win32Process>(::OpenProcess(kAllAccess, FALSE, id));
}

void Win32Processes::Wait(unsigned milliseconds) { ::Sleep(milliseconds); }

std::optional<FileVersion> Win32ProgramVersions::Of(const std::string& path) {
  return ProgramFileVersion(WideFromUtf8(path));
}

bool Win32Shell::Open(const std::string& file, const std::string& parameters, const std::string& directory) {
  const std::wstring wide_parameters = WideFromUtf8(parameters);
  const HINSTANCE result =
      ::ShellExecuteW(nullptr, L"open", WideFromUtf8(file).c_str(),
                      parameters.empty() ? nullptr : wide_parameters.c_str(), WideFromUtf8(directory).c_str(), SW_SHOW);
  return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace marlix::updater
