// Marlix.exe run for real beside a test and driven from outside, as a user's
// clicks and keys would drive it: its hidden frame and search windows found by
// title and process, controls by id, messages sent and posted, texts read back.
// One Wine prefix runs one Marlix at a time (its single-instance mutex), so a
// test stops every Marlix it started, whatever happened.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "resource.h"
#include "test_slot_win.h"
#include "test_text_win.h"

namespace marlix_test {

inline constexpr char kFrameTitle[] = MARLIX_FRAME_TITLE;
inline constexpr char kSearchTitle[] = MARLIX_SEARCH_TITLE;
inline constexpr char kAboutTitle[] = MARLIX_ABOUT_TITLE;
inline constexpr UINT kIconMessage = 0x0464;
// Nothing listens on port 1 of the loopback address: the version check at
// start fails at once.
inline constexpr char kNoServer[] = "http://127.0.0.1:1";
inline constexpr char kDataDir[] = "c:\\postcode";
inline constexpr char kDataFile[] = "c:\\postcode\\postcode.txt";
inline constexpr DWORD kWaitMs = 60000;  // a cold Wine can be slow; a healthy run is far quicker

// A Unix path of the build as Wine sees it (drive Z: is the root).
inline std::string WinePath(const char* unix_path) {
  std::string path = std::string("Z:") + unix_path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The folder the tests install Marlix in: its name holds Korean, which the
// system's code page of an English Windows cannot spell.
inline std::string KoreanProgramFolder() { return WinePath(kScratchDir.c_str()) + "\\마릭스 우편번호"; }

// Marlix.exe and MarlixUpd.exe of the build, copied into KoreanProgramFolder();
// returns the program's path there.
inline std::string InstallInKoreanFolder() {
  const std::string folder = KoreanProgramFolder();
  ::CreateDirectoryW(Wide(folder).c_str(), nullptr);
  for (const char* name : {"Marlix.exe", "MarlixUpd.exe"}) {
    const std::string built = WinePath(MARLIX_TEST_BIN_DIR "/bin/") + name;
    // A program still running from the folder keeps its file; it is the same build.
    ::CopyFileW(Wide(built).c_str(), Wide(folder + "\\" + name).c_str(), FALSE);
  }
  return folder + "\\Marlix.exe";
}

// The real data, read once.
inline const std::string& RealData() {
  static const std::string data = ReadWholeFile(WinePath(MARLIX_REAL_DATA));
  return data;
}

// Puts the real data where Marlix reads it, unless it is there already.
inline void InstallRealData() {
  ::CreateDirectoryA(kDataDir, nullptr);
  ASSERT_FALSE(RealData().empty()) << "cannot read " << MARLIX_REAL_DATA;
  if (ReadWholeFile(kDataFile) != RealData()) {
    ::SetFileAttributesA(kDataFile, FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(::CopyFileA(WinePath(MARLIX_REAL_DATA).c_str(), kDataFile, FALSE));
  }
  // The shared copy is read-only; the program's own data file is not.
  ::SetFileAttributesA(kDataFile, FILE_ATTRIBUTE_NORMAL);
}

// The top-level windows of one process with exactly this title.
inline std::vector<HWND> ProcessWindows(DWORD pid, const char* title) {
  struct Search {
    DWORD pid;
    const char* title;
    std::vector<HWND> found;
  } search{pid, title, {}};
  ::EnumWindows(
      [](HWND hwnd, LPARAM param) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(param);
        DWORD owner = 0;
        ::GetWindowThreadProcessId(hwnd, &owner);
        // In UTF-16: a system code page that is not Korean cannot hold the title.
        wchar_t text[256] = {};
        if (owner == s.pid && ::GetWindowTextW(hwnd, text, 256) && Wide(s.title) == text) {
          s.found.push_back(hwnd);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

inline HWND FindProcessWindow(DWORD pid, const char* title) {
  const std::vector<HWND> found = ProcessWindows(pid, title);
  return found.empty() ? nullptr : found.front();
}

// The text on the clipboard as CF_TEXT bytes; nothing when it holds no text.
inline std::optional<std::string> ClipboardText() {
  for (int tries = 0; !::OpenClipboard(nullptr); ++tries) {
    if (tries == 100) return std::nullopt;
    ::Sleep(10);
  }
  std::optional<std::string> text;
  if (HANDLE data = ::GetClipboardData(CF_TEXT)) {
    if (const char* bytes = static_cast<const char*>(::GlobalLock(data))) {
      text = bytes;
      ::GlobalUnlock(data);
    }
  }
  ::CloseClipboard();
  return text;
}

// The clipboard's UTF-16 text and its locale, as programs on any system read them.
inline std::pair<std::wstring, LCID> ClipboardUnicode() {
  std::pair<std::wstring, LCID> found{L"<none>", 0};
  if (!::OpenClipboard(nullptr)) return found;
  if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* text = static_cast<const wchar_t*>(::GlobalLock(data))) {
      found.first = text;
      ::GlobalUnlock(data);
    }
  }
  if (HANDLE data = ::GetClipboardData(CF_LOCALE)) {
    if (const auto* locale = static_cast<const LCID*>(::GlobalLock(data))) {
      found.second = *locale;
      ::GlobalUnlock(data);
    }
  }
  ::CloseClipboard();
  return found;
}

inline void SetClipboardText(const std::string& text) {
  ASSERT_TRUE(::OpenClipboard(nullptr));
  ::EmptyClipboard();
  HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, text.size() + 1);
  std::memcpy(::GlobalLock(block), text.data(), text.size());
  ::GlobalUnlock(block);
  ::SetClipboardData(CF_TEXT, block);
  ::CloseClipboard();
}

// The icons in Wine's notification area: Xvfb has none of its own, so Wine
// shows them in a stand-alone tray window, one child window per icon.
inline bool HasClass(HWND window, std::string_view name) {
  char actual[64] = {};
  ::GetClassNameA(window, actual, sizeof actual);
  return name == actual;
}

inline int TrayIcons() {
  int icons = 0;
  ::EnumWindows(
      [](HWND top, LPARAM count) -> BOOL {
        if (!HasClass(top, "__winex11_standalone_tray")) return TRUE;
        ::EnumChildWindows(
            top,
            [](HWND child, LPARAM count) -> BOOL {
              if (HasClass(child, "__winex11_tray_icon") && ::IsWindowVisible(child)) ++*reinterpret_cast<int*>(count);
              return TRUE;
            },
            count);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&icons));
  return icons;
}

// Wine's tray shows a new icon a little after it was added.
inline int TrayIconsSettled(int expected) {
  for (const ULONGLONG deadline = ::GetTickCount64() + 5000; ::GetTickCount64() < deadline; ::Sleep(20)) {
    if (TrayIcons() == expected) break;
  }
  return TrayIcons();
}

// One Marlix.exe process, and the search window it shows, if any.
class Marlix {
 public:
  Marlix() = default;
  Marlix(const Marlix&) = delete;
  Marlix& operator=(const Marlix&) = delete;
  ~Marlix() { End(); }

  // Starts Marlix.exe with this service address (MARLIX_SERVER_URL): the
  // build's own, installed in a folder whose name holds Korean, or `exe`
  // started in `dir` (the working folder it is given, as a shortcut or the
  // start with Windows would give one). Paths are UTF-8.
  ::testing::AssertionResult Start(const std::string& server, std::string exe = {}, const std::string& dir = {}) {
    ::SetEnvironmentVariableA("MARLIX_SERVER_URL", server.c_str());
    if (exe.empty()) exe = InstallInKoreanFolder();
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const std::wstring wide_dir = Wide(dir);
    const BOOL started = ::CreateProcessW(Wide(exe).c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                                          dir.empty() ? nullptr : wide_dir.c_str(), &si, &pi);
    ::SetEnvironmentVariableA("MARLIX_SERVER_URL", nullptr);
    if (!started) return ::testing::AssertionFailure() << exe << " does not start: error " << ::GetLastError();
    ::CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
    ui_thread_ = pi.dwThreadId;
    started_at_ = ::GetTickCount64();
    return ::testing::AssertionSuccess();
  }

  // Takes over a Marlix that is running already, found by its frame window
  // (the demo starts the program itself, from its program folder).
  ::testing::AssertionResult Attach(HWND frame) {
    DWORD pid = 0;
    const DWORD thread = ::GetWindowThreadProcessId(frame, &pid);
    HANDLE process = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, pid);
    if (!process) return ::testing::AssertionFailure() << "cannot open Marlix's process: error " << ::GetLastError();
    End();
    process_ = process;
    pid_ = pid;
    ui_thread_ = thread;
    frame_ = frame;
    started_at_ = ::GetTickCount64();
    return ::testing::AssertionSuccess();
  }

  // Waits for the process's window with this title; ends early if the process does.
  ::testing::AssertionResult WaitForWindow(const char* title, HWND& found, DWORD ms = kWaitMs) {
    for (const ULONGLONG deadline = ::GetTickCount64() + ms;;) {
      found = FindProcessWindow(pid_, title);
      if (found) return ::testing::AssertionSuccess();
      if (::WaitForSingleObject(process_, 20) != WAIT_TIMEOUT) {
        return ::testing::AssertionFailure()
               << "Marlix.exe ended (code " << ExitCode() << ") without a window \"" << title << '"';
      }
      if (::GetTickCount64() > deadline) {
        return ::testing::AssertionFailure() << "no window \"" << title << "\" after " << ms << " ms";
      }
    }
  }
  ::testing::AssertionResult WaitForFrame(DWORD ms = kWaitMs) { return WaitForWindow(kFrameTitle, frame_, ms); }
  ::testing::AssertionResult WaitForSearchWindow(DWORD ms = kWaitMs) {
    auto found = WaitForWindow(kSearchTitle, dialog_, ms);
    if (found) Settle();
    return found;
  }

  // Starts Marlix and opens its search window from the icon, as a user would.
  ::testing::AssertionResult StartWithSearchWindow(const std::string& server) {
    if (auto result = Start(server); !result) return result;
    if (auto result = WaitForFrame(); !result) return result;
    ClickIcon();
    return WaitForSearchWindow();
  }

  // A left click on the icon, as the notification area tells it to the frame.
  void ClickIcon(LPARAM mouse_message = WM_LBUTTONDOWN) {
    ::PostMessageA(frame_, kIconMessage, IDI_MARLIX, mouse_message);
  }

  // Waits until Marlix has worked off what was posted to it: posts a marker
  // behind it (a text limit far above any term on the second term) and waits
  // to see it set. A sent message would not do, as it overtakes posted ones.
  void Settle() {
    static WPARAM marker = 1000000;
    HWND box = Item(IDC_SECOND_TERM);
    ::PostMessageA(box, EM_SETLIMITTEXT, ++marker, 0);
    for (const ULONGLONG deadline = ::GetTickCount64() + kWaitMs; ::GetTickCount64() < deadline;) {
      if (!Running() || !::IsWindow(box)) return;  // it has ended, or the window has
      DWORD_PTR limit = 0;
      if (::SendMessageTimeoutA(box, EM_GETLIMITTEXT, 0, 0, SMTO_NORMAL, kWaitMs, &limit) && limit == marker) {
        return WaitSearchEnded();
      }
      ::Sleep(5);
    }
    ADD_FAILURE() << "Marlix did not get through its messages";
  }
  // A search runs on a thread of Marlix's own; the window says while it does.
  bool Searching() const { return ::GetPropW(dialog_, L"Marlix.Searching") != nullptr; }
  void WaitSearchEnded() {
    for (const ULONGLONG deadline = ::GetTickCount64() + kWaitMs; Searching(); ::Sleep(2)) {
      if (::GetTickCount64() > deadline || !Running()) {
        ADD_FAILURE() << "the search did not end";
        return;
      }
    }
  }

  // Waits for what Marlix does on threads of its own (the update, the data
  // version): true once `done` holds, checked after Marlix worked off its messages.
  bool WaitUntil(const std::function<bool()>& done, DWORD ms = kWaitMs) {
    for (const ULONGLONG deadline = ::GetTickCount64() + ms;; ::Sleep(20)) {
      Settle();
      if (done()) return true;
      if (::GetTickCount64() > deadline || !Running()) return false;
    }
  }
  // A control's text once it is `expected`, or as it is when the wait gives up.
  std::wstring WaitForText(int id, const std::wstring& expected) {
    WaitUntil([&] { return Text(id) == expected; });
    return Text(id);
  }
  // Chooses the update tab, and waits until its fetch of the data version
  // has ended, shown or failed.
  void ShowUpdateTab() {
    SelectTab(0);
    SetText(IDC_UPDATE_STATUS, "");
    SelectTab(2);
    WaitUntil([&] {
      const std::wstring status = Text(IDC_UPDATE_STATUS);
      return status == L"우편번호 버전 정보입니다." || status == L"네트워크 연결을 확인해 주세요.";
    });
  }
  // The data update has ended: 업데이트 can be pressed again.
  bool WaitUpdateEnded() {
    return WaitUntil([&] { return ::IsWindowEnabled(Item(IDC_UPDATE)) != FALSE; });
  }

  // Waits until the search window has gone; false if it is still there.
  bool WaitWindowGone(HWND window, DWORD ms = 10000) {
    for (const ULONGLONG deadline = ::GetTickCount64() + ms; ::IsWindow(window);) {
      if (::GetTickCount64() > deadline) return false;
      ::Sleep(10);
    }
    return true;
  }

  bool Running() const { return process_ && ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }
  // The exit code once the process has ended within the wait; nothing otherwise.
  std::optional<DWORD> WaitExit(DWORD ms = 10000) {
    if (::WaitForSingleObject(process_, ms) != WAIT_OBJECT_0) return std::nullopt;
    return ExitCode();
  }
  DWORD ExitCode() const {
    DWORD code = 0;
    ::GetExitCodeProcess(process_, &code);
    return code;
  }

  // Clears the program away for the next test. The ways it ends are tested
  // on their own; here it is stopped at once, since under Wine without a
  // window manager each window that closes costs two seconds.
  void End() {
    if (!process_) return;
    if (Running()) {
      ::TerminateProcess(process_, 99);
      ::WaitForSingleObject(process_, 10000);
    }
    ::CloseHandle(process_);
    process_ = nullptr;
    frame_ = dialog_ = nullptr;
  }

  HWND Item(int id) const { return ::GetDlgItem(dialog_, id); }
  bool Visible(int id) const { return ::IsWindowVisible(Item(id)) != FALSE; }

  // GetWindowText does not read a control of another process; WM_GETTEXT does.
  std::wstring Text(int id) const {
    std::wstring text(static_cast<std::size_t>(::SendMessageW(Item(id), WM_GETTEXTLENGTH, 0, 0)) + 1, L'\0');
    ::SendMessageW(Item(id), WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(text.size() - 1);
    return text;
  }
  void SetText(int id, std::string_view utf8) { SetText(id, Wide(utf8)); }
  void SetText(int id, const std::wstring& text) {
    ::SendMessageW(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }

  int ListCount() const { return static_cast<int>(::SendMessageW(Item(IDC_RESULT_LIST), LB_GETCOUNT, 0, 0)); }
  // Across processes the W form is the one Wine answers correctly.
  std::wstring ListItem(int index) const {
    HWND list = Item(IDC_RESULT_LIST);
    const auto len = ::SendMessageW(list, LB_GETTEXTLEN, index, 0);
    if (len < 0) return L"<none>";
    std::wstring text(static_cast<std::size_t>(len) + 1, L'\0');
    ::SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(len));
    return text;
  }
  std::vector<std::wstring> ListItems() const {
    std::vector<std::wstring> items;
    for (int i = 0, n = ListCount(); i < n; ++i) items.push_back(ListItem(i));
    return items;
  }
  // Selects a line as a click in the list would, and reads what was copied.
  std::optional<std::string> Select(int index) {
    SetClipboardText("stale");
    HWND list = Item(IDC_RESULT_LIST);
    ::SendMessageW(list, LB_SETCURSEL, index, 0);
    ::PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDC_RESULT_LIST, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    Settle();
    return ClipboardText();
  }
  int Tab() const { return static_cast<int>(::SendMessageW(Item(IDC_MODE_TAB), TCM_GETCURSEL, 0, 0)); }

  // Chooses a mode as the arrow keys on the tab control do, which raises the
  // selection-change notification a user's click would.
  void SelectTab(int tab) {
    for (int guard = 0; Tab() != tab && guard < 4; ++guard) {
      PostKey(IDC_MODE_TAB, Tab() < tab ? VK_RIGHT : VK_LEFT);
    }
    ASSERT_EQ(Tab(), tab);
  }

  void PostKey(int id, WPARAM vk) {
    ::PostMessageA(Item(id), WM_KEYDOWN, vk, 1);
    ::PostMessageA(Item(id), WM_KEYUP, vk, 0xC0000001);
    Settle();
  }

  // Types into a control key by key, as the keyboard's characters come.
  void Type(int id, std::string_view utf8) {
    for (wchar_t c : Wide(utf8)) ::PostMessageW(Item(id), WM_CHAR, c, 1);
  }

  void PostCommand(WPARAM command) {
    ::PostMessageA(dialog_, WM_COMMAND, command, 0);
    Settle();
  }

  // A button pressed; what it starts may block Marlix for a while.
  void Click(int id) {
    DWORD_PTR ignored;
    ASSERT_TRUE(::SendMessageTimeoutA(Item(id), BM_CLICK, 0, 0, SMTO_NORMAL, 120000, &ignored));
    Settle();
  }

  void SimpleSearch(int kind_index, std::string_view term) {
    ::SendMessageW(Item(IDC_KIND_COMBO), CB_SETCURSEL, kind_index, 0);
    SetText(IDC_FIRST_TERM, term);
    Click(IDC_SEARCH);
  }

  // The composite tab's search: operator 0 AND, 1 OR.
  void CompositeSearch(int op_index, std::string_view term1, std::string_view term2) {
    ::SendMessageW(Item(IDC_KIND_COMBO), CB_SETCURSEL, op_index, 0);
    SetText(IDC_FIRST_TERM, term1);
    SetText(IDC_SECOND_TERM, term2);
    Click(IDC_SEARCH);
  }

  HANDLE process() const { return process_; }
  DWORD pid() const { return pid_; }
  DWORD ui_thread() const { return ui_thread_; }
  HWND frame() const { return frame_; }
  HWND dialog() const { return dialog_; }
  ULONGLONG started_at() const { return started_at_; }

 private:
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
  DWORD ui_thread_ = 0;
  ULONGLONG started_at_ = 0;
  HWND frame_ = nullptr;
  HWND dialog_ = nullptr;
};

// The search window opened from the icon of a Marlix started afresh for each
// test over the real data, with no service to reach.
class FreshSearchWindow : public ::testing::Test, protected Marlix {
 protected:
  void SetUp() override {
    InstallRealData();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(StartWithSearchWindow(kNoServer));
  }
  void TearDown() override { End(); }
};

}  // namespace marlix_test
