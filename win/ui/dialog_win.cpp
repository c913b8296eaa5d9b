#include <algorithm>
#include <exception>

#include "app_win.h"
#include "wnd_win.h"

constexpr MessageEntry CDialog::kMessageEntries[] = {
    CommandRoute<&CDialog::OnOK>(IDOK),
    CommandRoute<&CDialog::OnCancel>(IDCANCEL),
};
DEFINE_MESSAGE_MAP(CDialog, CWnd)

CDialog::~CDialog() {
  if (m_hWnd) ::DestroyWindow(m_hWnd);
}

namespace {
// The tab control, the progress bar and the hot-key control live in the common controls.
void InitCommonControlsOnce() {
  static const bool done = [] {
    INITCOMMONCONTROLSEX icc{sizeof icc,
                             ICC_STANDARD_CLASSES | ICC_TAB_CLASSES | ICC_PROGRESS_CLASS | ICC_HOTKEY_CLASS};
    return ::InitCommonControlsEx(&icc) != FALSE;
  }();
  (void)done;
}
}  // namespace

INT_PTR CDialog::DoModal() {
  InitCommonControlsOnce();
  // Without a parent the main window, if the program has one, owns the dialog:
  // it is disabled meanwhile, and the dialog goes when it goes.
  CWnd* parent = m_pParentWnd;
  if (!parent && CWinApp::Get()) parent = CWinApp::Get()->m_pMainWnd;
  HWND owner = parent ? parent->m_hWnd : nullptr;
  const bool disable_owner = owner && ::IsWindowEnabled(owner);
  m_bEndModal = false;
  m_nModalResult = -1;
  if (!::CreateDialogParamW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(m_nIDTemplate), owner, &CDialog::DialogProc,
                            reinterpret_cast<LPARAM>(this))) {
    return -1;
  }
  if (disable_owner) ::EnableWindow(owner, FALSE);
  if (!m_bEndModal) ShowWindow(SW_SHOWNORMAL);

  MSG msg;
  // The window can also go without EndDialog, with an owner that is destroyed.
  while (!ModalEnding()) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      // A quit request ends the modal run and is passed on to the outer loop.
      ::PostQuitMessage(got == 0 ? static_cast<int>(msg.wParam) : 1);
      break;
    }
    RouteModalMessage(msg);
  }

  // Give the activation back before the window goes, so it does not fall to another program.
  if (disable_owner) {
    ::EnableWindow(owner, TRUE);
    ::SetActiveWindow(owner);
  }
  if (m_hWnd) ::DestroyWindow(m_hWnd);
  return m_nModalResult;
}

void CDialog::RouteModalMessage(MSG& msg) {
  if (!PreTranslateMessage(&msg)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

void CDialog::EndDialog(int result) {
  m_nModalResult = result;
  m_bEndModal = true;
  // Wakes the modal loop when this is called from outside a message it dispatched.
  ::PostMessageW(m_hWnd, WM_NULL, 0, 0);
}

// Over the owner when it is on screen, otherwise in the work area of the screen.
void CDialog::CenterWindow() {
  RECT area{};
  HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
  if (owner && ::IsWindowVisible(owner) && !::IsIconic(owner)) {
    ::GetWindowRect(owner, &area);
  } else {
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  }
  RECT rc{};
  ::GetWindowRect(m_hWnd, &rc);
  const int width = rc.right - rc.left, height = rc.bottom - rc.top;
  int x = area.left + (area.right - area.left - width) / 2;
  int y = area.top + (area.bottom - area.top - height) / 2;
  x = std::max(x, 0);
  y = std::max(y, 0);
  ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL CDialog::PreTranslateMessage(MSG* msg) { return ::IsDialogMessageW(m_hWnd, msg); }

BOOL CDialog::OnInitDialog() {
  DoDataExchange();
  return TRUE;
}

void CDialog::BindControl(int id, CWnd& control) { control.Attach(GetDlgItem(id)); }

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<CDialog*>(lParam);
    ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    self->m_hWnd = hwnd;
    RECT before{}, after{};
    ::GetWindowRect(hwnd, &before);
    BOOL result = TRUE;
    try {
      result = self->OnInitDialog();
    } catch (...) {
      ReportCurrentException();
    }
    // A dialog that did not place itself opens centred rather than in a corner.
    ::GetWindowRect(hwnd, &after);
    if (::EqualRect(&before, &after)) self->CenterWindow();
    return result;
  }
  auto* self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
  if (!self) return FALSE;
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    self->m_hWnd = nullptr;
    return FALSE;
  }
  LRESULT result = 0;
  try {
    if (self->Dispatch(message, wParam, lParam, result) != Routed::kHandled) return FALSE;
  } catch (...) {
    ReportCurrentException();
    return TRUE;
  }
  // These few answer through the return value; all others through DWLP_MSGRESULT.
  switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
      return static_cast<INT_PTR>(result);
    default:
      ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
      return TRUE;
  }
}
