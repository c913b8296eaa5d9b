#include "update_app_win.h"

#include "update_dlg_win.h"

CUpdateApp theApp;

// The program ends when the window closes: there is no message loop of its own.
BOOL CUpdateApp::InitInstance() {
  CUpdateDlg dlg;
  m_pMainWnd = &dlg;
  dlg.DoModal();
  m_pMainWnd = nullptr;
  return FALSE;
}
