#include "wnd_win.h"

#include "caught_text.h"
#include "cp949_bytes.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <string>
#include <utility>

constinit const MessageMap CWnd::kMessageMap{nullptr, {}};

std::wstring CWnd::GetWindowTextW() const {
  const int length = ::GetWindowTextLengthW(m_hWnd);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(::GetWindowTextW(m_hWnd, text.data(), length + 1)));
  return text;
}

marlix::Cp949String CWnd::GetCp949WindowText(std::size_t most, bool* lossless) const {
  std::string text = marlix::Cp949FromWide(GetWindowTextW(), lossless).bytes();
  // Whole characters only.
  text.resize(marlix::CharacterStart(text, std::min(text.size(), most)));
  return marlix::Cp949String(std::move(text));
}

std::wstring CListBox::GetTextW(int index) const {
  const LRESULT length = SendMessage(LB_GETTEXTLEN, index);
  if (length == LB_ERR) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const LRESULT got = SendMessage(LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
  text.resize(got == LB_ERR ? 0 : static_cast<std::size_t>(got));
  return text;
}

CWnd::~CWnd() {
  for (DispatchGuard* guard = m_pDispatchGuard; guard; guard = guard->outer) guard->destroyed = true;
}

CWnd::Routed CWnd::Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  UINT code = 0;
  UINT id = 0;
  if (message == WM_COMMAND) {
    code = HIWORD(wParam);
    id = LOWORD(wParam);
  } else if (message == WM_NOTIFY) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    code = header->code;
    id = static_cast<UINT>(header->idFrom);
  }
  for (const MessageMap* map = &GetMessageMap(); map; map = map->base) {
    for (const MessageEntry& entry : map->entries) {
      if (entry.message != message || entry.code != code || entry.id != id) continue;
      // A handler may cause further messages to this window; keep ours apart.
      const CurrentMessage outer = m_current;
      m_current = {message, wParam, lParam, false};
      DispatchGuard guard{false, m_pDispatchGuard};
      m_pDispatchGuard = &guard;
      try {
        result = entry.handler(*this, wParam, lParam);
      } catch (...) {
        if (!guard.destroyed) {
          m_pDispatchGuard = guard.outer;
          m_current = outer;
        }
        throw;
      }
      if (guard.destroyed) return Routed::kHandled;  // the object is gone: touch nothing
      m_pDispatchGuard = guard.outer;
      const bool defaulted = m_current.defaulted;
      m_current = outer;
      return defaulted ? Routed::kDefaulted : Routed::kHandled;
    }
  }
  return Routed::kNo;
}

LRESULT CWnd::Default() {
  m_current.defaulted = true;
  return DefaultProc(m_current.message, m_current.wParam, m_current.lParam);
}

void CWnd::ReportCurrentException() { AfxMessageBox(marlix::CaughtText().c_str(), MB_OK | MB_ICONERROR); }

int CTabCtrl::InsertItem(int index, std::string_view text) {
  std::wstring wide = marlix::WideFromUtf8(text);
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = wide.data();
  return static_cast<int>(SendMessage(TCM_INSERTITEMW, index, reinterpret_cast<LPARAM>(&item)));
}

BOOL CMenu::LoadMenu(UINT id) {
  m_owned.reset(::LoadMenuW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(id)));
  m_hMenu = m_owned.get();
  return m_hMenu != nullptr;
}

namespace {
constexpr wchar_t kFrameClass[] = L"MarlixFrame";
}

BOOL CFrameWnd::Create(std::string_view title, DWORD style, DWORD ex_style) {
  static const ATOM registered = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &CFrameWnd::WindowProc;
    wc.hInstance = AfxGetInstanceHandle();
    wc.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kFrameClass;
    return ::RegisterClassExW(&wc);
  }();
  if (!registered) return FALSE;
  return ::CreateWindowExW(ex_style, kFrameClass, marlix::WideFromUtf8(title).c_str(), style, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, AfxGetInstanceHandle(),
                           this) != nullptr;
}

LRESULT CALLBACK CFrameWnd::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<CFrameWnd*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->m_hWnd = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<CFrameWnd*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    const LRESULT result = ::DefWindowProcW(hwnd, message, wParam, lParam);
    self->m_hWnd = nullptr;
    self->PostNcDestroy();
    return result;
  }
  LRESULT result = 0;
  try {
    // A handler that called Default() has had the default processing already.
    if (self->Dispatch(message, wParam, lParam, result) != Routed::kNo) return result;
    // A frame may answer messages that no table can name, such as registered ones.
    return self->DefaultProc(message, wParam, lParam);
  } catch (...) {
    ReportCurrentException();
    return 0;
  }
}
