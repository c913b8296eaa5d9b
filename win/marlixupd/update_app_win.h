// The application object of MarlixUpd: runs the updater window and ends with it.
#pragma once

#include "app_win.h"

class CUpdateApp : public CWinApp {
 public:
  BOOL InitInstance() override;
};
