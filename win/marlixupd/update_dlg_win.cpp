#include "update_dlg_win.h"

#include <iterator>

#include "local_files.h"
#include "program_version_win.h"
#include "text_win.h"
#include "updater_resource.h"

using namespace marlix::updater;

namespace {
constexpr UINT_PTR kStartTimer = 1;
constexpr UINT kStartDelayMs = 100;
}  // namespace

constexpr MessageEntry CUpdateDlg::kMessageEntries[] = {
    MessageRoute<&CUpdateDlg::OnShowWindow>(WM_SHOWWINDOW),
    MessageRoute<&CUpdateDlg::OnTimer>(WM_TIMER),
    CommandRoute<&CUpdateDlg::RunUpdate>(IDOK),
};
DEFINE_MESSAGE_MAP(CUpdateDlg, CProgramDialog)

CUpdateDlg::CUpdateDlg(CWnd* parent)
    : CProgramDialog(IDD_UPDATER, {IDI_UPDATER, IDD_UPDATER_ABOUTBOX, IDS_UPDATER_ABOUTBOX, IDM_UPDATER_ABOUTBOX},
                     parent),
      m_nProgressMax(0) {}

CUpdateDlg::~CUpdateDlg() = default;

void CUpdateDlg::DoDataExchange() {
  BindControl(IDCANCEL, m_btnCancel);
  BindControl(IDOK, m_btnOK);
  BindControl(IDC_UPDATE_PROGRESS, m_progress);
  BindControl(IDC_UPDATE_MESSAGE, m_stMessage);
}

BOOL CUpdateDlg::OnInitDialog() {
  CProgramDialog::OnInitDialog();

  m_nProgressMax = kProgressMax;
  // The program folder is the updater's own, whatever the working directory
  // (a user or a shortcut may start it from anywhere). Its file steps name
  // files in UTF-8, and the system in UTF-16, so any folder name will do.
  std::wstring folder = marlix::OwnProgramFolder();
  if (folder.empty()) {
    // The system cannot tell the program's file: the working directory, as a last resort.
    wchar_t current[MAX_PATH] = {};
    const DWORD length = ::GetCurrentDirectoryW(MAX_PATH, current);
    if (length > 0 && length < MAX_PATH) folder = current;
  }
  m_strCurDir = marlix::Utf8FromWide(folder);
  m_strNewFile = marlix::JoinPath(m_strCurDir, kNewProgramFile);

  UpdateSetup setup;
  setup.program_dir = m_strCurDir;
  setup.new_file = m_strNewFile;
  setup.progress_max = m_nProgressMax;
  setup.agent = AfxGetAppName();
  UpdateWindow& window = *this;
  m_update = std::make_unique<ProgramUpdate>(std::move(setup), window, m_processes, m_files, m_versions, m_shell);
  return TRUE;
}

void CUpdateDlg::OnShowWindow(WPARAM shown) {
  Default();
  if (shown) SetTimer(kStartTimer, kStartDelayMs);
}

// The timer only sets the update off, once.
void CUpdateDlg::OnTimer(WPARAM id) {
  Default();
  ::KillTimer(m_hWnd, id);
  RunUpdate();
}

void CUpdateDlg::RunUpdate() {
  if (m_update) m_update->RunUpdate();
}


// The update blocks this thread: each text is painted at once, so that it
// shows during the waits and reads that follow it.
void CUpdateDlg::SetStatus(const std::string& text) {
  m_stMessage.SetWindowText(text);
  ::UpdateWindow(m_stMessage.m_hWnd);
}

void CUpdateDlg::SetProgressRange(int lower, int upper) { m_progress.SetRange(lower, upper); }

void CUpdateDlg::SetProgressPos(int position) {
  m_progress.SetPos(position);
  ::UpdateWindow(m_progress.m_hWnd);
}

void CUpdateDlg::EnableOK(bool enable) { ::EnableWindow(m_btnOK.m_hWnd, enable); }
void CUpdateDlg::EnableCancel(bool enable) { ::EnableWindow(m_btnCancel.m_hWnd, enable); }

void CUpdateDlg::Notice(const std::string& text) { AfxMessageBox(m_hWnd, text, MB_OK); }

void CUpdateDlg::Warning(const std::string& text) { AfxMessageBox(text.c_str(), MB_OK | MB_ICONEXCLAMATION); }

void CUpdateDlg::Repaint() { ::UpdateWindow(m_hWnd); }

void CUpdateDlg::End() { OnCancel(); }
