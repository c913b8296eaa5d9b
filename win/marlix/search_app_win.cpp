#include "search_app_win.h"

#include <cstring>
#include <cwchar>
#include <thread>

#include "data_folder.h"
#include "data_update.h"
#include "program_check_win.h"
#include "program_version_win.h"
#include "search_dlg_win.h"
#include "text_win.h"
#include "tray_decisions.h"
#include "tray_main_frame_win.h"

using namespace marlix;

namespace {
constexpr wchar_t kInstanceMutex[] = L"MyProgramMutex";
}  // namespace

CSearchApp theApp;

// The updater runs in the program's own folder, which it takes for the place
// of Marlix.exe. The working directory need not be that folder: a start with
// Windows runs in the system folder.
CSearchApp::CSearchApp() : m_strProgramDir(OwnProgramFolder()) {}

CSearchApp::~CSearchApp() = default;

int CSearchApp::ExitInstance() {
  m_pMainWnd = nullptr;
  // A loop ended by another's quit leaves the window: it goes before its object.
  if (frame_ && frame_->m_hWnd) frame_->DestroyWindow();
  frame_.reset();
  return CWinApp::ExitInstance();
}

BOOL CSearchApp::InitInstance() {
  // Never closed: the name marks a running program for as long as it runs.
  // cppcheck-suppress leakReturnValNotUsed ; the handle is kept until the process ends, on purpose
  ::CreateMutexW(nullptr, FALSE, kInstanceMutex);
  if (RoleFromMutexError(::GetLastError()) == InstanceRole::kLater) return RunAsLaterInstance();
  return RunAsFirstInstance();
}

// The running program is nudged (a WM_DESTROY that its frame shrugs off, and a
// minimise request) and this process shows its own search window, then ends.
BOOL CSearchApp::RunAsLaterInstance() {
  // By its title in UTF-16: the system's code page may not hold it.
  HWND running = ::FindWindowW(nullptr, WideFromUtf8(kFrameTitle).c_str());
  if (running == nullptr) return TRUE;
  ::SendMessageW(running, WM_DESTROY, 0, 0);
  ::CloseWindow(running);
  CSearchDlg dlg;
  dlg.DoModal();
  return TRUE;
}

BOOL CSearchApp::RunAsFirstInstance() {
  // A change of the data set that a kill interrupted is finished before
  // anything reads the data.
  RecoverDataSet(kDataFolder);
  frame_ = std::make_unique<CTrayMainFrame>();
  CTrayMainFrame* frame = frame_.get();
  if (frame->m_hWnd == nullptr) {
    frame_.reset();
    return TRUE;
  }
  m_pMainWnd = frame;
  frame->ShowWindow(SW_SHOWMINIMIZED);
  ::UpdateWindow(frame->m_hWnd);
  frame->ShowWindow(SW_HIDE);
  ::ShowOwnedPopups(frame->m_hWnd, FALSE);
  frame->SetWindowPos(HWND_BOTTOM, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
  StartProgramCheck();
  return TRUE;
}

// The check waits on the network, up to its time-outs, so the icon is there
// first and the check runs on a thread of its own, which also starts the
// updater. A program that cannot read its own version cannot order it, and
// asks nothing.
void CSearchApp::StartProgramCheck() {
  const std::optional<FileVersion> own = OwnProgramVersion();
  if (!own) return;
  m_strVersion = VersionText(*own);
  std::thread([name = std::string(AfxGetAppName()), dir = m_strProgramDir, own = *own] {
    std::string seen;
    // Nothing may cross the thread's start: a check that throws is one that
    // failed, and on a failure nothing is newer.
    try {
      CheckProgramVersion(name.c_str(), dir, own, seen);
    } catch (...) {
    }
  }).detach();
}
