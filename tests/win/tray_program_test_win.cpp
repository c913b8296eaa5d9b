// Marlix.exe as the notification-area program it is: the hidden frame, the
// search window the icon opens, the ways the program ends and the ways it does
// not, a second start beside a running one, and the copy of a selected result
// line to the clipboard.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "marlix_driver_win.h"
#include "resource.h"

namespace {

using namespace marlix_test;

class TrayProgram : public ::testing::Test {
 protected:
  void SetUp() override { InstallRealData(); }

  // The frame has taken every message sent before this one.
  static bool FrameAnswers(HWND frame) {
    DWORD_PTR ignored;
    return ::SendMessageTimeoutA(frame, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored) != 0;
  }
};

TEST_F(TrayProgram, TheHiddenFrameOpensOneSearchWindowAtATimeByMouseOrKeyboard) {
  Marlix marlix;
  ASSERT_TRUE(marlix.Start(kNoServer));
  ASSERT_TRUE(marlix.WaitForFrame());
  HWND frame = marlix.frame();
  wchar_t title[64] = {};
  ::GetWindowTextW(frame, title, 64);
  EXPECT_EQ(title, Wide(kFrameTitle));
  // Programs of a Korean system find it by its CP949 title.
  if (::GetACP() == 949) {
    EXPECT_EQ(::FindWindowA(nullptr, Cp949(kFrameTitle).c_str()), frame);
  }
  EXPECT_FALSE(::IsWindowVisible(frame));
  ASSERT_TRUE(FrameAnswers(frame));  // past its start-up
  EXPECT_EQ(ProcessWindows(marlix.pid(), kSearchTitle).size(), 0u) << "a search window without a click";

  marlix.ClickIcon();
  ASSERT_TRUE(marlix.WaitForSearchWindow());
  HWND window = marlix.dialog();
  EXPECT_TRUE(::IsWindowVisible(window));
  EXPECT_EQ(::GetWindow(window, GW_OWNER), frame);
  EXPECT_FALSE(::IsWindowEnabled(frame)) << "the frame is not held while the window runs";

  // A second click while the window is open does nothing.
  marlix.ClickIcon();
  marlix.Settle();
  EXPECT_EQ(ProcessWindows(marlix.pid(), kSearchTitle), std::vector<HWND>{window});

  marlix.PostKey(IDC_FIRST_TERM, VK_ESCAPE);
  ASSERT_TRUE(marlix.WaitWindowGone(window));
  EXPECT_TRUE(marlix.Running());
  EXPECT_TRUE(::IsWindowEnabled(frame));
  EXPECT_FALSE(::IsWindowVisible(frame));

  // Reached by keyboard (Win+B, the arrows, Enter) the icon opens the window;
  // Shift+F10 or the menu key opens its menu where the shell says.
  ::PostMessageA(frame, kIconMessage, MAKEWPARAM(300, 200), MAKELPARAM(NIN_KEYSELECT, IDI_MARLIX));
  ASSERT_TRUE(marlix.WaitForSearchWindow());
  marlix.PostKey(IDC_FIRST_TERM, VK_ESCAPE);
  ASSERT_TRUE(marlix.WaitWindowGone(marlix.dialog()));
  ::SetCursorPos(5, 5);
  ::PostMessageA(frame, kIconMessage, MAKEWPARAM(300, 200), MAKELPARAM(WM_CONTEXTMENU, IDI_MARLIX));
  HWND menu = nullptr;
  for (int tries = 0; tries < 500 && !(menu && ::IsWindowVisible(menu)); ++tries, ::Sleep(20)) {
    menu = ::FindWindowA("#32768", nullptr);
  }
  ASSERT_TRUE(menu && ::IsWindowVisible(menu)) << "no menu";
  RECT at{};
  ::GetWindowRect(menu, &at);
  EXPECT_EQ(at.left, 300);
  EXPECT_EQ(at.top, 200);
  ::PostMessageA(frame, WM_CANCELMODE, 0, 0);
}

// A later start nudges the running program with WM_DESTROY; only the frame's
// real end may end the program. A restarted Explorer has lost the icon and
// says so with TaskbarCreated.
TEST_F(TrayProgram, TheIconOutlastsWMDestroyReturnsOnTaskbarCreatedAndGoesWithWMClose) {
  const int before = TrayIcons();
  Marlix marlix;
  ASSERT_TRUE(marlix.Start(kNoServer));
  ASSERT_TRUE(marlix.WaitForFrame());
  HWND frame = marlix.frame();
  ASSERT_TRUE(FrameAnswers(frame));
  const ULONGLONG asked = ::GetTickCount64();
  EXPECT_EQ(TrayIconsSettled(before + 1), before + 1);
  std::printf("icon shown %llu ms after the frame answered\n", ::GetTickCount64() - asked);

  DWORD_PTR ignored;
  ASSERT_TRUE(::SendMessageTimeoutA(frame, WM_DESTROY, 0, 0, SMTO_NORMAL, 10000, &ignored));
  ASSERT_TRUE(FrameAnswers(frame));
  EXPECT_TRUE(marlix.Running());
  EXPECT_FALSE(::IsWindowVisible(frame));
  EXPECT_EQ(TrayIcons(), before + 1);
  marlix.ClickIcon();
  ASSERT_TRUE(marlix.WaitForSearchWindow()) << "the icon no longer opens the window";
  marlix.PostKey(IDC_FIRST_TERM, VK_ESCAPE);
  ASSERT_TRUE(marlix.WaitWindowGone(marlix.dialog()));

  NOTIFYICONDATAA icon{};
  icon.cbSize = NOTIFYICONDATAA_V1_SIZE;
  icon.hWnd = frame;
  icon.uID = IDI_MARLIX;
  ASSERT_TRUE(::Shell_NotifyIconA(NIM_DELETE, &icon));
  ASSERT_EQ(TrayIcons(), before);
  ::SendMessageTimeoutA(frame, ::RegisterWindowMessageA("TaskbarCreated"), 0, 0, SMTO_NORMAL, 10000, &ignored);
  EXPECT_EQ(TrayIcons(), before + 1) << "the icon did not come back";

  ::PostMessageA(frame, WM_CLOSE, 0, 0);
  EXPECT_EQ(marlix.WaitExit(), std::optional<DWORD>(0));
  EXPECT_FALSE(::IsWindow(frame));
  EXPECT_EQ(TrayIcons(), before);
}

// The icon menu's "종료" ends the program, and the open window with it.
TEST_F(TrayProgram, TheIconMenusExitEndsItWhileAWindowIsOpen) {
  Marlix marlix;
  ASSERT_TRUE(marlix.StartWithSearchWindow(kNoServer));
  HWND window = marlix.dialog();
  ::PostMessageA(marlix.frame(), WM_COMMAND, ID_EXIT, 0);
  EXPECT_EQ(marlix.WaitExit(), std::optional<DWORD>(0));
  EXPECT_FALSE(::IsWindow(window));
}

TEST_F(TrayProgram, ASecondStartShowsAWindowOfItsOwnAndLeavesTheFirstRunning) {
  Marlix first;
  ASSERT_TRUE(first.Start(kNoServer));
  ASSERT_TRUE(first.WaitForFrame());
  ASSERT_TRUE(FrameAnswers(first.frame()));

  // Each further start does the same, however its window is closed.
  for (const bool by_exit : {false, true}) {
    Marlix later;
    ASSERT_TRUE(later.Start(kNoServer));
    ASSERT_TRUE(later.WaitForSearchWindow());
    EXPECT_TRUE(::IsWindowVisible(later.dialog()));
    EXPECT_EQ(::GetWindow(later.dialog(), GW_OWNER), nullptr);
    EXPECT_EQ(FindProcessWindow(later.pid(), kFrameTitle), nullptr) << "a second frame";
    // The nudge (WM_DESTROY and a minimise request) leaves the first as it was.
    EXPECT_TRUE(first.Running());
    EXPECT_TRUE(::IsWindow(first.frame()));
    EXPECT_FALSE(::IsWindowVisible(first.frame()));
    if (by_exit) {
      ::PostMessageA(later.dialog(), WM_COMMAND, ID_EXIT, 0);
    } else {
      later.PostKey(IDC_FIRST_TERM, VK_ESCAPE);
    }
    EXPECT_EQ(later.WaitExit(), std::optional<DWORD>(0)) << (by_exit ? "종료" : "Escape");
  }

  ASSERT_TRUE(first.Running());
  first.ClickIcon();
  EXPECT_TRUE(first.WaitForSearchWindow());
}

// Keys pressed together and let go, as the keyboard sends them to the system,
// until `done`: Wine on a display without a window manager now and then drops
// input while no window of its own is in front.
bool PressKeysUntil(std::initializer_list<WORD> keys, const std::function<bool()>& done, int tries = 20) {
  std::vector<INPUT> input;
  for (WORD key : keys) input.push_back({INPUT_KEYBOARD, {.ki = {key, 0, 0, 0, 0}}});
  for (auto key = std::rbegin(keys); key != std::rend(keys); ++key) {
    input.push_back({INPUT_KEYBOARD, {.ki = {*key, 0, KEYEVENTF_KEYUP, 0, 0}}});
  }
  for (; tries > 0; --tries) {
    ::SendInput(static_cast<UINT>(input.size()), input.data(), sizeof(INPUT));
    for (int waits = 0; waits < 25; ++waits, ::Sleep(20)) {
      if (done()) return true;
    }
  }
  return false;
}

int FocusIn(const Marlix& marlix) {
  GUITHREADINFO info{sizeof info};
  return ::GetGUIThreadInfo(marlix.ui_thread(), &info) ? ::GetDlgCtrlID(info.hwndFocus) : 0;
}

constexpr char kSettingsKey[] = "Software\\Marlix";

// The global key (Ctrl+Alt+Z unless changed) opens the window ready to type,
// and brings an open one to the front with its term selected; 옵션's 단축키
// changes it for the running program and keeps it in HKCU\Software\Marlix. A
// key another program holds is told once, and the icon still opens the window.
TEST_F(TrayProgram, TheOpenKeyOpensTheWindowReadyToTypeAndAKeyHeldElsewhereIsToldOnce) {
  ::RegDeleteKeyValueA(HKEY_CURRENT_USER, kSettingsKey, "HotKey");
  {
    ASSERT_TRUE(::RegisterHotKey(nullptr, 7, MOD_CONTROL | MOD_ALT, 'Z'));
    Marlix marlix;
    ASSERT_TRUE(marlix.Start(kNoServer));
    HWND told = nullptr;
    ASSERT_TRUE(marlix.WaitForWindow("Marlix", told));
    std::wstring text;
    for (HWND part = nullptr; (part = ::FindWindowExW(told, part, L"Static", nullptr)) != nullptr;) {
      wchar_t piece[512] = {};
      ::GetWindowTextW(part, piece, 512);
      text += piece;
    }
    EXPECT_NE(text.find(L"Ctrl+Alt+Z"), std::wstring::npos) << Utf8(text);
    ::PostMessageA(told, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(marlix.WaitWindowGone(told));
    ASSERT_TRUE(marlix.WaitForFrame());
    ASSERT_TRUE(FrameAnswers(marlix.frame()));
    EXPECT_TRUE(ProcessWindows(marlix.pid(), "Marlix").empty()) << "told twice";
    ::UnregisterHotKey(nullptr, 7);
  }

  Marlix marlix;
  ASSERT_TRUE(marlix.Start(kNoServer));
  ASSERT_TRUE(marlix.WaitForFrame());
  ASSERT_TRUE(FrameAnswers(marlix.frame()));
  auto window_open = [&] { return FindProcessWindow(marlix.pid(), kSearchTitle) != nullptr; };
  ASSERT_TRUE(PressKeysUntil({VK_CONTROL, VK_MENU, 'Z'}, window_open));
  ASSERT_TRUE(marlix.WaitForSearchWindow());
  HWND window = marlix.dialog();
  EXPECT_EQ(FocusIn(marlix), IDC_FIRST_TERM);
  marlix.SetText(IDC_FIRST_TERM, "개포");
  marlix.PostKey(IDC_FIRST_TERM, VK_TAB);
  ASSERT_NE(FocusIn(marlix), IDC_FIRST_TERM);
  EXPECT_TRUE(PressKeysUntil({VK_CONTROL, VK_MENU, 'Z'}, [&] { return FocusIn(marlix) == IDC_FIRST_TERM; }));
  EXPECT_EQ(ProcessWindows(marlix.pid(), kSearchTitle), std::vector<HWND>{window});
  EXPECT_EQ(::SendMessageW(marlix.Item(IDC_FIRST_TERM), EM_GETSEL, 0, 0), MAKELRESULT(0, 2)) << "not all selected";

  // Ctrl+Alt+X chosen in the dialog.
  marlix.PostCommand(ID_HOT_KEY);
  HWND setting = nullptr;
  ASSERT_TRUE(marlix.WaitForWindow("단축키", setting));
  ::SendDlgItemMessageW(setting, IDC_HOT_KEY, HKM_SETHOTKEY, MAKEWORD('X', HOTKEYF_CONTROL | HOTKEYF_ALT), 0);
  ::PostMessageA(setting, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(marlix.WaitWindowGone(setting));
  DWORD stored = 0, size = sizeof stored;
  ::RegGetValueA(HKEY_CURRENT_USER, kSettingsKey, "HotKey", RRF_RT_REG_DWORD, nullptr, &stored, &size);
  EXPECT_EQ(stored, MAKEWORD('X', HOTKEYF_CONTROL | HOTKEYF_ALT));
  marlix.PostKey(IDC_FIRST_TERM, VK_ESCAPE);
  ASSERT_TRUE(marlix.WaitWindowGone(window));
  EXPECT_FALSE(PressKeysUntil({VK_CONTROL, VK_MENU, 'Z'}, window_open, 3)) << "the old key still opens it";
  EXPECT_TRUE(PressKeysUntil({VK_CONTROL, VK_MENU, 'X'}, window_open));
  ::RegDeleteKeyValueA(HKEY_CURRENT_USER, kSettingsKey, "HotKey");
}

// The lines of the real data that begin with a code, as the window lists them.
std::vector<std::string> LinesWithCode(const std::string& code) {
  std::vector<std::string> lines;
  std::istringstream in(RealData());
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind(code, 0) == 0) lines.push_back(line);
  }
  return lines;
}

class ResultCopy : public TrayProgram, protected Marlix {
 protected:
  void SetUp() override {
    TrayProgram::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(StartWithSearchWindow(kNoServer));
  }
  void TearDown() override { End(); }
};

TEST_F(ResultCopy, ASelectedLineIsCopiedCutByTheCopyMode) {
  const std::vector<std::string> lines = LinesWithCode("135-806");
  ASSERT_GE(lines.size(), 2u);
  SimpleSearch(1, "135806");
  ASSERT_EQ(ListCount(), static_cast<int>(lines.size()));

  // Until a copy command is chosen, the postal code is copied.
  EXPECT_EQ(Select(1), lines[1].substr(0, 7));
  PostCommand(ID_COPY_ADDRESS);
  EXPECT_EQ(Select(0), lines[0].substr(8));
  PostCommand(ID_COPY_WHOLE_LINE);
  EXPECT_EQ(Select(0), lines[0]);
  // Beside the CP949 bytes, the same text in UTF-16, marked Korean.
  EXPECT_EQ(ClipboardUnicode(), std::make_pair(DataWide(lines[0]), LCID{0x0412}));
  PostCommand(ID_COPY_POSTCODE);
  EXPECT_EQ(Select(0), lines[0].substr(0, 7));

  // The arrow keys copy each line they reach; Enter copies the selection again.
  PostCommand(ID_COPY_WHOLE_LINE);
  SetClipboardText("stale");
  PostKey(IDC_RESULT_LIST, VK_DOWN);
  EXPECT_EQ(ClipboardText(), lines[1]);
  SetClipboardText("stale");
  PostKey(IDC_RESULT_LIST, VK_RETURN);
  EXPECT_EQ(ClipboardText(), lines[1]);
  EXPECT_TRUE(::IsWindowVisible(dialog())) << "Enter in the list closed the window";

  // The empty no-data row replaces the clipboard's text with an empty one.
  SimpleSearch(0, "없는동네이름");
  ASSERT_EQ(ListCount(), 2);
  EXPECT_EQ(Select(0), std::string());
  PostCommand(ID_COPY_ADDRESS);
  EXPECT_EQ(Select(0), std::string());
}

// The English mode copies a five-digit line's English address from the
// post.csv beside the data, read at the copy; any other line copies whole.
TEST_F(ResultCopy, TheEnglishModeCopiesTheEnglishAddress) {
  const std::string csv = std::string(kDataDir) + "\\post.csv";
  const std::string kept_csv = ReadWholeFile(csv);
  const std::vector<std::string> lines = {Cp949("06315 서울특별시 강남구 논현로8길 지하 67 (개포동)"),
                                          Cp949("06315 서울특별시 강남구 개포로 1"),
                                          Cp949("063-150 서울 강남구 개포동")};
  ::DeleteFileA(csv.c_str());
  std::ofstream(kDataFile, std::ios::binary) << lines[0] << "\r\n" << lines[1] << "\r\n" << lines[2] << "\r\n";
  PostCommand(ID_COPY_ENGLISH);
  SimpleSearch(1, "06315");
  ASSERT_EQ(ListCount(), 3);
  EXPECT_EQ(Select(0), lines[0]);  // no post.csv yet

  std::ofstream(csv, std::ios::binary) << Cp949(
      "우편번호,시도,시군구,도로명 수,건물 수,시도 영문,시군구 영문,행정동,읍면,도로명\r\n"
      "06315,서울특별시,강남구,2,45,Seoul,Gangnam-gu,개포2동,,개포로=;논현로8길=Nonhyeon-ro 8-gil\r\n");
  const std::string english = "Jiha 67, Nonhyeon-ro 8-gil, Gangnam-gu, Seoul 06315";
  EXPECT_EQ(Select(0), english);
  EXPECT_EQ(ClipboardUnicode(), std::make_pair(Wide(english), LCID{0x0412}));
  EXPECT_EQ(Select(1), lines[1]);  // its road's English is unknown
  EXPECT_EQ(Select(2), lines[2]);  // a six-digit line
  PostCommand(ID_COPY_ADDRESS);
  EXPECT_EQ(Select(0), lines[0].substr(6));

  if (kept_csv.empty()) {
    ::DeleteFileA(csv.c_str());
  } else {
    std::ofstream(csv, std::ios::binary) << kept_csv;
  }
}

// A window opened anew carries nothing over from the one closed before.
TEST_F(ResultCopy, ANewWindowStartsAfreshWithThePostalCode) {
  const std::vector<std::string> lines = LinesWithCode("135-806");
  ASSERT_FALSE(lines.empty());
  PostCommand(ID_COPY_WHOLE_LINE);
  SimpleSearch(1, "135806");
  EXPECT_EQ(Select(0), lines[0]);
  HWND closed = dialog();
  PostKey(IDC_RESULT_LIST, VK_ESCAPE);
  ASSERT_TRUE(WaitWindowGone(closed));

  ClickIcon();
  ASSERT_TRUE(WaitForSearchWindow());
  EXPECT_EQ(Text(IDC_FIRST_TERM), L"");
  EXPECT_EQ(ListCount(), 0);
  SimpleSearch(1, "135806");
  EXPECT_EQ(Select(0), lines[0].substr(0, 7));
}

}  // namespace
