// MarlixUpd.exe run for real beside a test: processes found by image name,
// the updater's window found by its progress bar, its message boxes answered
// with OK as a user would and their texts kept.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "server_control_win.h"
#include "test_text_win.h"
#include "updater_resource.h"

namespace marlix_test {

// A window's text in UTF-8, as the programs' texts are. Across processes the W form is the one Wine
// answers correctly; message boxes turn a lone LF into CR LF, which is undone.
inline std::string TextOf(HWND hwnd) {
  wchar_t buffer[2048] = {};
  ::SendMessageW(hwnd, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buffer));
  std::string plain;
  for (char c : Utf8(buffer)) {
    if (c != '\r') plain += c;
  }
  return plain;
}

inline std::vector<HWND> TopWindowsOf(DWORD pid) {
  struct Search {
    DWORD pid;
    std::vector<HWND> found;
  } search{pid, {}};
  ::EnumWindows(
      [](HWND hwnd, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        DWORD owner = 0;
        ::GetWindowThreadProcessId(hwnd, &owner);
        if (owner == s->pid) s->found.push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

inline bool IsDialogClass(HWND hwnd) {
  char name[64] = {};
  ::GetClassNameA(hwnd, name, sizeof name);
  return std::string(name) == "#32770";
}

// The processes whose image is `image`, with their executable's path (UTF-8).
inline std::vector<std::pair<DWORD, std::string>> RunningPrograms(const char* image) {
  std::vector<std::pair<DWORD, std::string>> found;
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return found;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
    if (::lstrcmpiW(entry.szExeFile, Wide(image).c_str()) != 0) continue;
    wchar_t path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (HANDLE p = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID)) {
      ::QueryFullProcessImageNameW(p, 0, path, &size);
      ::CloseHandle(p);
    }
    found.emplace_back(entry.th32ProcessID, Utf8(path));
  }
  ::CloseHandle(snapshot);
  return found;
}

// Ends the processes of that image, except those in `spare`.
inline void EndAll(const char* image, const std::set<DWORD>& spare = {}) {
  for (const auto& [pid, path] : RunningPrograms(image)) {
    if (spare.count(pid)) continue;
    if (HANDLE p = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)) {
      ::TerminateProcess(p, 1);
      ::WaitForSingleObject(p, 5000);
      ::CloseHandle(p);
    }
  }
}

struct Process {
  HANDLE handle = nullptr;
  DWORD pid = 0;
  bool Running() const { return handle && ::WaitForSingleObject(handle, 0) == WAIT_TIMEOUT; }
  bool WaitEnd(DWORD ms) const { return handle && ::WaitForSingleObject(handle, ms) == WAIT_OBJECT_0; }
};

// Starts `exe` in `dir` (UTF-8 paths); a failure is a test failure and an empty Process.
inline Process StartProcess(const std::string& exe, const std::string& dir) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::wstring command = L"\"" + Wide(exe) + L"\"";
  if (!::CreateProcessW(Wide(exe).c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, Wide(dir).c_str(), &si,
                        &pi)) {
    ADD_FAILURE() << "cannot start " << exe << ": error " << ::GetLastError();
    return {};
  }
  ::CloseHandle(pi.hThread);
  return {pi.hProcess, pi.dwProcessId};
}

// The updater's own window (it carries the progress bar), once it is there.
inline HWND UpdaterWindow(DWORD pid, DWORD wait_ms, DWORD poll_ms = 10) {
  for (const ULONGLONG deadline = ::GetTickCount64() + wait_ms; ::GetTickCount64() < deadline;) {
    for (HWND hwnd : TopWindowsOf(pid)) {
      if (IsDialogClass(hwnd) && ::GetDlgItem(hwnd, IDC_UPDATER_PROGRESS)) return hwnd;
    }
    if (poll_ms) ::Sleep(poll_ms);
  }
  return nullptr;
}

// Answers every message box of one process with OK, as a user would, and
// keeps their texts. The process answered may change between runs.
class BoxAnswerer {
 public:
  BoxAnswerer() = default;
  BoxAnswerer(const BoxAnswerer&) = delete;
  BoxAnswerer& operator=(const BoxAnswerer&) = delete;
  ~BoxAnswerer() { Stop(); }

  void Answer(DWORD pid) {
    pid_ = pid;
    if (thread_.joinable()) return;
    thread_ = std::thread([this] {
      std::set<HWND> answered;
      while (!stop_) {
        for (HWND hwnd : TopWindowsOf(pid_)) {
          if (!IsDialogClass(hwnd) || ::GetDlgItem(hwnd, IDC_UPDATER_PROGRESS) || !::IsWindowVisible(hwnd) ||
              answered.count(hwnd)) {
            continue;
          }
          const HWND text = ::GetDlgItem(hwnd, 0xFFFF);
          if (!text) continue;
          answered.insert(hwnd);
          {
            std::lock_guard<std::mutex> lock(mutex_);
            boxes_.push_back(TextOf(text));
          }
          ::PostMessageA(hwnd, WM_COMMAND, IDOK, 0);
        }
        ::Sleep(20);
      }
    });
  }

  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  std::vector<std::string> Boxes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
  }
  void Forget() {
    std::lock_guard<std::mutex> lock(mutex_);
    boxes_.clear();
  }
  bool WaitForBoxes(std::size_t count, DWORD ms) {
    for (const ULONGLONG deadline = ::GetTickCount64() + ms; ::GetTickCount64() < deadline; ::Sleep(20)) {
      if (Boxes().size() >= count) return true;
    }
    return false;
  }

 private:
  std::thread thread_;
  std::atomic<DWORD> pid_{0};
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::string> boxes_;
};

}  // namespace marlix_test
