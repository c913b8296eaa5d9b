#include "program_dialog_win.h"

#include <iterator>
#include <utility>

namespace {
// Top-left corner of the icon drawn centred in a minimised window.
constexpr int CentredIconOffset(int client, int icon) { return (client - icon + 1) / 2; }
static_assert(CentredIconOffset(100, 32) == 34 && CentredIconOffset(101, 32) == 35);
}  // namespace

constexpr MessageEntry CProgramDialog::kMessageEntries[] = {
    MessageRoute<&CProgramDialog::OnSysCommand>(WM_SYSCOMMAND),
    MessageRoute<&CProgramDialog::OnPaint>(WM_PAINT),
    MessageRoute<&CProgramDialog::OnQueryDragIcon>(WM_QUERYDRAGICON),
    MessageRoute<&CProgramDialog::OnDpiChanged>(WM_DPICHANGED),
};
DEFINE_MESSAGE_MAP(CProgramDialog, CDialog)

CProgramDialog::CProgramDialog(UINT template_id, const ProgramDialogIds& ids, CWnd* parent)
    : CDialog(template_id, parent), m_ids(ids) {}

BOOL CProgramDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  // A template without a system menu (the updater's, so that nobody closes
  // it mid-swap) gets no about item.
  HMENU system = (::GetWindowLongW(m_hWnd, GWL_STYLE) & WS_SYSMENU) ? ::GetSystemMenu(m_hWnd, FALSE) : nullptr;
  wchar_t about[128] = {};
  if (system &&
      ::LoadStringW(AfxGetInstanceHandle(), m_ids.about_menu_text, about, static_cast<int>(std::size(about))) > 0 &&
      about[0]) {
    CMenu menu;
    menu.Attach(system);
    menu.AppendMenu(MF_SEPARATOR);
    menu.AppendMenu(MF_STRING, m_ids.about_command, about);
  }
  m_nDpi = marlix::WindowDpi(m_hWnd);
  marlix::TakeOverDialogDpiChange(m_hWnd);
  SetIconsForDpi();
  return TRUE;
}

// Each icon drawn for its size at the window's DPI: one shrunk or stretched
// by the system blurs. The window holds them until it has the next ones.
void CProgramDialog::SetIconsForDpi() {
  UniqueIcon big = marlix::IconOfSize(m_ids.icon, marlix::SystemMetricAtDpi(SM_CXICON, m_nDpi));
  UniqueIcon small = marlix::IconOfSize(m_ids.icon, marlix::SystemMetricAtDpi(SM_CXSMICON, m_nDpi));
  SetIcon(big.get(), TRUE);
  SetIcon(small.get(), FALSE);
  m_bigIcon = std::move(big);
  m_smallIcon = std::move(small);
}

// The window takes the place Windows suggests for the new DPI; the template's
// controls keep their places and sizes in proportion, in the font made again
// for that DPI, and the dialog then places what it places itself.
void CProgramDialog::OnDpiChanged(WPARAM dpis, LPARAM suggested) {
  const UINT dpi = HIWORD(dpis);  // the same across and down
  if (dpi == 0) return;
  const UINT old = std::exchange(m_nDpi, dpi);
  const RECT& place = *reinterpret_cast<const RECT*>(suggested);
  SetWindowPos(nullptr, place.left, place.top, place.right - place.left, place.bottom - place.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
  const HFONT shown = m_font ? m_font.get() : reinterpret_cast<HFONT>(SendMessage(WM_GETFONT));
  UniqueFont font = marlix::FontAtDpi(shown, old, dpi);
  auto scale = [&](LONG v) { return ::MulDiv(v, static_cast<int>(dpi), static_cast<int>(old)); };
  for (HWND child = ::GetWindow(m_hWnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    RECT rc{};
    ::GetWindowRect(child, &rc);
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rc), 2);
    // A combo box's height is that of its open list.
    RECT dropped{};
    if (::SendMessageW(child, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped)) &&
        dropped.bottom > dropped.top) {
      rc.bottom = rc.top + (dropped.bottom - dropped.top);
    }
    ::MoveWindow(child, scale(rc.left), scale(rc.top), scale(rc.right) - scale(rc.left),
                 scale(rc.bottom) - scale(rc.top), FALSE);
    if (font) ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
  }
  if (font) m_font = std::move(font);
  SetIconsForDpi();
  LayOutForDpi();
  RedrawNow();
}

void CProgramDialog::ShowAboutBox() {
  CAboutDlg about(m_ids.about_box);
  about.DoModal();
}

void CProgramDialog::OnSysCommand(WPARAM id) {
  if ((id & 0xFFF0) == m_ids.about_command) {
    ShowAboutBox();
  } else {
    Default();
  }
}

void CProgramDialog::OnPaint() {
  if (!IsIconic()) {
    Default();
    return;
  }
  PaintDC dc(m_hWnd);
  SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.get()), 0);
  const RECT rc = GetClientRect();
  const int size = marlix::SystemMetricAtDpi(SM_CXICON, m_nDpi);
  ::DrawIconEx(dc.get(), CentredIconOffset(rc.right, size), CentredIconOffset(rc.bottom, size), m_bigIcon.get(), size,
               size, 0, nullptr, DI_NORMAL);
}

HCURSOR CProgramDialog::OnQueryDragIcon() { return static_cast<HCURSOR>(m_bigIcon.get()); }
