#include "search_app_win.h"

#include "search_dlg_win.h"

CSearchApp theApp;

// Until the notification-area frame exists, the program is its search window:
// it opens at start and the program ends with it, with the window's end code.
BOOL CSearchApp::InitInstance() {
  CSearchDlg dlg;
  m_nExitCode = static_cast<int>(dlg.DoModal());
  return FALSE;
}
