#include "update_dlg_win.h"

#include <iterator>
#include <utility>

#include "file_steps.h"
#include "program_version_win.h"
#include "text_win.h"
#include "updater_resource.h"

using namespace marlix::updater;

namespace {
constexpr UINT_PTR kStartTimer = 1;
constexpr UINT kStartDelayMs = 100;
// The worker's news, posted by its thread.
constexpr UINT kUpdateNews = WM_APP + 1;
// The news is shown at most ten times a second: a fast download would
// otherwise keep the window repainting its bar.
constexpr UINT_PTR kNewsTimer = 2;
constexpr ULONGLONG kNewsPeriodMs = 100;
}  // namespace

constexpr MessageEntry CUpdateDlg::kMessageEntries[] = {
    MessageRoute<&CUpdateDlg::OnShowWindow>(WM_SHOWWINDOW),
    MessageRoute<&CUpdateDlg::OnTimer>(WM_TIMER),
    CommandRoute<&CUpdateDlg::RunUpdate>(IDOK),
    MessageRoute<&CUpdateDlg::OnUpdateNews>(kUpdateNews),
};
DEFINE_MESSAGE_MAP(CUpdateDlg, CProgramDialog)

CUpdateDlg::CUpdateDlg(CWnd* parent)
    : CProgramDialog(IDD_UPDATER, {IDI_UPDATER, IDD_UPDATER_ABOUTBOX, IDS_UPDATER_ABOUTBOX, IDM_UPDATER_ABOUTBOX},
                     parent),
      m_nProgressMax(0),
      m_newsPace(kNewsTimer, kNewsPeriodMs) {}

CUpdateDlg::~CUpdateDlg() = default;

void CUpdateDlg::DoDataExchange() {
  BindControl(IDCANCEL, m_btnCancel);
  BindControl(IDOK, m_btnOK);
  BindControl(IDC_UPDATER_PROGRESS, m_progress);
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
  m_update = std::make_unique<ProgramUpdate>(std::move(setup), m_worker, m_processes, m_files, m_versions, m_shell);
  return TRUE;
}

void CUpdateDlg::OnShowWindow(WPARAM shown) {
  Default();
  if (shown) SetTimer(kStartTimer, kStartDelayMs);
}

// The start timer sets the update off, once.
void CUpdateDlg::OnTimer(WPARAM id) {
  Default();
  if (m_newsPace.IsDueTimer(m_hWnd, id)) {
    TakeUpdateNews();
    return;
  }
  ::KillTimer(m_hWnd, id);
  RunUpdate();
}

// A press while the update runs (OK is disabled then) does nothing.
void CUpdateDlg::RunUpdate() {
  if (!m_update) return;
  HWND window = m_hWnd;
  m_worker.Start([this] { m_update->RunUpdate(); }, [window] { ::PostMessageW(window, kUpdateNews, 0, 0); });
}

// While the update runs, the window closes once it has finished, never with
// the program files half swapped (Escape comes here too).
void CUpdateDlg::OnCancel() {
  if (m_worker.Running()) {
    m_bEndAsked = true;
    return;
  }
  CProgramDialog::OnCancel();
}

void CUpdateDlg::OnUpdateNews() {
  if (m_newsPace.Due(m_hWnd)) TakeUpdateNews();
}

// A message box holds the update until it is answered; the window ends once
// the update that it was asked of has finished.
void CUpdateDlg::TakeUpdateNews() {
  UpdateWorker::News news = m_worker.Take();
  if (news.status) m_stMessage.SetWindowText(*news.status);
  if (news.range) m_progress.SetRange(news.range->first, news.range->second);
  if (news.position) m_progress.SetPos(*news.position);
  if (news.ok_enabled) m_btnOK.EnableWindow(*news.ok_enabled);
  if (news.cancel_enabled) m_btnCancel.EnableWindow(*news.cancel_enabled);
  if (news.message) {
    if (news.message->warning) {
      AfxMessageBox(news.message->text.c_str(), MB_OK | MB_ICONEXCLAMATION);
    } else {
      AfxMessageBox(m_hWnd, news.message->text, MB_OK);
    }
    m_worker.Answered();
  }
  m_bEndAsked = m_bEndAsked || news.end;
  if (news.finished && std::exchange(m_bEndAsked, false)) OnCancel();
}
