#include "wnd_win.h"

#include <exception>

constinit const MessageMap CWnd::kMessageMap{nullptr, {}};

int CWnd::GetWindowText(char* buffer, int size) const {
  if (size <= 0) return 0;
  buffer[0] = '\0';
  return ::GetWindowTextA(m_hWnd, buffer, size);
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
      if (guard.destroyed) return Routed::Handled;  // the object is gone: touch nothing
      m_pDispatchGuard = guard.outer;
      const bool defaulted = m_current.defaulted;
      m_current = outer;
      return defaulted ? Routed::Defaulted : Routed::Handled;
    }
  }
  return Routed::No;
}

LRESULT CWnd::Default() {
  m_current.defaulted = true;
  return DefaultProc(m_current.message, m_current.wParam, m_current.lParam);
}

void CWnd::ReportException(const char* what) {
  AfxMessageBox(what && *what ? what : "Unexpected error", MB_OK | MB_ICONERROR);
}

int CTabCtrl::InsertItem(int index, const char* text) {
  TCITEMA item{};
  item.mask = TCIF_TEXT;
  item.pszText = const_cast<char*>(text);
  return static_cast<int>(SendMessage(TCM_INSERTITEMA, index, reinterpret_cast<LPARAM>(&item)));
}

BOOL CMenu::LoadMenu(UINT id) {
  m_owned.reset(::LoadMenuA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(id)));
  m_hMenu = m_owned.get();
  return m_hMenu != nullptr;
}

namespace {
constexpr char kFrameClass[] = "MarlixFrame";
}

BOOL CFrameWnd::Create(const char* title, DWORD style, DWORD exStyle) {
  static const ATOM registered = [] {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &CFrameWnd::WindowProc;
    wc.hInstance = AfxGetInstanceHandle();
    wc.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kFrameClass;
    return ::RegisterClassExA(&wc);
  }();
  if (!registered) return FALSE;
  return ::CreateWindowExA(exStyle, kFrameClass, title, style, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, nullptr, nullptr, AfxGetInstanceHandle(), this) != nullptr;
}

LRESULT CALLBACK CFrameWnd::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<CFrameWnd*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    self->m_hWnd = hwnd;
    ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<CFrameWnd*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!self) return ::DefWindowProcA(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    const LRESULT result = ::DefWindowProcA(hwnd, message, wParam, lParam);
    self->m_hWnd = nullptr;
    self->PostNcDestroy();
    return result;
  }
  LRESULT result = 0;
  try {
    // A handler that called Default() has had the default processing already.
    if (self->Dispatch(message, wParam, lParam, result) != Routed::No) return result;
    // A frame may answer messages that no table can name, such as registered ones.
    return self->DefaultProc(message, wParam, lParam);
  } catch (const std::exception& e) {
    ReportException(e.what());
    return 0;
  }
}
