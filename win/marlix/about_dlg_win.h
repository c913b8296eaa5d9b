// The about box of Marlix: dialog 100, closed by "확인", Escape or the close box.
#pragma once

#include "wnd_win.h"

class CAboutDlg : public CDialog {
 public:
  CAboutDlg();
};
