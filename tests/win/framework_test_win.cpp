// The framework's message tables: a derived class's routes come first, then
// its base's, then the default window procedure.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "wnd_win.h"

namespace {

constexpr UINT kMine = WM_APP, kBaseOnly = WM_APP + 1, kNobody = WM_APP + 2;
constexpr UINT kCommand = 100;

class BaseFrame : public CFrameWnd {
 public:
  static const MessageEntry kMessageEntries[];
  static const MessageMap kMessageMap;
  const MessageMap& GetMessageMap() const override { return kMessageMap; }

  int commands = 0;

 protected:
  LRESULT OnMine(WPARAM, LPARAM) { return 1; }
  LRESULT OnBaseOnly(WPARAM wParam, LPARAM lParam) { return static_cast<LRESULT>(wParam + lParam); }
  void OnCommand() { ++commands; }
};

constexpr MessageEntry BaseFrame::kMessageEntries[] = {
    MessageRoute<&BaseFrame::OnMine>(kMine),
    MessageRoute<&BaseFrame::OnBaseOnly>(kBaseOnly),
    CommandRoute<&BaseFrame::OnCommand>(kCommand),
};
constinit const MessageMap BaseFrame::kMessageMap{&CWnd::kMessageMap, BaseFrame::kMessageEntries};

class DerivedFrame : public BaseFrame {
 public:
  static const MessageEntry kMessageEntries[];
  static const MessageMap kMessageMap;
  const MessageMap& GetMessageMap() const override { return kMessageMap; }

  std::wstring last_title;

 protected:
  LRESULT OnMine() { return 2; }
  // Watches the title go by (in UTF-16: a Unicode window's) and lets the
  // default procedure store it.
  LRESULT OnSetText(WPARAM, LPARAM lParam) {
    last_title = reinterpret_cast<const wchar_t*>(lParam);
    return Default();
  }
};

constexpr MessageEntry DerivedFrame::kMessageEntries[] = {
    MessageRoute<&DerivedFrame::OnMine>(kMine),
    MessageRoute<&DerivedFrame::OnSetText>(WM_SETTEXT),
};
static_assert(!HasDuplicateRoutes(DerivedFrame::kMessageEntries));
constinit const MessageMap DerivedFrame::kMessageMap{&BaseFrame::kMessageMap, DerivedFrame::kMessageEntries};

TEST(MessageTable, DerivedRoutesComeBeforeBaseRoutesAndTheDefault) {
  DerivedFrame frame;
  ASSERT_TRUE(frame.Create("probe", WS_OVERLAPPEDWINDOW));
  HWND hwnd = frame.m_hWnd;
  EXPECT_EQ(::SendMessageA(hwnd, kMine, 0, 0), 2);
  EXPECT_EQ(::SendMessageA(hwnd, kBaseOnly, 3, 4), 7);
  EXPECT_EQ(::SendMessageA(hwnd, kNobody, 3, 4), 0);

  ::SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(kCommand, 0), 0);
  ::SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(kCommand, EN_SETFOCUS), 0);  // another code: not this route
  EXPECT_EQ(frame.commands, 1);

  ::SetWindowTextA(hwnd, "renamed");
  EXPECT_EQ(frame.last_title, L"renamed");
  char title[32] = {};
  ::GetWindowTextA(hwnd, title, sizeof title);
  EXPECT_STREQ(title, "renamed") << "Default() must run the default procedure";

  frame.DestroyWindow();
  EXPECT_EQ(frame.m_hWnd, nullptr);
}

// Message boxes are captioned with the program file's name, without folder or extension.
TEST(Application, NameIsTheProgramFileWithoutItsExtension) { EXPECT_STREQ(AfxGetAppName(), "framework_test_win"); }

// A menu command and a button click share code 0, so these two are one route.
struct Probe : CWnd {
  void On() {}
};
constexpr MessageEntry kTwice[] = {CommandRoute<&Probe::On>(7), ControlRoute<&Probe::On>(BN_CLICKED, 7)};
static_assert(HasDuplicateRoutes(kTwice));
constexpr MessageEntry kApart[] = {CommandRoute<&Probe::On>(7), ControlRoute<&Probe::On>(EN_SETFOCUS, 7)};
static_assert(!HasDuplicateRoutes(kApart));

}  // namespace

namespace {

// A frame that frees itself when its window goes, as the program's main
// window does, inside its own WM_CLOSE handler. Its memory is kept (and
// filled with a mark) instead of freed, so the test can see whether anything
// wrote into the object after its destructor.
class SelfFreeingFrame : public CFrameWnd {
 public:
  static const MessageEntry kMessageEntries[];
  static const MessageMap kMessageMap;
  const MessageMap& GetMessageMap() const override { return kMessageMap; }

  // NOLINTNEXTLINE(misc-new-delete-overloads): the sized delete below is its match at class scope
  static void* operator new(std::size_t size) {
    block_size = size;
    block = static_cast<unsigned char*>(::operator new(size));
    return block;
  }
  static void operator delete(void* p, std::size_t size) { std::memset(p, 0xDD, size); }

  static inline unsigned char* block = nullptr;
  static inline std::size_t block_size = 0;

 protected:
  void OnClose() { DestroyWindow(); }
  void PostNcDestroy() override { delete this; }
};

constexpr MessageEntry SelfFreeingFrame::kMessageEntries[] = {
    MessageRoute<&SelfFreeingFrame::OnClose>(WM_CLOSE),
};
constinit const MessageMap SelfFreeingFrame::kMessageMap{&CWnd::kMessageMap, SelfFreeingFrame::kMessageEntries};

}  // namespace

TEST(MessageTable, AHandlerMayFreeItsOwnWindowObject) {
  auto* frame = new SelfFreeingFrame;
  ASSERT_TRUE(frame->Create("self-freeing", WS_OVERLAPPEDWINDOW));
  HWND hwnd = frame->m_hWnd;
  ::SendMessageA(hwnd, WM_CLOSE, 0, 0);
  EXPECT_FALSE(::IsWindow(hwnd));
  unsigned char* const block = SelfFreeingFrame::block;
  ASSERT_NE(block, nullptr);
  for (std::size_t i = 0; i < SelfFreeingFrame::block_size; ++i) {
    ASSERT_EQ(block[i], 0xDD) << "byte " << i << " of the freed window object was written after its end";
  }
  ::operator delete(block);
}
