// The whole program update under Wine, for real: Marlix.exe runs in a program
// folder, the test service server offers a newer build, and MarlixUpd.exe
// stops the program, downloads, swaps and starts the new one. Its message
// boxes are answered here, as a user would, and their texts kept.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "answer_watch_win.h"
#include "program_manifest.h"
#include "program_update.h"
#include "test_server_win.h"
#include "updater_driver_win.h"
#include "updater_resource.h"
#include "updater_texts.h"
#include "version_check.h"

namespace {

using namespace marlix_test;
using namespace marlix::updater;

// A Unix path of the build as Wine sees it.
std::string WinePath(std::string unix_path) {
  for (char& c : unix_path) {
    if (c == '/') c = '\\';
  }
  return "Z:" + unix_path;
}

const std::string kBuildApp = WinePath(MARLIX_TEST_BIN_DIR "/bin");

class UpdaterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string url = marlix_test::TestServerUrl();
    ASSERT_FALSE(url.empty()) << "no test server";
    base_ = url;
    // The programs started here inherit the server's address.
    _putenv_s("MARLIX_SERVER_URL", url.c_str());
    EndAll("Marlix.exe");
    // Wine's desktop is an explorer.exe too: only folder windows the test opens are closed.
    for (const auto& [pid, path] : RunningPrograms("explorer.exe")) explorers_before_.insert(pid);
    // A program folder whose name holds Korean, which the system's code page
    // of an English Windows cannot spell.
    dir_ = WinePath(kScratchDir + "/updater-test/") + "마릭스 " +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ::CreateDirectoryW(Wide(WinePath(kScratchDir + "/updater-test")).c_str(), nullptr);
    ::CreateDirectoryW(Wide(dir_).c_str(), nullptr);
    for (const char* name : {kProgramFile, kNewProgramFile, kOldProgramFile, "Marlix_New.exe.part"}) {
      ::DeleteFileW(Wide(Path(name)).c_str());
    }
    old_program_ = ReadBytes(kBuildApp + "\\Marlix.exe");
    ASSERT_GT(old_program_.size(), 100000u);
    WriteBytes(Path(kProgramFile), old_program_);
    ASSERT_TRUE(::CopyFileW(Wide(kBuildApp + "\\MarlixUpd.exe").c_str(), Wide(Path("MarlixUpd.exe")).c_str(), FALSE));
    // A newer build: the same program with a higher version.
    new_program_ = WithVersion(old_program_, 1, 1);
    Fault("Marlix.exe", "");
    Serve("Marlix.exe", new_program_);
    // The running program finds nothing newer, so it starts no updater of its own.
    Serve("MarlixVer.ini", "[Marlix]\r\nzipver=1.0\r\n");
  }

  void TearDown() override {
    // The server is shared: the next tests meet a service without a manifest.
    for (const char* name : {"manifest.txt", "manifest.txt.sig"})
      ::DeleteFileA((kServerState + "/root/" + name).c_str());
    answerer_.Stop();
    EndAll("MarlixUpd.exe");
    EndAll("Marlix.exe");
    EndAll("Marlix_New.exe");
    // A folder window from a program that could not start would hold the test's output open.
    EndAll("explorer.exe", explorers_before_);
    for (Process* p : {&updater_, &program_}) {
      if (p->handle) ::CloseHandle(p->handle);
    }
    _putenv_s("MARLIX_SERVER_URL", "");
  }

  std::string Path(const std::string& name) const { return dir_ + "\\" + name; }

  // Sets how the test server answers NAME (no query: normally again).
  void Fault(const std::string& name, const std::string& query) { SetFault(base_, name, query); }
  Process Start(const std::string& exe, const std::string& dir) { return StartProcess(exe, dir); }

  // Marlix.exe from the program folder, running once it has a window.
  void StartProgram() {
    program_ = Start(Path(kProgramFile), dir_);
    for (const ULONGLONG deadline = ::GetTickCount64() + 60000; ::GetTickCount64() < deadline;) {
      if (!TopWindowsOf(program_.pid).empty()) return;
      ASSERT_TRUE(program_.Running()) << "Marlix.exe ended at start";
      ::Sleep(20);
    }
    FAIL() << "Marlix.exe shows no window";
  }

  // The updater a started Marlix.exe starts beside it; 0 when none comes within a minute.
  DWORD WaitForUpdaterStart() {
    for (const ULONGLONG deadline = ::GetTickCount64() + 60000; ::GetTickCount64() < deadline; ::Sleep(20)) {
      for (const auto& [pid, path] : RunningPrograms("MarlixUpd.exe")) return pid;
    }
    return 0;
  }

  void AnswerBoxesOf(DWORD pid) { answerer_.Answer(pid); }
  std::vector<std::string> Boxes() { return answerer_.Boxes(); }
  void ForgetBoxes() { answerer_.Forget(); }
  bool WaitForBoxes(std::size_t count, DWORD ms) { return answerer_.WaitForBoxes(count, ms); }

  // The folder holds the program, the updater and nothing the update left.
  void ExpectFolderHolds(const std::string& program) {
    EXPECT_TRUE(ReadBytes(Path(kProgramFile)) == program) << "Marlix.exe is not the expected build";
    for (const char* name : {kNewProgramFile, kOldProgramFile, "Marlix_New.exe.part"}) {
      EXPECT_EQ(::GetFileAttributesW(Wide(Path(name)).c_str()), INVALID_FILE_ATTRIBUTES) << name << " left behind";
    }
  }

  // Some program of the folder is running again, from the folder's Marlix.exe.
  bool ProgramRunsFromFolder(DWORD wait_ms) {
    wchar_t full[MAX_PATH] = {};
    ::GetFullPathNameW(Wide(Path(kProgramFile)).c_str(), MAX_PATH, full, nullptr);
    for (const ULONGLONG deadline = ::GetTickCount64() + wait_ms; ::GetTickCount64() < deadline; ::Sleep(50)) {
      for (const auto& [pid, path] : RunningPrograms("Marlix.exe")) {
        if (pid != program_.pid && ::lstrcmpiW(Wide(path).c_str(), full) == 0) return true;
      }
    }
    return false;
  }

  std::string base_;
  std::string dir_;
  std::set<DWORD> explorers_before_;
  std::string old_program_;
  std::string new_program_;
  Process program_;
  Process updater_;
  BoxAnswerer answerer_;
};

TEST_F(UpdaterTest, ANewerVersionOnTheServerReplacesTheRunningProgram) {
  // Marlix finds the newer version at its start and starts MarlixUpd.exe beside
  // it, though started in another working folder (as the start with Windows is).
  Serve("MarlixVer.ini", "[Marlix]\r\nzipver=1.1\r\n");
  const std::string elsewhere = dir_ + "\\elsewhere";
  ::CreateDirectoryW(Wide(elsewhere).c_str(), nullptr);
  const ULONGLONG started = ::GetTickCount64();
  program_ = Start(Path(kProgramFile), elsewhere);
  const DWORD updater_pid = WaitForUpdaterStart();
  ASSERT_NE(updater_pid, 0u) << "Marlix.exe did not start the updater";
  // The new build asks again at its start: now it is the newest.
  Serve("MarlixVer.ini", "[Marlix]\r\nzipver=1.0\r\n");
  updater_ = {::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, updater_pid), updater_pid};
  AnswerBoxesOf(updater_pid);
  ASSERT_TRUE(updater_.WaitEnd(60000)) << "the updater did not end";
  const double seconds = static_cast<double>(::GetTickCount64() - started) / 1000;
  RecordProperty("update_seconds", std::to_string(seconds));
  std::printf("the whole update took %.1f s\n", seconds);

  EXPECT_EQ(Boxes(), std::vector<std::string>{kTextUpdated});
  EXPECT_TRUE(program_.WaitEnd(1000)) << "the old program still runs";
  ExpectFolderHolds(new_program_);
  EXPECT_TRUE(ProgramRunsFromFolder(10000)) << "the new program was not started";
}

// A service with a manifest: the updater takes only the program its record
// names, though another build is signed too; and the running program starts
// the updater for a newer one there, though the version file names nothing newer.
TEST_F(UpdaterTest, AManifestNamingANewerProgramUpdatesToItAndToNothingElse) {
  // Above any edition the prefix's data folder may hold from other tests.
  constexpr std::uint64_t kEdition = 1000000;
  Serve("manifest.txt", ProgramManifest(kEdition, "1.1.0.0", new_program_));
  Serve("Marlix.exe", WithVersion(old_program_, 1, 2));
  updater_ = Start(Path("MarlixUpd.exe"), dir_);
  AnswerBoxesOf(updater_.pid);
  ASSERT_TRUE(WaitForBoxes(1, 60000)) << "no message box";
  ASSERT_EQ(Boxes().size(), 1u);
  std::string refusal = Boxes().back();
  refusal.erase(std::remove(refusal.begin(), refusal.end(), '\r'), refusal.end());
  EXPECT_EQ(refusal, std::string(kTextCannotDownload) + "\n" + kTextNotListedProgram);
  ExpectFolderHolds(old_program_);
  ::PostMessageA(UpdaterWindow(updater_.pid, 5000), WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(updater_.WaitEnd(10000)) << "Cancel did not end the updater";
  ::CloseHandle(updater_.handle);
  updater_ = {};

  Serve("Marlix.exe", new_program_);
  ForgetBoxes();
  program_ = Start(Path(kProgramFile), dir_);
  const DWORD updater_pid = WaitForUpdaterStart();
  ASSERT_NE(updater_pid, 0u) << "Marlix.exe did not start the updater";
  updater_ = {::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, updater_pid), updater_pid};
  AnswerBoxesOf(updater_pid);
  ASSERT_TRUE(updater_.WaitEnd(60000)) << "the updater did not end";
  EXPECT_EQ(Boxes(), std::vector<std::string>{kTextUpdated});
  ExpectFolderHolds(new_program_);
  // The new build is the one listed: it starts no updater of its own.
  ASSERT_TRUE(ProgramRunsFromFolder(10000)) << "the new program was not started";
  ::Sleep(3000);
  EXPECT_TRUE(RunningPrograms("MarlixUpd.exe").empty()) << "the listed program started the updater again";
}

TEST_F(UpdaterTest, EveryRunningCopyIsStoppedWhereverItLies) {
  StartProgram();
  // Two more copies under the names stopped, in another folder.
  const std::string other = dir_ + "\\other";
  ::CreateDirectoryW(Wide(other).c_str(), nullptr);
  const std::string idle = WinePath(MARLIX_IDLE_PROGRAM);
  ASSERT_TRUE(::CopyFileW(Wide(idle).c_str(), Wide(other + "\\Marlix.exe").c_str(), FALSE));
  ASSERT_TRUE(::CopyFileW(Wide(idle).c_str(), Wide(other + "\\Marlix_New.exe").c_str(), FALSE));
  Process second = Start(other + "\\Marlix.exe", other);
  Process third = Start(other + "\\Marlix_New.exe", other);
  ASSERT_TRUE(second.Running() && third.Running());

  // Started in the other folder: its own folder is still the one it updates.
  updater_ = Start(Path("MarlixUpd.exe"), other);
  AnswerBoxesOf(updater_.pid);
  ASSERT_TRUE(updater_.WaitEnd(60000)) << "the updater did not end";
  EXPECT_TRUE(program_.WaitEnd(1000));
  EXPECT_TRUE(second.WaitEnd(1000));
  EXPECT_TRUE(third.WaitEnd(1000));
  EXPECT_EQ(Boxes(), std::vector<std::string>{kTextUpdated});
  ExpectFolderHolds(new_program_);
  EXPECT_TRUE(ProgramRunsFromFolder(10000));
  ::CloseHandle(second.handle);
  ::CloseHandle(third.handle);
}

TEST_F(UpdaterTest, AFailedDownloadKeepsTheProgramAndOKTriesAgain) {
  struct Failure {
    const char* fault;   // how the server answers
    std::string body;    // what it offers as Marlix.exe
    const char* status;  // the download text that stays
  };
  // An error answer, a page sent as if it were the program, a body cut midway.
  const Failure failures[] = {
      {"status=404", new_program_, kTextDownloadStarting},
      {"", "<html><body>Service temporarily unavailable</body></html>", kTextDownloading},
      {"cut=300000", new_program_, kTextDownloading},
  };
  for (const Failure& failure : failures) {
    SCOPED_TRACE(failure.fault);
    Serve("Marlix.exe", failure.body);
    Fault("Marlix.exe", failure.fault);
    ForgetBoxes();
    if (updater_.handle) ::CloseHandle(updater_.handle);
    updater_ = Start(Path("MarlixUpd.exe"), dir_);
    AnswerBoxesOf(updater_.pid);
    ASSERT_TRUE(WaitForBoxes(2, 30000)) << "no message boxes";
    HWND window = UpdaterWindow(updater_.pid, 5000);
    ASSERT_NE(window, nullptr);
    // Both buttons come back once the last box is answered.
    bool enabled = false;
    for (int i = 0; i < 250 && !enabled; ++i, ::Sleep(20)) {
      enabled = ::IsWindowEnabled(::GetDlgItem(window, IDOK)) && ::IsWindowEnabled(::GetDlgItem(window, IDCANCEL));
    }
    EXPECT_TRUE(enabled);
    EXPECT_TRUE(updater_.Running()) << "the window must stay open";
    EXPECT_EQ(Boxes(), (std::vector<std::string>{kTextNetworkFailure, kTextCannotDownload}));
    EXPECT_EQ(TextOf(::GetDlgItem(window, IDC_UPDATE_MESSAGE)), failure.status);
    ExpectFolderHolds(old_program_);

    if (&failure != &failures[2]) {
      ::PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
      EXPECT_TRUE(updater_.WaitEnd(10000)) << "Cancel did not end the updater";
      continue;
    }
    // The server is well again: OK runs the whole update once more.
    Fault("Marlix.exe", "");
    ForgetBoxes();
    ::PostMessageA(window, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(updater_.WaitEnd(60000)) << "the second try did not end";
    EXPECT_EQ(Boxes(), std::vector<std::string>{kTextUpdated});
    ExpectFolderHolds(new_program_);
    EXPECT_TRUE(ProgramRunsFromFolder(10000));
  }
}

TEST_F(UpdaterTest, CancelBeforeTheFirstTickTouchesNothing) {
  StartProgram();
  updater_ = Start(Path("MarlixUpd.exe"), dir_);
  // The tick comes 100 ms after the window shows; a posted Cancel goes before
  // any timer message, so it has only to be posted within that time.
  HWND window = UpdaterWindow(updater_.pid, 60000, 0);
  ASSERT_NE(window, nullptr);
  ::PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  ASSERT_TRUE(updater_.WaitEnd(10000)) << "Cancel did not end the updater";
  EXPECT_TRUE(program_.Running()) << "the program was stopped";
  ExpectFolderHolds(old_program_);
}

// The new build at 1 MB a second: the window answers throughout (goal: 100 ms;
// the bound leaves room for a loaded machine) and its bar moves at most ten
// times a second. It prints the longest wait (for bench/README.md).
TEST_F(UpdaterTest, TheWindowAnswersThroughoutASlowDownload) {
  Fault("Marlix.exe", "rate=1048576");
  StartProgram();
  updater_ = Start(Path("MarlixUpd.exe"), dir_);
  HWND window = UpdaterWindow(updater_.pid, 60000);
  ASSERT_NE(window, nullptr);
  int moves = 0;
  DWORD_PTR shown = 0;
  ULONGLONG first_move = 0, last_move = 0;
  AnswerWatch watch(window);
  Every bar_watch(5, [&] {
    const auto position = static_cast<DWORD_PTR>(::SendDlgItemMessageW(window, IDC_UPDATER_PROGRESS, PBM_GETPOS, 0, 0));
    if (position == shown) return;
    shown = position;
    last_move = ::GetTickCount64();
    if (moves++ == 0) first_move = last_move;
  });
  // The update ends with a box over its window, answered only once the
  // watch has stopped: under Wine a closing window holds its thread a while.
  auto box_shown = [&] {
    const std::vector<HWND> windows = TopWindowsOf(updater_.pid);
    return std::any_of(windows.begin(), windows.end(), [&](HWND w) { return w != window && ::IsWindowVisible(w); });
  };
  for (const ULONGLONG deadline = ::GetTickCount64() + 120000; !box_shown(); ::Sleep(20)) {
    ASSERT_LT(::GetTickCount64(), deadline) << "the update did not end";
  }
  bar_watch.Stop();
  const double worst_ms = watch.Finish();
  AnswerBoxesOf(updater_.pid);
  ASSERT_TRUE(updater_.WaitEnd(30000));
  EXPECT_EQ(Boxes(), std::vector<std::string>{kTextUpdated});
  ExpectFolderHolds(new_program_);
  EXPECT_LT(worst_ms, 250.0) << "the window did not answer in time";
  const double seconds = static_cast<double>(last_move - first_move) / 1000.0;
  EXPECT_LE(moves, 10 * seconds + 2) << "the bar moved too often";
  std::printf("MarlixUpd, %.1f MB at 1 MB/s: longest wait %.1f ms; the bar moved %d times in %.1f s\n",
              static_cast<double>(new_program_.size()) / (1 << 20), worst_ms, moves, seconds);
}

// What MarlixUpd.exe carries, read from the file: its window, about box,
// about entry, version and the manifest that keeps Windows from asking to
// elevate a program whose name says "Upd".
TEST(UpdaterResources, TheProgramCarriesItsWindowVersionAndManifest) {
  const std::string exe = kBuildApp + "\\MarlixUpd.exe";
  HMODULE module = ::LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);

  HRSRC manifest = ::FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  ASSERT_NE(manifest, nullptr);
  const std::string xml(static_cast<const char*>(::LockResource(::LoadResource(module, manifest))),
                        ::SizeofResource(module, manifest));
  EXPECT_NE(xml.find("requestedExecutionLevel level=\"asInvoker\""), std::string::npos);

  wchar_t about[128] = {};
  ::LoadStringW(module, IDS_UPDATER_ABOUTBOX, about, 128);
  EXPECT_EQ(std::wstring(about), Wide(MARLIXUPD_ABOUT_ITEM));
  EXPECT_NE(::FindResourceA(module, MAKEINTRESOURCEA(IDD_UPDATER_ABOUTBOX), MAKEINTRESOURCEA(5)), nullptr);
  EXPECT_NE(::FindResourceA(module, MAKEINTRESOURCEA(IDI_UPDATER), MAKEINTRESOURCEA(14)), nullptr);

  // The updater window, made here from the program's own template.
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&icc);
  HRSRC dialog = ::FindResourceA(module, MAKEINTRESOURCEA(IDD_UPDATER), MAKEINTRESOURCEA(5));
  ASSERT_NE(dialog, nullptr);
  HWND window = ::CreateDialogIndirectParamA(
      ::GetModuleHandleA(nullptr), static_cast<LPCDLGTEMPLATEA>(::LockResource(::LoadResource(module, dialog))),
      nullptr, [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(TextOf(window), MARLIXUPD_TITLE);
  EXPECT_EQ(::GetWindowLongA(window, GWL_STYLE) & WS_SYSMENU, 0) << "no close box";
  EXPECT_EQ(TextOf(::GetDlgItem(window, IDC_UPDATE_MESSAGE)), kTextAsking);
  EXPECT_NE(::GetWindowLongA(::GetDlgItem(window, IDC_UPDATER_PROGRESS), GWL_STYLE) & PBS_SMOOTH, 0);
  EXPECT_EQ(TextOf(::GetDlgItem(window, IDOK)), "확인");
  EXPECT_EQ(TextOf(::GetDlgItem(window, IDCANCEL)), "취소");
  ::DestroyWindow(window);
  ::FreeLibrary(module);

  DWORD ignored = 0;
  std::vector<char> info(::GetFileVersionInfoSizeA(exe.c_str(), &ignored));
  ASSERT_FALSE(info.empty());
  ASSERT_TRUE(::GetFileVersionInfoA(exe.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT size = 0;
  ASSERT_TRUE(::VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &size));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
}

// A string of a program's version resource (Korean block); empty if missing.
std::string VersionString(const std::vector<char>& info, const char* name) {
  char* value = nullptr;
  UINT size = 0;
  const std::string key = std::string("\\StringFileInfo\\041203b5\\") + name;
  if (!::VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &size) || !size) return {};
  return value;
}

std::vector<char> VersionInfo(const std::string& exe) {
  DWORD ignored = 0;
  std::vector<char> info(::GetFileVersionInfoSizeA(exe.c_str(), &ignored));
  if (!info.empty()) ::GetFileVersionInfoA(exe.c_str(), 0, static_cast<DWORD>(info.size()), info.data());
  return info;
}

std::string Manifest(const std::string& exe) {
  HMODULE module = ::LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return {};
  std::string xml;
  if (HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24))) {
    xml.assign(static_cast<const char*>(::LockResource(::LoadResource(module, found))),
               ::SizeofResource(module, found));
  }
  ::FreeLibrary(module);
  return xml;
}

// The two programs name one product alike; Marlix.exe's version is the one it
// compares with the service's, so a publisher sees in Explorer what will be
// compared. Both draw at the monitor's own DPI.
TEST(ProgramResources, BothProgramsNameOneProductAndMarlixCarriesItsOwnVersion) {
  const std::vector<char> marlix = VersionInfo(kBuildApp + "\\Marlix.exe");
  const std::vector<char> updater = VersionInfo(kBuildApp + "\\MarlixUpd.exe");
  ASSERT_FALSE(marlix.empty());
  ASSERT_FALSE(updater.empty());
  EXPECT_EQ(VersionString(marlix, "ProductVersion"), marlix::kProgramVersion);
  EXPECT_EQ(VersionString(marlix, "FileVersion"), marlix::kProgramVersion);
  EXPECT_EQ(VersionString(marlix, "OriginalFilename"), "Marlix.exe");
  EXPECT_EQ(VersionString(updater, "OriginalFilename"), "MarlixUpd.exe");
  for (const char* name : {"CompanyName", "ProductName", "LegalCopyright"}) {
    EXPECT_FALSE(VersionString(marlix, name).empty()) << name;
    EXPECT_EQ(VersionString(marlix, name), VersionString(updater, name)) << name;
  }
  EXPECT_NE(VersionString(marlix, "FileDescription"), VersionString(updater, "FileDescription"));

  const std::string marlix_xml = Manifest(kBuildApp + "\\Marlix.exe");
  const std::string updater_xml = Manifest(kBuildApp + "\\MarlixUpd.exe");
  for (const std::string* xml : {&marlix_xml, &updater_xml}) {
    EXPECT_NE(xml->find(">PerMonitorV2, PerMonitor</dpiAwareness>"), std::string::npos);
    EXPECT_NE(xml->find(">true/pm</dpiAware>"), std::string::npos) << "what Windows before 10 (1607) reads";
    EXPECT_NE(xml->find("Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(xml->find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos) << "Windows 10 and 11";
    EXPECT_NE(xml->find("{e2011457-1546-43c5-a5fe-008deee3d3f0}"), std::string::npos) << "Vista";
  }
}

}  // namespace
