// The search window run inside the test program, for what another process
// cannot see: which banner frame shows, that replaced frames are released, the
// system menu and the about box.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "resource.h"
#include "search_dlg_win.h"
#include "text_win.h"

namespace {

const std::wstring kAboutTitle = marlix::WideFromUtf8(MARLIX_ABOUT_TITLE);
const std::wstring kSearchTitle = marlix::WideFromUtf8(MARLIX_SEARCH_TITLE);

std::function<void(HWND)> g_script;

// Runs the script inside the window's modal loop, then closes the window.
void CALLBACK RunScript(HWND, UINT, UINT_PTR id, DWORD) {
  ::KillTimer(nullptr, id);
  HWND dialog = ::FindWindowW(nullptr, kSearchTitle.c_str());
  ASSERT_NE(dialog, nullptr);
  if (dialog) {
    g_script(dialog);
    ::PostMessageA(dialog, WM_COMMAND, ID_EXIT, 0);
  }
}

INT_PTR RunSearchWindow(std::function<void(HWND)> script) {
  g_script = std::move(script);
  CSearchDlg dlg;
  ::SetTimer(nullptr, 0, 10, &RunScript);
  return dlg.DoModal();
}

// The pixels of a banner bitmap, as 24-bit rows.
std::vector<BYTE> Pixels(HBITMAP bitmap) {
  BITMAP bm{};
  if (!bitmap || !::GetObjectA(bitmap, sizeof bm, &bm)) return {};
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = bm.bmWidth;
  info.bmiHeader.biHeight = bm.bmHeight;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  std::vector<BYTE> bits(static_cast<std::size_t>(((bm.bmWidth * 3 + 3) & ~3) * bm.bmHeight));
  HDC dc = ::GetDC(nullptr);
  ::GetDIBits(dc, bitmap, 0, bm.bmHeight, bits.data(), &info, DIB_RGB_COLORS);
  ::ReleaseDC(nullptr, dc);
  return bits;
}

// Which of the banner resources the bitmap shows, or 0.
int BannerId(HBITMAP shown) {
  const std::vector<BYTE> pixels = Pixels(shown);
  for (int id = IDB_BANNER_FIRST; id <= IDB_BANNER_LAST; ++id) {
    HBITMAP reference = static_cast<HBITMAP>(
        ::LoadImageA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    const bool same = Pixels(reference) == pixels;
    ::DeleteObject(reference);
    if (same) return id;
  }
  return 0;
}

HBITMAP BannerImage(HWND dialog) {
  return reinterpret_cast<HBITMAP>(::SendDlgItemMessageA(dialog, IDC_BANNER, STM_GETIMAGE, IMAGE_BITMAP, 0));
}

TEST(SearchWindowBanner, ShowsTheFirstFrameTwiceThenCyclesAndReleasesEachFrame) {
  std::vector<int> shown;
  std::vector<HBITMAP> released;
  HBITMAP last = nullptr;
  const INT_PTR code = RunSearchWindow([&](HWND dialog) {
    shown.push_back(BannerId(BannerImage(dialog)));
    for (int tick = 0; tick < 6; ++tick) {
      HBITMAP before = BannerImage(dialog);
      ::SendMessageA(dialog, WM_TIMER, 1, 0);
      shown.push_back(BannerId(BannerImage(dialog)));
      released.push_back(before);
    }
    last = BannerImage(dialog);
  });
  EXPECT_EQ(code, ID_EXIT);
  EXPECT_EQ(shown, (std::vector<int>{147, 147, 148, 149, 150, 151, 147}));
  // Every frame that was replaced is gone from the process, the template's first one included.
  for (HBITMAP old : released) EXPECT_EQ(::GetObjectType(old), 0u) << old;
  // The last one is released with the window.
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(::GetObjectType(last), 0u);
}

// Opened from the icon and closed again at once, time after time.
TEST(SearchWindowBanner, AWindowClosedBeforeItsFirstStepReleasesTheTemplatesFrame) {
  HBITMAP first = nullptr;
  RunSearchWindow([&](HWND dialog) { first = BannerImage(dialog); });
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(::GetObjectType(first), 0u);
}

TEST(SearchWindowMenus, SystemMenuAndHelpMenuOpenTheAboutBox) {
  int about_boxes = 0;
  std::string about_text;
  RunSearchWindow([&](HWND dialog) {
    wchar_t item[64] = {};
    ::GetMenuStringW(::GetSystemMenu(dialog, FALSE), IDM_ABOUTBOX, item, 64, MF_BYCOMMAND);
    EXPECT_EQ(std::wstring(item), marlix::WideFromUtf8(MARLIX_ABOUT_ITEM));

    // The about box runs a modal loop of its own; a second script closes it.
    static int* counter;
    static std::string* text;
    counter = &about_boxes;
    text = &about_text;
    auto close_about = [](HWND, UINT, UINT_PTR id, DWORD) {
      ::KillTimer(nullptr, id);
      HWND about = ::FindWindowW(nullptr, kAboutTitle.c_str());
      if (!about) return;
      ++*counter;
      wchar_t buf[64] = {};
      HWND label = ::FindWindowExW(about, nullptr, L"Static", L"Marlix 버전 1.0");
      if (label) ::GetWindowTextW(label, buf, 64);
      *text = marlix::Utf8FromWide(buf);
      ::PostMessageA(about, WM_COMMAND, IDOK, 0);
    };
    ::SetTimer(nullptr, 0, 10, close_about);
    ::SendMessageA(dialog, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    ::SetTimer(nullptr, 0, 10, close_about);
    ::SendMessageA(dialog, WM_COMMAND, ID_APP_ABOUT, 0);
    EXPECT_NE(::FindWindowW(nullptr, kSearchTitle.c_str()), nullptr) << "the search window stays";
  });
  EXPECT_EQ(about_boxes, 2);
  EXPECT_EQ(about_text, "Marlix 버전 1.0");
}

// The width of an icon's image.
int IconWidth(HICON icon) {
  ICONINFO info{};
  if (!icon || !::GetIconInfo(icon, &info)) return 0;
  BITMAP bm{};
  ::GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
  if (info.hbmColor) ::DeleteObject(info.hbmColor);
  ::DeleteObject(info.hbmMask);
  return bm.bmWidth;
}

// Each icon at its own size for the window's DPI.
void ExpectIconsFor(HWND dialog, UINT dpi) {
  const auto big = reinterpret_cast<HICON>(::SendMessageA(dialog, WM_GETICON, ICON_BIG, 0));
  EXPECT_EQ(IconWidth(big), ::GetSystemMetricsForDpi(SM_CXICON, dpi));
  EXPECT_EQ(IconWidth(reinterpret_cast<HICON>(::SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0))),
            ::GetSystemMetricsForDpi(SM_CXSMICON, dpi));
  EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageA(dialog, WM_QUERYDRAGICON, 0, 0)), big);
}

TEST(SearchWindowMinimised, DragsAndPaintsItsIcon) {
  RunSearchWindow([&](HWND dialog) {
    ExpectIconsFor(dialog, ::GetDpiForWindow(dialog));
    ::ShowWindow(dialog, SW_MINIMIZE);
    EXPECT_TRUE(::IsIconic(dialog));
    ::RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  });
}

// Moved to a monitor of 150%: the window takes the place Windows suggests,
// and its font, rows, controls, banner and icons follow.
TEST(SearchWindowDpi, ADpiChangeLaysTheWindowOutAgain) {
  RunSearchWindow([&](HWND dialog) {
    const UINT next = ::GetDpiForWindow(dialog) * 3 / 2;
    HWND list = ::GetDlgItem(dialog, IDC_RESULT_LIST);
    auto font_height = [&] {
      LOGFONTW font{};
      ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(list, WM_GETFONT, 0, 0)), sizeof font, &font);
      return font.lfHeight;
    };
    auto place = [&](HWND control) {
      RECT rc{};
      ::GetWindowRect(control, &rc);
      ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rc), 2);
      return rc;
    };
    const LONG height_before = font_height();
    const RECT term_before = place(::GetDlgItem(dialog, IDC_FIRST_TERM));
    RECT suggested{};
    ::GetWindowRect(dialog, &suggested);
    suggested.right += (suggested.right - suggested.left) / 2;
    suggested.bottom += (suggested.bottom - suggested.top) / 2;
    ::SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(next, next), reinterpret_cast<LPARAM>(&suggested));

    RECT window{}, client{};
    ::GetWindowRect(dialog, &window);
    EXPECT_TRUE(::EqualRect(&window, &suggested));
    EXPECT_EQ(font_height(), height_before * 3 / 2);
    EXPECT_GE(::SendMessageW(list, LB_GETITEMHEIGHT, 0, 0), -font_height());
    const RECT term = place(::GetDlgItem(dialog, IDC_FIRST_TERM));
    EXPECT_EQ(term.right - term.left, (term_before.right - term_before.left) * 3 / 2);
    ::GetClientRect(dialog, &client);
    EXPECT_EQ(place(list).bottom, client.bottom);
    BITMAP banner{};
    ::GetObjectW(BannerImage(dialog), sizeof banner, &banner);
    EXPECT_EQ(banner.bmWidth, ::MulDiv(402, static_cast<int>(next), 96));
    ExpectIconsFor(dialog, next);
  });
}

}  // namespace
