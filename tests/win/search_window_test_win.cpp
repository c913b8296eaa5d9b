// Marlix.exe's search window driven from outside, as a user's clicks and keys
// would drive it: controls found by id, messages sent and posted, texts read
// back, with the real data file at c:\postcode\postcode.txt.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "gdi_count_win.h"
#include "marlix_driver_win.h"
#include "postcode_search.h"
#include "resource.h"
#include "search_window.h"

namespace {

using namespace marlix_test;

constexpr wchar_t kNoDataRow[] = L"                   ▶조회된 자료가 없습니다.◀";

std::vector<std::string> RealLines() {
  std::vector<std::string> lines;
  std::istringstream in(RealData());
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

class SearchWindow : public FreshSearchWindow {
 protected:
  std::vector<std::wstring> ComboItems() const {
    HWND combo = Item(IDC_KIND_COMBO);
    std::vector<std::wstring> items;
    const auto n = ::SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < n; ++i) {
      std::wstring text(static_cast<std::size_t>(::SendMessageW(combo, CB_GETLBTEXTLEN, i, 0)) + 1, L'\0');
      ::SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()));
      text.resize(text.size() - 1);
      items.push_back(text);
    }
    return items;
  }
  int HorizontalExtent() const {
    return static_cast<int>(::SendMessageW(Item(IDC_RESULT_LIST), LB_GETHORIZONTALEXTENT, 0, 0));
  }
  int WidestInList(const std::vector<std::string>& lines) const {
    HWND list = Item(IDC_RESULT_LIST);
    HDC dc = ::GetDC(list);
    int widest = 0;
    for (const std::string& line : lines) {
      SIZE size{};
      const std::wstring wide = DataWide(line);
      ::GetTextExtentPoint32W(dc, wide.data(), static_cast<int>(wide.size()), &size);
      widest = std::max(widest, static_cast<int>(size.cx));
    }
    ::ReleaseDC(list, dc);
    return widest;
  }
  int ComboSelection() const { return static_cast<int>(::SendMessageW(Item(IDC_KIND_COMBO), CB_GETCURSEL, 0, 0)); }
  int FocusId() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!::GetGUIThreadInfo(ui_thread(), &info) || !info.hwndFocus) return 0;
    return ::GetDlgCtrlID(info.hwndFocus);
  }

  // A key in one control moves the focus to another.
  void ExpectKeyMovesFocus(int from, WPARAM vk, int to) {
    PostKey(from, vk);
    EXPECT_EQ(FocusId(), to) << "key " << vk << " in " << from;
  }

  void ExpectNoDataRows() {
    ASSERT_EQ(ListCount(), 2);
    EXPECT_EQ(ListItem(0), L"");
    EXPECT_EQ(ListItem(1), kNoDataRow);
  }

  // Expects the list to hold exactly these lines, in this order.
  void ExpectListed(const std::vector<std::string>& lines) {
    ASSERT_EQ(ListCount(), static_cast<int>(lines.size()));
    for (std::size_t i = 0; i < lines.size(); ++i) {
      ASSERT_EQ(ListItem(static_cast<int>(i)), DataWide(lines[i])) << "item " << i;
    }
  }
};

// What the core lists for a request, read the same way the window reads it:
// the typed terms as the data's CP949 bytes.
std::vector<std::string> CoreLines(int tab, std::string_view kind, std::string_view term1,
                                   std::string_view term2 = {}) {
  std::vector<std::string> lines;
  auto collect = [&](std::string_view line) { lines.emplace_back(line); };
  const std::string bytes1 = Cp949(term1), bytes2 = Cp949(term2);
  marlix::SearchFile(
      kDataFile, marlix::RequestFromWindow(tab, kind, marlix::Cp949View(bytes1), marlix::Cp949View(bytes2)), collect);
  return lines;
}

TEST_F(SearchWindow, OpensInSimpleModeReadyToType) {
  wchar_t caption[128] = {};
  ::GetWindowTextW(dialog(), caption, 128);
  EXPECT_EQ(std::wstring(caption), Wide(kSearchTitle));
  EXPECT_EQ(Tab(), 0);
  EXPECT_EQ(::SendMessageW(Item(IDC_MODE_TAB), TCM_GETITEMCOUNT, 0, 0), 3);
  EXPECT_EQ(ComboItems(), (std::vector<std::wstring>{L"동명/건물명", L"우편번호"}));
  EXPECT_EQ(ComboSelection(), 0);
  EXPECT_EQ(Text(IDC_FIRST_TERM), L"");
  EXPECT_EQ(ListCount(), 0);
  EXPECT_EQ(FocusId(), IDC_FIRST_TERM);
  for (int id : {IDC_KIND_COMBO, IDC_FIRST_TERM, IDC_SEARCH, IDC_RESULT_LIST, IDC_BANNER}) {
    EXPECT_TRUE(Visible(id)) << id;
  }
  for (int id : {IDC_SECOND_TERM, IDC_UPDATE_GROUP, IDC_UPDATE, IDC_UPDATE_STATUS, IDC_DATA_VERSION}) {
    EXPECT_FALSE(Visible(id)) << id;
  }
  EXPECT_FALSE(::GetWindowLongW(dialog(), GWL_EXSTYLE) & WS_EX_TOPMOST);
  // The result list spans the client area below the search row, to its foot.
  RECT client{}, list{};
  ::GetClientRect(dialog(), &client);
  ::GetWindowRect(Item(IDC_RESULT_LIST), &list);
  ::MapWindowPoints(nullptr, dialog(), reinterpret_cast<POINT*>(&list), 2);
  EXPECT_EQ(list.left, 0);
  EXPECT_EQ(list.top, 100);
  EXPECT_EQ(list.right, client.right);
  EXPECT_EQ(list.bottom, client.bottom);
}

TEST_F(SearchWindow, PostcodeSearchNormalisesTheCodeAndListsInFileOrder) {
  std::vector<std::string> expected;
  for (const std::string& line : RealLines()) {
    if (line.rfind("135-8", 0) == 0) expected.push_back(line);
  }
  ASSERT_GT(expected.size(), 10u);
  SimpleSearch(1, "1358");
  ExpectListed(expected);
  EXPECT_EQ(::SendMessageW(Item(IDC_RESULT_LIST), LB_GETITEMHEIGHT, 0, 0), 15);
  // Sideways scrolling covers the widest line, measured in the list's own
  // device context, less 92 pixels.
  const int extent = HorizontalExtent();
  EXPECT_EQ(extent, WidestInList(expected) - 92);

  std::vector<std::string> exact;
  for (const std::string& line : RealLines()) {
    if (line.rfind("135-806", 0) == 0) exact.push_back(line);
  }
  SimpleSearch(1, "135806");
  ExpectListed(exact);
  SimpleSearch(1, "135-806");
  ExpectListed(exact);
  const int exact_extent = HorizontalExtent();
  EXPECT_NE(exact_extent, extent);
  SimpleSearch(1, "1");  // one digit is not enough for a code
  ExpectNoDataRows();
  EXPECT_EQ(HorizontalExtent(), exact_extent) << "a search with no match leaves the extent as it was";
}

TEST_F(SearchWindow, NameSearchNeedsEveryWordInTheAddress) {
  const std::vector<std::string> both = CoreLines(0, marlix::kKindName, "개포1동 아파트");
  ASSERT_GT(both.size(), 1u);
  for (const std::string& line : both) {
    EXPECT_NE(line.find(Cp949("개포1동"), 8), std::string::npos);
    EXPECT_NE(line.find(Cp949("아파트"), 8), std::string::npos);
  }
  SimpleSearch(0, "개포1동 아파트");
  ExpectListed(both);
  // Words in the other order find the same lines.
  SimpleSearch(0, "  아파트   개포1동 ");
  ExpectListed(both);
  SimpleSearch(0, "   ");
  ExpectNoDataRows();
  SimpleSearch(0, "없는동네이름");
  ExpectNoDataRows();
}

TEST_F(SearchWindow, CompositeSearchCombinesTheTerms) {
  SelectTab(1);
  const std::vector<std::string> all = RealLines();
  ASSERT_EQ(all.size(), 52144u);

  // OR with both terms empty lists the whole file; time it, it must not crawl.
  LARGE_INTEGER frequency, start, end;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  CompositeSearch(1, "", "");
  ::QueryPerformanceCounter(&end);
  const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
  ASSERT_EQ(ListCount(), 52144);
  EXPECT_EQ(ListItem(0), DataWide(all.front()));
  EXPECT_EQ(ListItem(52143), DataWide(all.back()));
  std::printf("whole-file list fill: %.3f s\n", seconds);
  RecordProperty("whole_file_fill_ms", static_cast<int>(seconds * 1000));
  EXPECT_LT(seconds, 5.0);

  const auto and_lines = CoreLines(1, marlix::kOperatorAnd, "개포", "135-");
  const auto or_lines = CoreLines(1, marlix::kOperatorOr, "개포", "135-");
  ASSERT_FALSE(and_lines.empty());
  ASSERT_GT(or_lines.size(), and_lines.size());
  CompositeSearch(0, "개포", "135-");
  ExpectListed(and_lines);
  CompositeSearch(1, "개포", "135-");
  ExpectListed(or_lines);
  CompositeSearch(0, "개포", "999-");
  ExpectNoDataRows();
  // A term CP949 cannot hold is in no line: not even OR with an empty term
  // lists anything (a question mark in its place would be in none either).
  SetText(IDC_FIRST_TERM, std::wstring(L"\U0001F600"));
  SetText(IDC_SECOND_TERM, std::wstring());
  Click(IDC_SEARCH);
  ExpectNoDataRows();
}

TEST_F(SearchWindow, AMissingDataFileShowsTheNoDataRows) {
  ASSERT_TRUE(::DeleteFileA(kDataFile));
  SimpleSearch(0, "개포1동");
  // The data is fetched in the background first; the rows follow its failure.
  EXPECT_TRUE(WaitUntil([&] { return ListCount() == 2 && ListItem(1) == kNoDataRow; }));
  ExpectNoDataRows();
  InstallRealData();
  SimpleSearch(0, "개포1동");
  EXPECT_GT(ListCount(), 2);
}

TEST_F(SearchWindow, SwitchingModesEmptiesAndRearrangesTheControls) {
  SimpleSearch(0, "개포1동");
  ASSERT_GT(ListCount(), 2);

  SelectTab(1);
  EXPECT_EQ(ListCount(), 0);
  EXPECT_EQ(::SendMessageW(Item(IDC_RESULT_LIST), LB_GETHORIZONTALEXTENT, 0, 0), 0);
  EXPECT_EQ(Text(IDC_FIRST_TERM), L"");
  EXPECT_EQ(ComboItems(), (std::vector<std::wstring>{L"AND", L"OR"}));
  EXPECT_EQ(ComboSelection(), 0);
  EXPECT_TRUE(Visible(IDC_SECOND_TERM));
  EXPECT_EQ(Text(IDC_SECOND_TERM), L"");
  EXPECT_EQ(FocusId(), IDC_FIRST_TERM);

  SetText(IDC_FIRST_TERM, "abc");
  SetText(IDC_SECOND_TERM, "def");
  SelectTab(2);
  for (int id : {IDC_UPDATE_GROUP, IDC_UPDATE, IDC_UPDATE_STATUS, IDC_DATA_VERSION, IDC_BANNER}) {
    EXPECT_TRUE(Visible(id)) << id;
  }
  for (int id : {IDC_KIND_COMBO, IDC_FIRST_TERM, IDC_SECOND_TERM, IDC_SEARCH, IDC_RESULT_LIST}) {
    EXPECT_FALSE(Visible(id)) << id;
  }
  EXPECT_TRUE(ComboItems().empty());
  SetText(IDC_DATA_VERSION, "20260101");

  SelectTab(0);
  EXPECT_FALSE(Visible(IDC_SECOND_TERM));
  EXPECT_FALSE(Visible(IDC_DATA_VERSION));
  EXPECT_EQ(Text(IDC_FIRST_TERM), L"");
  EXPECT_EQ(ComboItems(), (std::vector<std::wstring>{L"동명/건물명", L"우편번호"}));
  EXPECT_EQ(ComboSelection(), 0);
  // The update panel keeps its text while hidden.
  EXPECT_EQ(Text(IDC_DATA_VERSION), L"20260101");
}

TEST_F(SearchWindow, EnterAndTabFollowTheSimpleModesOrder) {
  ExpectKeyMovesFocus(IDC_KIND_COMBO, VK_TAB, IDC_FIRST_TERM);
  ExpectKeyMovesFocus(IDC_FIRST_TERM, VK_TAB, IDC_SEARCH);
  ExpectKeyMovesFocus(IDC_RESULT_LIST, VK_TAB, IDC_KIND_COMBO);
  // Enter in the kind moves on instead of closing the window.
  ExpectKeyMovesFocus(IDC_KIND_COMBO, VK_RETURN, IDC_FIRST_TERM);
  // Enter on the tab or the banner is swallowed.
  PostKey(IDC_MODE_TAB, VK_RETURN);
  PostKey(IDC_BANNER, VK_RETURN);
  EXPECT_EQ(::WaitForSingleObject(process(), 0), WAIT_TIMEOUT) << "the window closed";

  ::SendMessageW(Item(IDC_KIND_COMBO), CB_SETCURSEL, 1, 0);
  SetText(IDC_FIRST_TERM, "135806");
  PostKey(IDC_FIRST_TERM, VK_RETURN);
  EXPECT_EQ(ListCount(), static_cast<int>(CoreLines(0, marlix::kKindPostcode, "135806").size()));
}

TEST_F(SearchWindow, EnterAndTabFollowTheCompositeModesOrder) {
  SelectTab(1);
  SetText(IDC_FIRST_TERM, "개포");
  ExpectKeyMovesFocus(IDC_FIRST_TERM, VK_RETURN, IDC_KIND_COMBO);
  EXPECT_EQ(ListCount(), 0);
  ExpectKeyMovesFocus(IDC_KIND_COMBO, VK_RETURN, IDC_SECOND_TERM);
  SetText(IDC_SECOND_TERM, "135-");
  PostKey(IDC_SECOND_TERM, VK_RETURN);
  EXPECT_EQ(ListCount(), static_cast<int>(CoreLines(1, marlix::kOperatorAnd, "개포", "135-").size()));

  ExpectKeyMovesFocus(IDC_FIRST_TERM, VK_TAB, IDC_KIND_COMBO);
  ExpectKeyMovesFocus(IDC_KIND_COMBO, VK_TAB, IDC_SECOND_TERM);
  ExpectKeyMovesFocus(IDC_SECOND_TERM, VK_TAB, IDC_SEARCH);
  ExpectKeyMovesFocus(IDC_RESULT_LIST, VK_TAB, IDC_FIRST_TERM);
}

// In the simple tab the list follows the typing after a short pause, without
// Enter; a key stops a search still running at once, and only the last
// term's lines are listed. The composite tab waits for its button.
TEST_F(SearchWindow, TypingListsTheTermsLinesAfterAPauseAndANewKeyStopsTheSearch) {
  auto listed = [&](const std::vector<std::string>& lines) {
    std::vector<std::wstring> wide;
    for (const std::string& line : lines) wide.push_back(DataWide(line));
    // Reading a long list across processes takes seconds: its count first.
    return ListCount() == static_cast<int>(wide.size()) && ListItems() == wide;
  };
  const std::vector<std::string> gaepo = CoreLines(0, marlix::kKindName, "개포1동");
  const ULONGLONG typed = ::GetTickCount64();
  Type(IDC_FIRST_TERM, "개포1동");
  EXPECT_TRUE(WaitUntil([&] { return listed(gaepo); }, 10000));
  EXPECT_GE(::GetTickCount64() - typed, marlix::kTypingPauseMs) << "listed before the pause";

  // A term most lines hold, searched at once; a key while its list fills stops it.
  const std::vector<std::string> dong = CoreLines(0, marlix::kKindName, "동");
  SetText(IDC_FIRST_TERM, "동");
  ::PostMessageA(Item(IDC_FIRST_TERM), WM_KEYDOWN, VK_RETURN, 1);
  ::Sleep(20);  // its first lines are listed
  ::PostMessageW(Item(IDC_FIRST_TERM), EM_SETSEL, 0, -1);
  Type(IDC_FIRST_TERM, "개포1동");
  Settle();
  const int at_key = ListCount();
  ::Sleep(60);  // within the pause: the old search lists nothing more
  EXPECT_EQ(ListCount(), at_key);
  EXPECT_LT(at_key, static_cast<int>(dong.size()));
  EXPECT_TRUE(WaitUntil([&] { return listed(gaepo); }, 10000));

  SelectTab(1);
  Type(IDC_FIRST_TERM, "개포");
  ::Sleep(2 * marlix::kTypingPauseMs);
  Settle();
  EXPECT_EQ(ListCount(), 0);
}

TEST_F(SearchWindow, AlwaysOnTopIsNotAToggle) {
  for (int i = 0; i < 2; ++i) {
    ::PostMessageA(dialog(), WM_COMMAND, ID_ALWAYS_ON_TOP, 0);
    Settle();
    EXPECT_TRUE(::GetWindowLongW(dialog(), GWL_EXSTYLE) & WS_EX_TOPMOST) << "after choice " << i + 1;
  }
}

// The window is only a view of the program in the notification area: closing
// it leaves the program there, ready to open a fresh one.
TEST_F(SearchWindow, EscapeAndTheCloseBoxCloseOnlyTheWindow) {
  HWND first = dialog();
  PostKey(IDC_FIRST_TERM, VK_ESCAPE);
  ASSERT_TRUE(WaitWindowGone(first));
  EXPECT_TRUE(Running());
  EXPECT_TRUE(::IsWindow(frame()));

  ClickIcon();
  ASSERT_TRUE(WaitForSearchWindow());
  HWND second = dialog();
  ::PostMessageA(second, WM_SYSCOMMAND, SC_CLOSE, 0);
  ASSERT_TRUE(WaitWindowGone(second));
  EXPECT_TRUE(Running());
  EXPECT_TRUE(::IsWindow(frame()));
}

TEST_F(SearchWindow, ExitEndsTheProgram) {
  ::PostMessageA(dialog(), WM_COMMAND, ID_EXIT, 0);
  EXPECT_EQ(WaitExit(), std::optional<DWORD>(0));
  EXPECT_FALSE(::IsWindow(frame()));
}

TEST_F(SearchWindow, BannerTicksHoldNoMoreGdiObjects) {
  // The counter must see objects come and go, or the check below proves nothing.
  const long before = gdi_count::Objects(::GetCurrentProcess());
  ASSERT_GT(before, 0);
  std::vector<HBITMAP> probe;
  for (int i = 0; i < 10; ++i) probe.push_back(::CreateBitmap(4, 4, 1, 32, nullptr));
  EXPECT_EQ(gdi_count::Objects(::GetCurrentProcess()), before + 10);
  for (HBITMAP b : probe) ::DeleteObject(b);

  auto tick = [&] { ::SendMessageA(dialog(), WM_TIMER, 1, 0); };
  for (int i = 0; i < 10; ++i) tick();  // every frame has been loaded once
  Settle();
  const long settled = gdi_count::Objects(process());
  ASSERT_GT(settled, 0);
  for (int i = 0; i < 500; ++i) tick();
  Settle();
  EXPECT_EQ(gdi_count::Objects(process()), settled);
  EXPECT_NE(::SendMessageA(Item(IDC_BANNER), STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
}

// Where Wine reads the DPI (LogPixels) as each program starts.
constexpr wchar_t kDesktop[] = L"Control Panel\\Desktop";

// The window at 100, 150 and 200%. Wine takes its DPI from the registry as
// each program starts and stretches nothing, so what the window lays out is
// what shows. Texts are measured in the dialog's font made at that DPI.
class SearchWindowScales : public ::testing::Test, protected Marlix {
 protected:
  void SetUp() override {
    // Another program's windows as they are, not scaled to this thread's DPI.
    ::SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    InstallRealData();
  }
  void TearDown() override {
    End();
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kDesktop, L"LogPixels");
  }
  RECT Place(HWND control) const {
    RECT rc{};
    ::GetWindowRect(control, &rc);
    ::MapWindowPoints(nullptr, dialog(), reinterpret_cast<POINT*>(&rc), 2);
    return rc;
  }
};

// Every control shown is as tall as a line of text, and a button or a label
// as wide as its text; the combo's items fit beside its button.
void ExpectTextsHaveRoom(HWND dialog, HDC dc, int text_height, UINT dpi) {
  for (HWND control = ::GetWindow(dialog, GW_CHILD); control; control = ::GetWindow(control, GW_HWNDNEXT)) {
    const LONG style = ::GetWindowLongW(control, GWL_STYLE);
    const bool label = HasClass(control, "Static") && (style & SS_TYPEMASK) != SS_BITMAP;
    const bool button = HasClass(control, "Button") && (style & BS_TYPEMASK) != BS_GROUPBOX;
    const bool combo = HasClass(control, "ComboBox");
    if (!::IsWindowVisible(control) || !(label || button || combo || HasClass(control, "Edit"))) continue;
    RECT client{};
    ::GetClientRect(control, &client);
    const int id = ::GetDlgCtrlID(control);
    EXPECT_GE(client.bottom, text_height) << "control " << id << " is lower than its text";
    std::vector<std::wstring> texts(1, std::wstring(256, L'\0'));
    if (label || button) ::SendMessageW(control, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(texts[0].data()));
    for (int i = 0, n = combo ? static_cast<int>(::SendMessageW(control, CB_GETCOUNT, 0, 0)) : 0; i < n; ++i) {
      texts.emplace_back(64, L'\0');
      ::SendMessageW(control, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(texts.back().data()));
    }
    const int room = client.right - (combo ? ::GetSystemMetricsForDpi(SM_CXVSCROLL, dpi) : 0);
    for (std::wstring& text : texts) {
      text.resize(std::wcslen(text.c_str()));
      SIZE extent{};
      ::GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &extent);
      EXPECT_GE(room, extent.cx) << "control " << id << " cuts \"" << Utf8(text) << '"';
    }
  }
}

TEST_F(SearchWindowScales, RowsBannerTextsAndWindowFollowTheDpi) {
  SIZE at_96{};
  for (const DWORD dpi : {96u, 144u, 192u}) {
    SCOPED_TRACE("at " + std::to_string(dpi) + " DPI");
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, kDesktop, L"LogPixels", REG_DWORD, &dpi, sizeof dpi), 0);
    ASSERT_TRUE(StartWithSearchWindow(kNoServer));
    // The dialog's font, as the dialog manager makes it from the template.
    const HFONT font = ::CreateFontW(-::MulDiv(9, static_cast<int>(dpi), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                     DEFAULT_CHARSET, 0, 0, 0, 0, L"굴림체");
    HDC dc = ::CreateCompatibleDC(nullptr);
    const HGDIOBJ before = ::SelectObject(dc, font);
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    RECT window{}, client{};
    ::GetWindowRect(dialog(), &window);
    ::GetClientRect(dialog(), &client);
    const SIZE size{window.right - window.left, window.bottom - window.top};
    if (dpi == 96) at_96 = size;
    EXPECT_GE(size.cx * 96, at_96.cx * static_cast<LONG>(dpi) * 19 / 20) << "the window is not as much wider";
    EXPECT_GE(size.cy * 96, at_96.cy * static_cast<LONG>(dpi) * 19 / 20) << "the window is not as much taller";

    SimpleSearch(0, "개포1동");
    ASSERT_GT(ListCount(), 2);
    EXPECT_GE(::SendMessageW(Item(IDC_RESULT_LIST), LB_GETITEMHEIGHT, 0, 0), metrics.tmHeight) << "rows overlap";
    const RECT list = Place(Item(IDC_RESULT_LIST));
    EXPECT_EQ(list.bottom, client.bottom) << "the list ends above the window's foot";
    EXPECT_EQ(list.right - list.left, client.right);
    const RECT banner = Place(Item(IDC_BANNER));
    EXPECT_GE(banner.right - banner.left, client.right) << "the banner does not go across the window";
    EXPECT_LE(banner.bottom, Place(Item(IDC_MODE_TAB)).top) << "the banner covers the tabs";
    for (int tab : {0, 1, 2}) {
      SCOPED_TRACE("tab " + std::to_string(tab));
      SelectTab(tab);
      ExpectTextsHaveRoom(dialog(), dc, metrics.tmHeight, dpi);
    }
    ::SelectObject(dc, before);
    ::DeleteDC(dc);
    ::DeleteObject(font);
    End();
  }
}

// Not a check: with MARLIX_SCREENSHOT_DIR set, pictures of the three modes
// for a person to look at (ImageMagick's import on the X display Wine uses).
// Without it nothing is started.
class SearchWindowPictures : public SearchWindow {
 protected:
  void SetUp() override {
    if (!std::getenv("MARLIX_SCREENSHOT_DIR")) GTEST_SKIP() << "set MARLIX_SCREENSHOT_DIR to take pictures";
    SearchWindow::SetUp();
  }
};

TEST_F(SearchWindowPictures, Screenshots) {
  const char* dir = std::getenv("MARLIX_SCREENSHOT_DIR");
  // Xvfb has no window manager to draw the caption: for the pictures, Wine
  // draws it itself. The setting is read at start, so start Marlix again.
  constexpr char kX11Key[] = "Software\\Wine\\X11 Driver";
  ASSERT_EQ(::RegSetKeyValueA(HKEY_CURRENT_USER, kX11Key, "Managed", REG_SZ, "N", 2), ERROR_SUCCESS);
  End();
  ASSERT_TRUE(StartWithSearchWindow(kNoServer));
  HKEY key;
  if (::RegOpenKeyExA(HKEY_CURRENT_USER, kX11Key, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    ::RegDeleteValueA(key, "Managed");
    ::RegCloseKey(key);
  }
  auto shoot = [&](const char* name) {
    ::RedrawWindow(dialog(), nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Settle();
    ::Sleep(500);
    std::string command = std::string("Z:\\usr\\bin\\import -window root ") + dir + "/" + name + ".png";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    // Wine does not wait for a Unix program: give it time to grab the screen.
    ::Sleep(2000);
    ::CloseHandle(pi.hProcess);
    ::CloseHandle(pi.hThread);
  };
  SimpleSearch(0, "개포1동");
  shoot("tab0");
  SelectTab(1);
  CompositeSearch(1, "", "");
  shoot("tab1");
  SelectTab(2);
  shoot("tab2");
  ::PostMessageA(dialog(), WM_COMMAND, ID_APP_ABOUT, 0);
  ::Sleep(500);
  shoot("about");
  if (HWND about = ::FindWindowW(nullptr, Wide(kAboutTitle).c_str())) ::PostMessageA(about, WM_COMMAND, IDOK, 0);
  // The search window at 150% and 200%, as Wine sets its DPI at each start.
  for (const DWORD dpi : {144u, 192u}) {
    ASSERT_EQ(::RegSetKeyValueA(HKEY_CURRENT_USER, kX11Key, "Managed", REG_SZ, "N", 2), ERROR_SUCCESS);
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, kDesktop, L"LogPixels", REG_DWORD, &dpi, sizeof dpi), 0);
    End();
    ASSERT_TRUE(StartWithSearchWindow(kNoServer));
    ::RegDeleteKeyValueA(HKEY_CURRENT_USER, kX11Key, "Managed");
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kDesktop, L"LogPixels");
    SimpleSearch(0, "개포1동");
    shoot(("search-window-" + std::to_string(dpi)).c_str());
  }
}

}  // namespace
