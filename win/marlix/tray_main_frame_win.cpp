#include "tray_main_frame_win.h"

#include <shellapi.h>
#include <windowsx.h>

#include <iterator>
#include <string>

#include "dpi_win.h"
#include "hot_key_win.h"
#include "resource.h"
#include "text_win.h"
#include "search_dlg_win.h"
#include "tray_decisions.h"

using namespace marlix;

namespace {

constexpr char kIconTip[] = "우편번호검색프로그램";
constexpr UINT kIconId = IDI_MARLIX;

// Posted to itself once at the start, when another program holds the key.
constexpr UINT kOpenKeyTaken = WM_APP + 21;

NOTIFYICONDATAW IconRecord(HWND frame) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = frame;
  data.uID = kIconId;
  return data;
}

}  // namespace

constexpr MessageEntry CTrayMainFrame::kMessageEntries[] = {
    MessageRoute<&CTrayMainFrame::OnCreate>(WM_CREATE),
    MessageRoute<&CTrayMainFrame::OnClose>(WM_CLOSE),
    CommandRoute<&CTrayMainFrame::OnExit>(ID_EXIT),
    MessageRoute<&CTrayMainFrame::OnTrayNotify>(kTrayCallbackMessage),
    MessageRoute<&CTrayMainFrame::OnWindowPosChanging>(WM_WINDOWPOSCHANGING),
    MessageRoute<&CTrayMainFrame::OnHotKey>(WM_HOTKEY),
    MessageRoute<&CTrayMainFrame::OnOpenKeyChanged>(kOpenKeyChanged),
    MessageRoute<&CTrayMainFrame::OnOpenKeyTaken>(kOpenKeyTaken),
};
DEFINE_MESSAGE_MAP(CTrayMainFrame, CWnd)

CTrayMainFrame::CTrayMainFrame() : m_nTaskbarCreated(::RegisterWindowMessageW(L"TaskbarCreated")) {
  Create(kFrameTitle, 0);
}

CTrayMainFrame::~CTrayMainFrame() = default;

LRESULT CTrayMainFrame::OnCreate() {
  AddIcon();
  m_pSearchDlg = nullptr;
  m_pTrayMenu = std::make_unique<CMenu>();
  m_pTrayMenu->LoadMenu(IDR_MAINMENU);
  // Told once: a key another program holds leaves the icon to open the window.
  if (!RegisterOpenKey(m_hWnd)) ::PostMessageW(m_hWnd, kOpenKeyTaken, 0, 0);
  return 0;
}

void CTrayMainFrame::AddIcon() {
  NOTIFYICONDATAW data = IconRecord(m_hWnd);
  // With the fourth version the shell draws the tip only when asked to.
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
  data.uCallbackMessage = kTrayCallbackMessage;
  // The icon's own image at the notification area's small-icon size, which
  // follows the primary monitor's DPI: a larger one shrunk by the shell
  // blurs. The shell keeps a copy of its own.
  const UniqueIcon icon = IconOfSize(IDI_MARLIX, SystemMetricAtDpi(SM_CXSMICON, SystemDpi()));
  data.hIcon = icon.get();
  const std::wstring tip = WideFromUtf8(kIconTip);
  tip.copy(data.szTip, std::size(data.szTip) - 1);
  ::Shell_NotifyIconW(NIM_ADD, &data);
  // The version that makes the icon reachable by keyboard; an older shell
  // refuses it and tells mouse messages only.
  data.uVersion = NOTIFYICON_VERSION_4;
  m_bIconVersion4 = ::Shell_NotifyIconW(NIM_SETVERSION, &data) != FALSE;
}

// Whoever sends it: the icon goes, and with the window the program ends.
void CTrayMainFrame::OnClose() {
  ::UnregisterHotKey(m_hWnd, kOpenKeyId);
  NOTIFYICONDATAW data = IconRecord(m_hWnd);
  ::Shell_NotifyIconW(NIM_DELETE, &data);
  ShowWindow(SW_HIDE);
  ::ShowOwnedPopups(m_hWnd, FALSE);
  SetWindowPos(HWND_BOTTOM, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
  DestroyWindow();
}

void CTrayMainFrame::OnExit() { ::SendMessageW(m_hWnd, WM_CLOSE, 0, 0); }

// The event is the low word of lParam in either version; the fourth gives
// the place of the icon (or the pointer) in wParam.
LRESULT CTrayMainFrame::OnTrayNotify(WPARAM anchor, LPARAM event) {
  const unsigned what = LOWORD(event);
  switch (TrayActionFor(what, m_pSearchDlg != nullptr, m_bIconVersion4)) {
    case TrayAction::kOpenSearch:
      OpenSearchWindow();
      break;
    case TrayAction::kShowSearch:
      m_pSearchDlg->ShowReadyToType();
      break;
    case TrayAction::kShowMenu:
      ShowTrayMenu(m_bIconVersion4 && what == WM_CONTEXTMENU
                       ? std::optional<POINT>(POINT{GET_X_LPARAM(anchor), GET_Y_LPARAM(anchor)})
                       : std::nullopt);
      break;
    case TrayAction::kNone:
      break;
  }
  return 1;
}

void CTrayMainFrame::OnHotKey(WPARAM id) {
  if (id != kOpenKeyId) return;
  if (m_pSearchDlg) {
    m_pSearchDlg->ShowReadyToType();
  } else {
    OpenSearchWindow();
  }
}

LRESULT CTrayMainFrame::OnOpenKeyChanged() { return RegisterOpenKey(m_hWnd) ? 1 : 0; }

void CTrayMainFrame::OnOpenKeyTaken() {
  AfxMessageBox(OpenKeyTakenText(LoadOpenKeySetting()).c_str(), MB_OK | MB_ICONWARNING);
}

void CTrayMainFrame::OpenSearchWindow() {
  auto dialog = std::make_unique<CSearchDlg>();
  m_pSearchDlg = dialog.get();
  const INT_PTR result = dialog->DoModal();
  m_pSearchDlg = nullptr;
  dialog.reset();
  // The frame closed while the window ran: its window is gone with the program's loop.
  if (m_hWnd == nullptr) return;
  if (result == kEndProgramCommand) ::SendMessageW(m_hWnd, WM_CLOSE, 0, 0);
}

// The frame is never to be seen. A later start's minimise request
// (CloseWindow) would otherwise show it as an empty minimised window.
LRESULT CTrayMainFrame::OnWindowPosChanging(WPARAM, LPARAM lParam) {
  reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~SWP_SHOWWINDOW;
  return Default();
}

// At the place the shell gives, or where the pointer is.
void CTrayMainFrame::ShowTrayMenu(std::optional<POINT> place) {
  HMENU popup = m_pTrayMenu->GetSubMenu(0);
  POINT at{};
  if (place) {
    at = *place;
  } else {
    ::GetCursorPos(&at);
  }
  const RECT ignored{at.x - 100, at.y - 100, at.x, at.y};
  // A menu whose owner is not in front stays open when the user clicks
  // elsewhere; the null message afterwards lets the next one open at once.
  ::SetForegroundWindow(m_hWnd);
  ::TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, m_hWnd, &ignored);
  ::PostMessageW(m_hWnd, WM_NULL, 0, 0);
}

LRESULT CTrayMainFrame::DefaultProc(UINT message, WPARAM wParam, LPARAM lParam) {
  // A restarted Explorer has a new notification area without our icon.
  if (message == m_nTaskbarCreated && m_nTaskbarCreated != 0) {
    AddIcon();
    return 0;
  }
  return CFrameWnd::DefaultProc(message, wParam, lParam);
}

// The main window's end is the program's end; the application frees the
// object when its loop is done.
void CTrayMainFrame::PostNcDestroy() { ::PostQuitMessage(0); }
