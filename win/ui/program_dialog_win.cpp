#include "program_dialog_win.h"

#include <iterator>

namespace {
// Top-left corner of the icon drawn centred in a minimised window.
constexpr int CentredIconOffset(int client, int icon) { return (client - icon + 1) / 2; }
static_assert(CentredIconOffset(100, 32) == 34 && CentredIconOffset(101, 32) == 35);
}  // namespace

constexpr MessageEntry CProgramDialog::kMessageEntries[] = {
    MessageRoute<&CProgramDialog::OnSysCommand>(WM_SYSCOMMAND),
    MessageRoute<&CProgramDialog::OnPaint>(WM_PAINT),
    MessageRoute<&CProgramDialog::OnQueryDragIcon>(WM_QUERYDRAGICON),
};
DEFINE_MESSAGE_MAP(CProgramDialog, CDialog)

CProgramDialog::CProgramDialog(UINT templateId, const ProgramDialogIds& ids, CWnd* parent)
    : CDialog(templateId, parent),
      m_ids(ids),
      m_hIcon(::LoadIconW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(ids.icon))) {}

BOOL CProgramDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  // A template without a system menu (the updater's, so that nobody closes
  // it mid-swap) gets no about item.
  HMENU system = (::GetWindowLongW(m_hWnd, GWL_STYLE) & WS_SYSMENU) ? ::GetSystemMenu(m_hWnd, FALSE) : nullptr;
  wchar_t about[128] = {};
  if (system && ::LoadStringW(AfxGetInstanceHandle(), m_ids.aboutMenuText, about,
                              static_cast<int>(std::size(about))) > 0 && about[0]) {
    CMenu menu;
    menu.Attach(system);
    menu.AppendMenu(MF_SEPARATOR);
    menu.AppendMenu(MF_STRING, m_ids.aboutCommand, about);
  }
  SetIcon(m_hIcon, TRUE);
  SetIcon(m_hIcon, FALSE);
  return TRUE;
}

void CProgramDialog::ShowAboutBox() {
  CAboutDlg about(m_ids.aboutBox);
  about.DoModal();
}

void CProgramDialog::OnSysCommand(WPARAM id) {
  if ((id & 0xFFF0) == m_ids.aboutCommand) {
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
  ::DrawIcon(dc.get(), CentredIconOffset(rc.right, ::GetSystemMetrics(SM_CXICON)),
             CentredIconOffset(rc.bottom, ::GetSystemMetrics(SM_CYICON)), m_hIcon);
}

HCURSOR CProgramDialog::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }
