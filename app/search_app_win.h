// The application object of Marlix.
#pragma once

#include "app_win.h"

class CSearchApp : public CWinApp {
 public:
  BOOL InitInstance() override;
};
