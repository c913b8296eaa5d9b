// MarlixSetup.exe run for real under Wine, silently, as an administrator's
// script would: what it puts where, the installed program started from its
// folder, and the uninstaller taking all of it away again, while the program
// runs, and leaving the user's data alone.
#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "marlix_driver_win.h"
#include "test_server_win.h"

namespace {

using namespace marlix_test;

constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Marlix";
constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR wide = nullptr;
  std::string path;
  if (SUCCEEDED(::SHGetKnownFolderPath(id, 0, nullptr, &wide))) {
    char narrow[MAX_PATH * 2] = {};
    ::WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof narrow, nullptr, nullptr);
    path = narrow;
  }
  ::CoTaskMemFree(wide);
  return path;
}

// A text in the system's code page, as this test's ANSI calls take and give it.
std::string Ansi(std::string_view utf8) { return NarrowIn(CP_ACP, Wide(utf8)); }

bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::optional<std::string> RegText(const char* key, const char* name) {
  char value[2048] = {};
  DWORD size = sizeof value;
  if (::RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::string(value);
}

std::optional<DWORD> RegNumber(const char* key, const char* name) {
  DWORD value = 0;
  DWORD size = sizeof value;
  if (::RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return value;
}

bool KeyExists(const char* key) {
  HKEY handle;
  if (::RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  ::RegCloseKey(handle);
  return true;
}

// A shortcut's target and working folder.
struct Shortcut {
  std::string target;
  std::string folder;
};

std::optional<Shortcut> ReadShortcut(const std::string& lnk) {
  std::optional<Shortcut> found;
  IShellLinkA* link = nullptr;
  if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link)))) {
    return found;
  }
  IPersistFile* file = nullptr;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    wchar_t wide[MAX_PATH * 2] = {};
    ::MultiByteToWideChar(CP_ACP, 0, lnk.c_str(), -1, wide, MAX_PATH * 2);
    if (SUCCEEDED(file->Load(wide, STGM_READ))) {
      char target[MAX_PATH] = {};
      char folder[MAX_PATH] = {};
      link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
      link->GetWorkingDirectory(folder, MAX_PATH);
      found = Shortcut{target, folder};
    }
    file->Release();
  }
  link->Release();
  return found;
}

// Runs a command and waits for it; its exit code, or nothing when it did not
// start or end within the wait.
// cppcheck-suppress passedByValue ; CreateProcessA writes into the command line, so it takes a copy
std::optional<DWORD> RunCommand(std::string command, DWORD* pid = nullptr) {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    ADD_FAILURE() << "cannot start " << command << ": error " << ::GetLastError();
    return std::nullopt;
  }
  ::CloseHandle(pi.hThread);
  if (pid) *pid = pi.dwProcessId;
  std::optional<DWORD> code;
  if (::WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0) {
    DWORD c = 0;
    ::GetExitCodeProcess(pi.hProcess, &c);
    code = c;
  } else {
    ::TerminateProcess(pi.hProcess, 1);
  }
  ::CloseHandle(pi.hProcess);
  return code;
}

bool ImageRuns(const char* image) {
  bool found = false;
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32First(snapshot, &entry); more; more = ::Process32Next(snapshot, &entry)) {
    found = found || ::lstrcmpiA(entry.szExeFile, image) == 0;
  }
  ::CloseHandle(snapshot);
  return found;
}

class Installer : public ::testing::Test {
 protected:
  void SetUp() override {
    ::CoInitialize(nullptr);
    const std::string url = TestServerUrl();
    ASSERT_FALSE(url.empty()) << "no test server";
    server_ = url;
    // The installed program finds its own version on the service: no updater.
    Serve("MarlixVer.ini", "[Marlix]\r\nzipver=1.0\r\n");
    dir_ = KnownFolder(FOLDERID_LocalAppData) + "\\Programs\\Marlix";
    shortcut_ = KnownFolder(FOLDERID_Programs) + Ansi("\\Marlix 우편번호검색.lnk");
    ASSERT_GT(dir_.size(), 20u);
    ASSERT_GT(shortcut_.size(), 20u);
    Clear();
  }

  void TearDown() override {
    Clear();
    ::CoUninitialize();
  }

  // Takes away whatever an earlier, failed run left, without the uninstaller.
  void Clear() {
    for (const char* name : {"Marlix.exe", "MarlixUpd.exe", "Marlix_New.exe", "Marlix_old.exe", "Uninstall.exe"}) {
      ::DeleteFileA(Path(name).c_str());
    }
    ::RemoveDirectoryA(dir_.c_str());
    ::DeleteFileA(shortcut_.c_str());
    ::RegDeleteKeyA(HKEY_CURRENT_USER, kUninstallKey);
    ::RegDeleteKeyValueA(HKEY_CURRENT_USER, kRunKey, "Marlix");
  }

  std::string Path(const char* name) const { return dir_ + "\\" + name; }

  std::optional<DWORD> Install(const std::string& switches) {
    return RunCommand("\"" + WinePath(MARLIX_INSTALLER) + "\" /S" + switches);
  }

  // The uninstaller copies itself away and ends at once; the copy does the
  // work, and is waited for here.
  std::optional<DWORD> Uninstall() {
    DWORD pid = 0;
    const std::optional<DWORD> started = RunCommand("\"" + Path("Uninstall.exe") + "\" /S", &pid);
    if (started != std::optional<DWORD>(0)) return started;
    std::optional<DWORD> code = 0;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32First(snapshot, &entry); more; more = ::Process32Next(snapshot, &entry)) {
      if (entry.th32ParentProcessID != pid) continue;
      HANDLE copy = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
      if (!copy) continue;  // already done
      DWORD c = 0;
      if (::WaitForSingleObject(copy, 120000) == WAIT_OBJECT_0 && ::GetExitCodeProcess(copy, &c)) {
        code = c;
      } else {
        code = std::nullopt;
      }
      ::CloseHandle(copy);
    }
    ::CloseHandle(snapshot);
    return code;
  }

  void ExpectInstalled() {
    EXPECT_EQ(ReadWholeFile(Path("Marlix.exe")), ReadWholeFile(WinePath(MARLIX_TEST_BIN_DIR "/bin/Marlix.exe")));
    EXPECT_EQ(ReadWholeFile(Path("MarlixUpd.exe")), ReadWholeFile(WinePath(MARLIX_TEST_BIN_DIR "/bin/MarlixUpd.exe")));
    EXPECT_TRUE(Exists(Path("Uninstall.exe")));
    // The program looks for its updater in the folder it starts in.
    const std::optional<Shortcut> link = ReadShortcut(shortcut_);
    ASSERT_TRUE(link) << "no shortcut " << shortcut_;
    EXPECT_EQ(::lstrcmpiA(link->target.c_str(), Path("Marlix.exe").c_str()), 0) << link->target;
    EXPECT_EQ(::lstrcmpiA(link->folder.c_str(), dir_.c_str()), 0) << link->folder;

    EXPECT_EQ(RegText(kUninstallKey, "DisplayName"), Ansi("Marlix 우편번호검색"));
    EXPECT_EQ(RegText(kUninstallKey, "DisplayVersion"), MARLIX_VERSION);
    EXPECT_EQ(RegText(kUninstallKey, "Publisher"), "Marlix");
    EXPECT_EQ(RegText(kUninstallKey, "InstallLocation"), dir_);
    EXPECT_EQ(RegText(kUninstallKey, "UninstallString"), "\"" + Path("Uninstall.exe") + "\"");
    EXPECT_EQ(RegText(kUninstallKey, "DisplayIcon"), Path("Marlix.exe") + ",0");
    EXPECT_EQ(RegNumber(kUninstallKey, "NoModify"), 1u);
    EXPECT_EQ(RegNumber(kUninstallKey, "NoRepair"), 1u);
    // In KB: the two programs are some hundreds.
    const DWORD size = RegNumber(kUninstallKey, "EstimatedSize").value_or(0);
    const DWORD programs =
        static_cast<DWORD>(ReadWholeFile(Path("Marlix.exe")).size() + ReadWholeFile(Path("MarlixUpd.exe")).size()) /
        1024;
    EXPECT_GE(size, programs);
    EXPECT_LE(size, programs + 200);
  }

  void ExpectNothingLeft() {
    EXPECT_FALSE(Exists(dir_)) << dir_ << " is still there";
    EXPECT_FALSE(Exists(shortcut_));
    EXPECT_FALSE(KeyExists(kUninstallKey));
    EXPECT_EQ(RegText(kRunKey, "Marlix"), std::nullopt);
  }

  // The installed program, started from its folder as the shortcut does.
  void StartInstalled(Marlix& marlix) {
    const int icons = TrayIcons();
    ASSERT_TRUE(marlix.Start(server_, Path("Marlix.exe"), dir_));
    ASSERT_TRUE(marlix.WaitForFrame());
    DWORD_PTR ignored;
    ASSERT_TRUE(::SendMessageTimeoutA(marlix.frame(), WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored));
    EXPECT_EQ(TrayIconsSettled(icons + 1), icons + 1);
    EXPECT_FALSE(ImageRuns("MarlixUpd.exe")) << "the updater started";
  }

  std::string server_;
  std::string dir_;
  std::string shortcut_;
};

TEST_F(Installer, InstallsStartsAndUninstallsWhileTheProgramRuns) {
  InstallRealData();
  const ULONGLONG install_start = ::GetTickCount64();
  ASSERT_EQ(Install(""), std::optional<DWORD>(0));
  std::printf("silent install: %llu ms\n", ::GetTickCount64() - install_start);
  ExpectInstalled();
  EXPECT_EQ(RegText(kRunKey, "Marlix"), "\"" + Path("Marlix.exe") + "\"");

  Marlix marlix;
  StartInstalled(marlix);
  // What an update can leave beside the program.
  WriteBytes(Path("Marlix_New.exe"), "MZ partial");
  WriteBytes(Path("Marlix_old.exe"), "MZ old");

  const ULONGLONG uninstall_start = ::GetTickCount64();
  ASSERT_EQ(Uninstall(), std::optional<DWORD>(0));
  std::printf("silent uninstall, closing the program: %llu ms\n", ::GetTickCount64() - uninstall_start);
  // Closed as its own "종료" does, not killed.
  EXPECT_EQ(marlix.WaitExit(), std::optional<DWORD>(0));
  ExpectNothingLeft();
  EXPECT_EQ(ReadWholeFile(kDataFile), RealData()) << "the user's data went with the program";
}

TEST_F(Installer, ReinstallWithoutAutostartOverTheRunningProgramTakesBackTheRunValue) {
  ASSERT_EQ(Install(""), std::optional<DWORD>(0));
  ASSERT_TRUE(RegText(kRunKey, "Marlix"));
  Marlix marlix;
  StartInstalled(marlix);

  ASSERT_EQ(Install(" /NOAUTOSTART"), std::optional<DWORD>(0));
  EXPECT_EQ(marlix.WaitExit(), std::optional<DWORD>(0));
  ExpectInstalled();
  EXPECT_EQ(RegText(kRunKey, "Marlix"), std::nullopt);

  ASSERT_EQ(Uninstall(), std::optional<DWORD>(0));
  ExpectNothingLeft();
}

// Windows starts the Run value's command in its system folder, not in the
// program's: the program must still find its updater, and the updater the
// program it replaces.
TEST_F(Installer, StartedFromTheSystemFolderItUpdatesItselfWhereInstalled) {
  ASSERT_EQ(Install(""), std::optional<DWORD>(0));
  // A newer build, and a longer one, so that its arrival shows in the size.
  const std::string newer = WithVersion(ReadWholeFile(Path("Marlix.exe")), 1, 1) + std::string("\0newer\0", 7);
  Serve("Marlix.exe", newer);
  Serve("MarlixVer.ini", "[Marlix]\r\nzipver=9.9\r\n");
  char system[MAX_PATH] = {};
  ASSERT_GT(::GetSystemDirectoryA(system, MAX_PATH), 0u);

  Marlix marlix;
  ASSERT_TRUE(marlix.Start(server_, Path("Marlix.exe"), system));
  const auto within = [](DWORD ms, auto done) {
    for (const ULONGLONG deadline = ::GetTickCount64() + ms; !done(); ::Sleep(20)) {
      if (::GetTickCount64() > deadline) return false;
    }
    return true;
  };
  ASSERT_TRUE(within(kWaitMs, [] { return ImageRuns("MarlixUpd.exe"); })) << "the updater did not start";
  // The new program, once started, finds nothing newer.
  Serve("MarlixVer.ini", "[Marlix]\r\nzipver=1.0\r\n");
  // Watched by its size alone: an open file cannot be renamed, and the
  // updater renames the program.
  const auto size = [](const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return ::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0;
  };
  EXPECT_TRUE(within(kWaitMs, [&] { return size(Path("Marlix.exe")) == newer.size(); }))
      << "the installed program was not replaced";
  EXPECT_EQ(ReadWholeFile(Path("Marlix.exe")), newer);
  for (const char* name : {"\\Marlix.exe", "\\Marlix_New.exe", "\\Marlix_old.exe"}) {
    EXPECT_FALSE(Exists(system + std::string(name))) << name;
  }

  // The uninstaller closes the new program and the updater's window too.
  ASSERT_EQ(Uninstall(), std::optional<DWORD>(0));
  ExpectNothingLeft();
  EXPECT_FALSE(ImageRuns("MarlixUpd.exe"));
  EXPECT_FALSE(ImageRuns("Marlix.exe"));
}

}  // namespace
