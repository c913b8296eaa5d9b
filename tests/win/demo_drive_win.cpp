// The demo's hands: finds the Marlix that scripts/run started, opens its
// search window from the icon, searches for a term as a user would (the term
// typed into the first field, "검색" pressed), prints the lines it lists and
// takes a picture of the window; then chooses "종료", which ends the program.
//
//   marlix_demo_drive TERM PICTURE.png [PICTURE_FOLDER]
//
// TERM is searched as a postal code when it is digits (and a hyphen), else
// as a district or building name. With PICTURE_FOLDER it also takes pictures
// of the other two tabs, the about box and the icon's menu. Picture paths are
// the X display's (Unix) paths. Exit status 0 when the search listed lines
// and the program ended, 1 when it listed none, 2 when something failed.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "marlix_driver_win.h"
#include "search_window.h"

namespace {

using marlix_test::Marlix;

// Output in UTF-8 whatever the console's code page: a console gets the text
// as UTF-16, a pipe or a file the UTF-8 bytes.
void Print(const std::wstring& text) {
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0, written = 0;
  if (::GetConsoleMode(out, &mode)) {
    ::WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  const int n =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr, nullptr);
  ::WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string Narrow(const std::wstring& text, UINT code_page) {
  const int n =
      ::WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(code_page, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr, nullptr);
  return bytes;
}

RECT Union(RECT a, const RECT& b) {
  ::UnionRect(&a, &a, &b);
  return a;
}

RECT RectOf(HWND window) {
  RECT r{};
  ::GetWindowRect(window, &r);
  return r;
}

// A picture of this part of the screen, by ImageMagick's import on the X
// display that Wine draws on. Wine does not wait for a Unix program: wait
// for the file to appear and stop growing.
bool Picture(const std::wstring& unix_path, RECT r) {
  ::RedrawWindow(nullptr, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  ::Sleep(700);
  const std::string path = Narrow(unix_path, CP_UTF8);
  const std::string seen_as = marlix_test::WinePath(path.c_str());
  ::DeleteFileA(seen_as.c_str());
  r.left = std::max(0L, r.left);
  r.top = std::max(0L, r.top);
  char command[1024];
  std::snprintf(command, sizeof command, "Z:\\usr\\bin\\import -window root -crop %ldx%ld+%ld+%ld +repage %s",
                r.right - r.left, r.bottom - r.top, r.left, r.top, path.c_str());
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
  ::CloseHandle(pi.hProcess);
  ::CloseHandle(pi.hThread);
  LONGLONG last = -1;
  for (int tries = 0; tries < 100; ++tries) {
    ::Sleep(200);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(seen_as.c_str(), GetFileExInfoStandard, &data)) continue;
    const LONGLONG size = (LONGLONG{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    if (size > 0 && size == last) return true;
    last = size;
  }
  return false;
}

// Wine's stand-alone notification area (Xvfb has none of its own).
HWND TrayWindow() {
  HWND found = nullptr;
  ::EnumWindows(
      [](HWND top, LPARAM out) -> BOOL {
        char name[64] = {};
        ::GetClassNameA(top, name, sizeof name);
        if (std::string(name) != "__winex11_standalone_tray" || !::IsWindowVisible(top)) return TRUE;
        *reinterpret_cast<HWND*>(out) = top;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

HWND WaitTopWindow(const char* class_name, const char* title, DWORD ms) {
  for (const ULONGLONG deadline = ::GetTickCount64() + ms; ::GetTickCount64() < deadline; ::Sleep(50)) {
    // No title matches any window of the class.
    const std::wstring wide_title = title ? marlix_test::Wide(title) : std::wstring();
    HWND found = ::FindWindowW(marlix_test::Wide(class_name).c_str(), title ? wide_title.c_str() : nullptr);
    if (found && ::IsWindowVisible(found)) return found;
  }
  return nullptr;
}

void Fail(const wchar_t* what) { Print(std::wstring(L"marlix_demo_drive: ") + what + L"\n"); }

// The other tabs, the about box and the icon's menu, for the README.
void MorePictures(Marlix& marlix, const std::wstring& folder) {
  marlix.SelectTab(1);
  ::SendMessageW(marlix.Item(IDC_KIND_COMBO), CB_SETCURSEL, 0, 0);
  marlix.SetText(IDC_FIRST_TERM, "서울특별시");
  marlix.SetText(IDC_SECOND_TERM, "오피스텔");
  marlix.Click(IDC_SEARCH);
  Picture(folder + L"/composite-search.png", RectOf(marlix.dialog()));

  marlix.ShowUpdateTab();
  Picture(folder + L"/update-tab.png", RectOf(marlix.dialog()));
  marlix.SelectTab(0);

  ::PostMessageA(marlix.dialog(), WM_COMMAND, ID_APP_ABOUT, 0);
  if (HWND about = WaitTopWindow("#32770", marlix_test::kAboutTitle, 10000)) {
    Picture(folder + L"/about.png", Union(RectOf(marlix.dialog()), RectOf(about)));
    ::PostMessageA(about, WM_COMMAND, IDOK, 0);
    marlix.Settle();
  }

  // The icon's menu opens where the pointer is: over the icon, as after a click.
  if (HWND tray = TrayWindow()) {
    const RECT icon = RectOf(tray);
    const POINT at{(icon.left + icon.right) / 2, (icon.top + icon.bottom) / 2};
    ::SetCursorPos(at.x, at.y);
    ::PostMessageA(marlix.frame(), marlix_test::kIconMessage, MAKEWPARAM(at.x, at.y),
                   MAKELPARAM(WM_CONTEXTMENU, IDI_MARLIX));
    if (HWND menu = WaitTopWindow("#32768", nullptr, 10000)) {
      // A few pixels of the screen around, so that the menu's edge shows.
      RECT shown = Union(icon, RectOf(menu));
      shown.right += 4;
      shown.bottom += 4;
      Picture(folder + L"/tray-menu.png", shown);
      ::PostMessageA(marlix.frame(), WM_CANCELMODE, 0, 0);
      ::SendMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    }
  }
}

int Drive(const std::wstring& term, const std::wstring& picture, const std::wstring& folder) {
  Marlix marlix;
  // A cold Wine prefix and the program's version check can take a while.
  HWND frame = nullptr;
  for (const ULONGLONG deadline = ::GetTickCount64() + 180000; !frame && ::GetTickCount64() < deadline; ::Sleep(100)) {
    frame = ::FindWindowW(nullptr, marlix_test::Wide(marlix_test::kFrameTitle).c_str());
  }
  if (!frame) return Fail(L"Marlix's icon did not appear"), 2;
  if (!marlix.Attach(frame)) return Fail(L"cannot reach Marlix"), 2;
  marlix.ClickIcon();
  if (!marlix.WaitForSearchWindow()) return Fail(L"the search window did not open"), 2;

  const std::string utf8 = Narrow(term, CP_UTF8);
  const bool code = term.find_first_not_of(L"0123456789- ") == std::wstring::npos;
  ::SendMessageW(marlix.Item(IDC_KIND_COMBO), CB_SETCURSEL, code ? 1 : 0, 0);
  marlix.SetText(IDC_FIRST_TERM, utf8);
  // The first search of a fresh program downloads the data from the service,
  // in the background, and searches once the data is in place.
  marlix.Click(IDC_SEARCH);
  const std::wstring fetching = marlix_test::Wide(marlix::kFetchingDataRow);
  marlix.WaitUntil([&] { return marlix.ListCount() > 0 && marlix.ListItem(0) != fetching; });

  const int count = marlix.ListCount();
  const bool found = count > 0 && !marlix.ListItem(0).empty();
  Print(L"검색어: " + term + (code ? L" (우편번호)\n" : L" (동명/건물명)\n"));
  for (int i = 0; i < count; ++i) Print(marlix.ListItem(i) + L"\n");
  if (found) Print(L"(" + std::to_wstring(count) + L"줄)\n");

  const bool pictured = Picture(picture, RectOf(marlix.dialog()));
  if (!pictured) Fail(L"no picture taken");
  if (!folder.empty()) MorePictures(marlix, folder);

  // "종료" in the window's menu ends the whole program.
  ::PostMessageA(marlix.dialog(), WM_COMMAND, ID_EXIT, 0);
  const std::optional<DWORD> exit = marlix.WaitExit(30000);
  if (!exit) Fail(L"Marlix did not end after 종료");
  if (!pictured || !exit) return 2;
  return found ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    Print(L"usage: marlix_demo_drive TERM PICTURE.png [PICTURE_FOLDER]\n");
    return 2;
  }
  return Drive(argv[1], argv[2], argc > 3 ? argv[3] : L"");
}
