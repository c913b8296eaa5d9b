// The window classes of our small framework: CWnd with its static message
// table, CFrameWnd, CDialog, the control wrappers and CMenu. The windows are
// Unicode windows; the wrappers take and give the programs' UTF-8 text (and
// UTF-16 where a caller wants it) and convert only at the Win32 call. The data's
// CP949 lines and words are converted by their callers, who know them as such.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "handle_win.h"
#include "text_win.h"

class CWnd;

// One route of a message table: a window message, or WM_COMMAND / WM_NOTIFY
// matched on (notification code, control or command id).
struct MessageEntry {
  UINT message;
  UINT code;
  UINT id;
  LRESULT (*handler)(CWnd& wnd, WPARAM wParam, LPARAM lParam);
};

// A class's table and the table of its base class, searched after it.
struct MessageMap {
  const MessageMap* base;
  std::span<const MessageEntry> entries;
};

namespace message_map_detail {

template <class M>
struct Owner;
template <class C, class R, class... A>
struct Owner<R (C::*)(A...)> {
  using type = C;
};

// Calls a member handler with as many of (wParam, lParam) as it takes and
// turns what it returns into the message result.
template <auto Handler>
LRESULT Call(CWnd& wnd, WPARAM wParam, LPARAM lParam) {
  using H = decltype(Handler);
  using C = typename Owner<H>::type;
  C& self = static_cast<C&>(wnd);
  auto call = [&]() -> decltype(auto) {
    if constexpr (std::is_invocable_v<H, C&, WPARAM, LPARAM>) {
      return (self.*Handler)(wParam, lParam);
    } else if constexpr (std::is_invocable_v<H, C&, WPARAM>) {
      return (self.*Handler)(wParam);
    } else {
      return (self.*Handler)();
    }
  };
  using R = decltype(call());
  if constexpr (std::is_void_v<R>) {
    call();
    return 0;
  } else if constexpr (std::is_pointer_v<R>) {
    return reinterpret_cast<LRESULT>(call());
  } else {
    return static_cast<LRESULT>(call());
  }
}

}  // namespace message_map_detail

// A window message, such as WM_TIMER.
template <auto Handler>
constexpr MessageEntry MessageRoute(UINT message) {
  return {message, 0, 0, &message_map_detail::Call<Handler>};
}
// A menu command or a button click (both arrive with notification code 0).
template <auto Handler>
constexpr MessageEntry CommandRoute(UINT id) {
  return {WM_COMMAND, 0, id, &message_map_detail::Call<Handler>};
}
// A WM_COMMAND notification of a control, such as EN_SETFOCUS.
template <auto Handler>
constexpr MessageEntry ControlRoute(UINT code, UINT id) {
  return {WM_COMMAND, code, id, &message_map_detail::Call<Handler>};
}
// A WM_NOTIFY notification of a common control, such as TCN_SELCHANGE.
template <auto Handler>
constexpr MessageEntry NotifyRoute(UINT code, UINT id) {
  return {WM_NOTIFY, code, id, &message_map_detail::Call<Handler>};
}

// Two routes for the same event would leave the second one dead.
constexpr bool HasDuplicateRoutes(std::span<const MessageEntry> entries) {
  for (std::size_t i = 0; i < entries.size(); ++i) {
    for (std::size_t j = i + 1; j < entries.size(); ++j) {
      if (entries[i].message == entries[j].message && entries[i].code == entries[j].code &&
          entries[i].id == entries[j].id) {
        return true;
      }
    }
  }
  return false;
}

// A class's message table: DECLARE_MESSAGE_MAP() in the class, its routes in
// kMessageEntries and DEFINE_MESSAGE_MAP(Class, Base) after them in its source;
// the base class's table is searched after the class's own.
#define DECLARE_MESSAGE_MAP()                  \
  static const MessageEntry kMessageEntries[]; \
  static const MessageMap kMessageMap;         \
  const MessageMap& GetMessageMap() const override { return kMessageMap; }
#define DEFINE_MESSAGE_MAP(Class, Base)                       \
  static_assert(!HasDuplicateRoutes(Class::kMessageEntries)); \
  constinit const MessageMap Class::kMessageMap{&Base::kMessageMap, Class::kMessageEntries};

HINSTANCE AfxGetInstanceHandle();
// The program file's name without its extension, in UTF-8.
const char* AfxGetAppName();
// The same name in UTF-16, for captions.
const wchar_t* AfxGetAppNameW();
// A modal message box captioned with the application name; the text is UTF-8.
int AfxMessageBox(const char* text, UINT type = MB_OK);
int AfxMessageBox(HWND owner, std::string_view text, UINT type);

class CWnd {
 public:
  CWnd() = default;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;
  virtual ~CWnd();

  HWND m_hWnd = nullptr;

  void Attach(HWND hwnd) { m_hWnd = hwnd; }

  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
  }
  HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
  int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
  void SetWindowText(std::string_view text) { ::SetWindowTextW(m_hWnd, marlix::WideFromUtf8(text).c_str()); }
  void SetWindowText(const wchar_t* text) { ::SetWindowTextW(m_hWnd, text); }
  // The text as a search word of the data, in CP949: at most `most` bytes and
  // never half a character. `lossless` tells whether every character had a
  // CP949 form.
  marlix::Cp949String GetCp949WindowText(std::size_t most, bool* lossless = nullptr) const;
  std::string GetWindowTextUtf8() const { return marlix::Utf8FromWide(GetWindowTextW()); }
  std::wstring GetWindowTextW() const;
  void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE) {
    ::MoveWindow(m_hWnd, x, y, width, height, repaint);
  }
  BOOL ShowWindow(int command) { return ::ShowWindow(m_hWnd, command); }
  BOOL EnableWindow(BOOL enable) { return ::EnableWindow(m_hWnd, enable); }
  HWND SetFocus() { return ::SetFocus(m_hWnd); }
  RECT GetClientRect() const {
    RECT rc{};
    ::GetClientRect(m_hWnd, &rc);
    return rc;
  }
  BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
  BOOL SetWindowPos(HWND insert_after, int x, int y, int cx, int cy, UINT flags) {
    return ::SetWindowPos(m_hWnd, insert_after, x, y, cx, cy, flags);
  }
  HICON SetIcon(HICON icon, BOOL big) {
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
  }
  UINT_PTR SetTimer(UINT_PTR id, UINT elapse) { return ::SetTimer(m_hWnd, id, elapse, nullptr); }
  // Paints the window and all its children now, background included.
  void RedrawNow() {
    ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  }

  static const MessageMap kMessageMap;
  virtual const MessageMap& GetMessageMap() const { return kMessageMap; }

 protected:
  enum class Routed { kNo, kHandled, kDefaulted };
  // Offers a message to the tables of this class and its bases. Defaulted when
  // the handler asked for the default processing (Default()).
  Routed Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
  // From a handler: the default processing of the message being handled.
  LRESULT Default();
  virtual LRESULT DefaultProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
  }

  // Shown to the user when a handler throws: nothing may cross a window
  // procedure. Called from inside a catch block; says what it caught.
  static void ReportCurrentException();

 private:
  struct CurrentMessage {
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    bool defaulted = false;
  } m_current;

  // A handler may free its own object (a frame that deletes itself when its
  // window goes). Each dispatch under way keeps a guard the destructor marks,
  // so that nothing of a freed object is touched after the handler returns.
  struct DispatchGuard {
    bool destroyed = false;
    DispatchGuard* outer = nullptr;
  };
  DispatchGuard* m_pDispatchGuard = nullptr;
};

// Control wrappers: the handle of a dialog's control, bound by id, and the
// messages our windows send to it.
class CButton : public CWnd {};

class CStatic : public CWnd {
 public:
  // Returns the image it replaces, which the caller then owns.
  HBITMAP SetBitmap(HBITMAP bitmap) {
    return reinterpret_cast<HBITMAP>(SendMessage(STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap)));
  }
};

class CEdit : public CWnd {};

class CListBox : public CWnd {
 public:
  void ResetContent() { SendMessage(LB_RESETCONTENT); }
  int InsertString(int index, std::string_view text) { return InsertString(index, marlix::WideFromUtf8(text).c_str()); }
  int InsertString(int index, const wchar_t* text) {
    return static_cast<int>(SendMessage(LB_INSERTSTRING, index, reinterpret_cast<LPARAM>(text)));
  }
  // An item's text in UTF-16; empty for an index out of range.
  std::wstring GetTextW(int index) const;
  int SetItemHeight(int index, UINT height) { return static_cast<int>(SendMessage(LB_SETITEMHEIGHT, index, height)); }
  void SetHorizontalExtent(int extent) { SendMessage(LB_SETHORIZONTALEXTENT, extent); }
  int InitStorage(int items, UINT bytes) { return static_cast<int>(SendMessage(LB_INITSTORAGE, items, bytes)); }
  int GetCount() const { return static_cast<int>(SendMessage(LB_GETCOUNT)); }
  int GetCurSel() const { return static_cast<int>(SendMessage(LB_GETCURSEL)); }
};

class CComboBox : public CWnd {
 public:
  void ResetContent() { SendMessage(CB_RESETCONTENT); }
  int AddString(std::string_view text) {
    const std::wstring wide = marlix::WideFromUtf8(text);
    return static_cast<int>(SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str())));
  }
  int SetCurSel(int index) { return static_cast<int>(SendMessage(CB_SETCURSEL, index)); }
};

class CTabCtrl : public CWnd {
 public:
  int InsertItem(int index, std::string_view text);
  int GetCurSel() const { return static_cast<int>(SendMessage(TCM_GETCURSEL)); }
  int SetCurSel(int index) { return static_cast<int>(SendMessage(TCM_SETCURSEL, index)); }
};

class CProgressCtrl : public CWnd {
 public:
  void SetRange(int lower, int upper) { SendMessage(PBM_SETRANGE32, lower, upper); }
  int SetPos(int pos) { return static_cast<int>(SendMessage(PBM_SETPOS, pos)); }
};

// A menu: either loaded from the resources and owned, or one that belongs to
// a window (its system menu) and is only borrowed.
class CMenu {
 public:
  BOOL LoadMenu(UINT id);
  void Attach(HMENU menu) { m_hMenu = menu; }
  BOOL AppendMenu(UINT flags, UINT_PTR id = 0, const wchar_t* text = nullptr) {
    return ::AppendMenuW(m_hMenu, flags, id, text);
  }
  HMENU GetSubMenu(int position) const { return ::GetSubMenu(m_hMenu, position); }

  HMENU m_hMenu = nullptr;

 private:
  UniqueMenu m_owned;
};

// A top-level window of its own class; messages no route takes go to DefWindowProc.
class CFrameWnd : public CWnd {
 public:
  BOOL Create(std::string_view title, DWORD style = WS_OVERLAPPEDWINDOW, DWORD ex_style = 0);
  BOOL DestroyWindow() { return ::DestroyWindow(m_hWnd); }

 protected:
  // Called after the window is gone; a frame that owns itself deletes itself here.
  virtual void PostNcDestroy() {}

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
};

// A dialog on a template of the program's resources, run modally by our own loop.
class CDialog : public CWnd {
 public:
  explicit CDialog(UINT template_id, CWnd* parent = nullptr) : m_nIDTemplate(template_id), m_pParentWnd(parent) {}
  ~CDialog() override;

  // Creates the window, runs the modal loop until EndDialog and destroys the
  // window again. Returns the end code, or -1 when the window cannot be made.
  virtual INT_PTR DoModal();
  void EndDialog(int result);
  void CenterWindow();
  // Every message of the modal loop comes here before it is dispatched; true
  // means it was handled. The default hands it to the dialog manager.
  virtual BOOL PreTranslateMessage(MSG* msg);
  // EndDialog was called, the window has gone or a quit request came.
  bool ModalEnding() const { return m_bEndModal || !m_hWnd; }

  DECLARE_MESSAGE_MAP()

 protected:
  // Binds the controls (DoDataExchange). TRUE lets the dialog manager set the focus.
  virtual BOOL OnInitDialog();
  virtual void DoDataExchange() {}
  // Attaches a control member to the dialog's control of that id.
  void BindControl(int id, CWnd& control);
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }

  // Unhandled dialog messages go back to the dialog manager (DefDlgProc).
  LRESULT DefaultProc(UINT, WPARAM, LPARAM) override { return 0; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  void RouteModalMessage(MSG& msg);

  UINT m_nIDTemplate;
  CWnd* m_pParentWnd;
  bool m_bEndModal = false;
  int m_nModalResult = -1;
};
