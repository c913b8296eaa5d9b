#include "updater_about_dlg_win.h"

#include "updater_resource.h"

CAboutDlg::CAboutDlg() : CDialog(IDD_UPDATER_ABOUTBOX) {}
