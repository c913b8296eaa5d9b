// The window that converts a pasted list, opened from the search window's
// 옵션 menu of the real Marlix.exe and driven from outside: a paste, its
// conversion, a pick among candidates, the copy on the clipboard, a cancelled
// run and a window closed while it converts.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "address_list_ids.h"
#include "answer_watch_win.h"
#include "marlix_driver_win.h"

namespace {

using namespace marlix_test;

const std::string kPostCsv = std::string(kDataDir) + "\\post.csv";
constexpr char kX11Key[] = "Software\\Wine\\X11 Driver";

class AddressList : public FreshSearchWindow {
 protected:
  void SetUp() override {
    // For the README's picture Wine draws the caption itself: Xvfb has no window manager.
    if (std::getenv("MARLIX_SCREENSHOT_DIR")) ::RegSetKeyValueA(HKEY_CURRENT_USER, kX11Key, "Managed", REG_SZ, "N", 2);
    FreshSearchWindow::SetUp();
    if (HasFatalFailure()) return;
    PostCommand(ID_ADDRESS_LIST);
    ASSERT_TRUE(WaitForWindow("여러 주소 변환", list_));
  }
  void TearDown() override {
    ::DeleteFileA(kPostCsv.c_str());
    ::RegDeleteKeyValueA(HKEY_CURRENT_USER, kX11Key, "Managed");
    FreshSearchWindow::TearDown();
  }
  HWND Control(int id) const { return ::GetDlgItem(list_, id); }
  std::wstring Status() const {
    wchar_t text[256] = {};
    ::SendMessageW(Control(IDC_LIST_STATUS), WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text));
    return text;
  }
  void Press(int id) {
    ::PostMessageW(list_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Control(id)));
  }
  // Pastes the text into the empty list box as Ctrl+V would, from the clipboard's Unicode text.
  void Paste(const std::string& utf8) {
    const std::wstring text = Wide(utf8);
    ASSERT_TRUE(::OpenClipboard(nullptr));
    ::EmptyClipboard();
    HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, (text.size() + 1) * sizeof(wchar_t));
    std::memcpy(::GlobalLock(block), text.c_str(), text.size() * sizeof(wchar_t));
    ::GlobalUnlock(block);
    ::SetClipboardData(CF_UNICODETEXT, block);
    ::CloseClipboard();
    ::SendMessageW(Control(IDC_LIST_INPUT), WM_PASTE, 0, 0);
  }
  bool Converted() {
    return WaitUntil([&] { return ::IsWindowEnabled(Control(IDC_LIST_CONVERT)) != FALSE; });
  }
  int Rows() const { return static_cast<int>(::SendMessageW(Control(IDC_LIST_TABLE), LVM_GETITEMCOUNT, 0, 0)); }
  // A list view's messages carry an item, which must lie in Marlix's own memory; its text comes back after it.
  std::wstring SendItem(UINT message, int row, LVITEMW item) {
    constexpr int kChars = 512;
    auto* remote = static_cast<char*>(
        ::VirtualAllocEx(process(), nullptr, sizeof item + kChars * 2, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    item.pszText = reinterpret_cast<wchar_t*>(remote + sizeof item);
    item.cchTextMax = kChars;
    ::WriteProcessMemory(process(), remote, &item, sizeof item, nullptr);
    const auto n = ::SendMessageW(Control(IDC_LIST_TABLE), message, row, reinterpret_cast<LPARAM>(remote));
    std::wstring text(kChars, L'\0');
    ::ReadProcessMemory(process(), item.pszText, text.data(), kChars * 2, nullptr);
    ::VirtualFreeEx(process(), remote, 0, MEM_RELEASE);
    text.resize(message == LVM_GETITEMTEXTW ? static_cast<std::size_t>(n) : 0);
    return text;
  }
  std::wstring Cell(int row, int column) {
    LVITEMW item{};
    item.iSubItem = column;
    return SendItem(LVM_GETITEMTEXTW, row, item);
  }
  void SelectRow(int row) {
    LVITEMW item{};
    item.stateMask = item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendItem(LVM_SETITEMSTATE, row, item);
  }

  HWND list_ = nullptr;
};

TEST_F(AddressList, ConvertsPastedRowsAndCopiesThemAsExcelPastes) {
  std::ofstream(kDataFile, std::ios::binary) << Cp949(
      "06316 서울특별시 강남구 논현로8길 7 (개포동) 개포동 1190\r\n"
      "34000 대전광역시 중구 중앙로 12 (은행동) 은행동 1\r\n"
      "41900 대구광역시 중구 중앙로 12 (동인동1가, 샛별빌딩) 동인동1가 2\r\n"
      "135-806 서울 강남구 개포1동 경남아파트\r\n");
  std::ofstream(kPostCsv, std::ios::binary) << Cp949(
      "우편번호,시도,시군구,도로명 수,건물 수,시도 영문,시군구 영문,행정동,읍면,도로명\r\n"
      "06316,서울특별시,강남구,1,1,Seoul,Gangnam-gu,개포2동,,논현로8길=Nonhyeon-ro 8-gil\r\n");
  // Whole rows of an order list, as Excel copies them.
  Paste(
      "주문번호\t받는분\t주소\r\n1\t김철수\t서울시 강남구 논현로8길 7, 3층\r\n2\t이영희\t중앙로 12\r\n"
      "3\t박민수\t부산 논현로8길 7\r\n4\t최지우\t서울 강남구 개포1동 경남아파트\r\n");
  Press(IDC_LIST_CONVERT);
  ASSERT_TRUE(Converted());
  EXPECT_EQ(Status().rfind(L"4행: 일치 2, 후보 1, 없음 1 (", 0), 0u) << Utf8(Status());
  ASSERT_EQ(Rows(), 4);
  EXPECT_EQ(Cell(1, 4), L"후보 2");

  const std::string head =
      "주문번호\t받는분\t주소\t우편번호\t도로명주소\t영문주소\t결과\r\n"
      "1\t김철수\t서울시 강남구 논현로8길 7, 3층\t06316\t서울특별시 강남구 논현로8길 7 (개포동) 개포동 "
      "1190\t7, Nonhyeon-ro 8-gil, Gangnam-gu, Seoul 06316\t일치\r\n";
  const std::string tail =
      "3\t박민수\t부산 논현로8길 7\t\t\t\t없음\r\n"
      "4\t최지우\t서울 강남구 개포1동 경남아파트\t135-806\t서울 강남구 개포1동 경남아파트\t\t일치\r\n";
  std::string expected =
      head + "2\t이영희\t중앙로 12\t34000\t대전광역시 중구 중앙로 12 (은행동) 은행동 1\t\t후보 2\r\n" + tail;
  Press(IDC_LIST_COPY);
  Settle();
  EXPECT_EQ(ClipboardUnicode(), std::make_pair(Wide(expected), LCID{0x0412}));
  EXPECT_EQ(ClipboardText(), Cp949(expected));

  // The row with two candidates lists them; the one picked is kept in the row and its copy.
  SelectRow(1);
  Settle();
  HWND candidates = Control(IDC_LIST_CANDIDATES);
  ASSERT_EQ(::SendMessageW(candidates, LB_GETCOUNT, 0, 0), 2);
  ::SendMessageW(candidates, LB_SETCURSEL, 1, 0);
  ::PostMessageW(list_, WM_COMMAND, MAKEWPARAM(IDC_LIST_CANDIDATES, LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(candidates));
  Settle();
  EXPECT_EQ(Cell(1, 1), L"41900");
  EXPECT_EQ(Cell(1, 4), L"선택 (후보 2)");
  expected =
      head +
      "2\t이영희\t중앙로 12\t41900\t대구광역시 중구 중앙로 12 (동인동1가, 샛별빌딩) 동인동1가 2\t\t선택 (후보 2)\r\n" +
      tail;
  Press(IDC_LIST_COPY);
  Settle();
  EXPECT_EQ(ClipboardUnicode().first, Wide(expected));

  // 저장: the converter's CSV, UTF-8 with its mark, where the Save dialog says.
  const std::string saved = std::string(kDataDir) + "\\list.csv";
  ::DeleteFileA(saved.c_str());
  Press(IDC_LIST_SAVE);
  HWND save = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (save = ::GetLastActivePopup(list_)) != list_; }));
  for (int name_box : {0x47C, 0x480}) ::SetDlgItemTextW(save, name_box, Wide(saved).c_str());
  ::PostMessageW(save, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(save); }));
  const std::string csv = ReadWholeFile(saved);
  EXPECT_EQ(
      csv.rfind(
          "\xEF\xBB\xBF주문번호,받는분,주소,우편번호,도로명주소,영문주소,결과\r\n1,김철수,\"서울시 강남구 논현로8길 7, "
          "3층\","
          "06316,서울특별시 강남구 논현로8길 7 (개포동) 개포동 1190,\"7, Nonhyeon-ro 8-gil, Gangnam-gu, Seoul "
          "06316\",일치\r\n"
          "2,이영희,중앙로 12,41900,\"대구광역시 중구 중앙로 12 (동인동1가, 샛별빌딩) 동인동1가 2\",,선택 (후보 2)\r\n",
          0),
      0u)
      << csv;

  // Not a check: with MARLIX_SCREENSHOT_DIR set, the window's picture for the README.
  if (const char* dir = std::getenv("MARLIX_SCREENSHOT_DIR")) {
    RECT rc{};
    ::GetWindowRect(list_, &rc);
    std::string command = "Z:\\usr\\bin\\import -window root -crop " + std::to_string(rc.right - rc.left) + "x" +
                          std::to_string(rc.bottom - rc.top) + "+" + std::to_string(rc.left) + "+" +
                          std::to_string(rc.top) + " +repage " + dir + "/address-list.png";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    ::Sleep(2000);  // Wine does not wait for a Unix program
    ::CloseHandle(pi.hProcess);
    ::CloseHandle(pi.hThread);
  }
}

// A cancelled run shows nothing; the window answers while it converts; closing it stops the conversion.
TEST_F(AddressList, CancelsAndAnswersWhileItConverts) {
  std::string pasted;
  int rows = 0;
  for (; rows < 20000; ++rows)
    pasted += "서울 강남구 개포" + std::to_string(rows % 9) + "동 " + std::to_string(rows) + "\r\n";
  Paste(pasted);
  Press(IDC_LIST_CONVERT);
  Press(IDC_LIST_CANCEL);
  ASSERT_TRUE(Converted());
  EXPECT_EQ(Status(), L"변환을 취소했습니다.");
  EXPECT_EQ(Rows(), 0);
  EXPECT_FALSE(::IsWindowEnabled(Control(IDC_LIST_COPY)));

  AnswerWatch watch(list_);
  Press(IDC_LIST_CONVERT);
  ASSERT_TRUE(Converted());
  const double worst_ms = watch.Finish();
  RecordProperty("worst_answer_ms", static_cast<int>(worst_ms));
  EXPECT_LT(worst_ms, 100);
  EXPECT_EQ(Rows(), rows);
  EXPECT_NE(Status().find(L"행: 일치 "), std::wstring::npos);

  Press(IDC_LIST_CONVERT);
  ::PostMessageW(list_, WM_COMMAND, IDCANCEL, 0);
  EXPECT_TRUE(WaitWindowGone(list_));
  EXPECT_TRUE(Running());
  EXPECT_TRUE(::IsWindowEnabled(dialog()));
}

}  // namespace
