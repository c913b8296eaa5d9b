// The application object of Marlix: decides once per start whether this
// process is the notification-area program or a later start that only shows
// a search window of its own.
#pragma once

#include <string>

#include "app_win.h"

class CSearchApp : public CWinApp {
 public:
  CSearchApp();
  BOOL InitInstance() override;

  std::string m_strVersion;      // this program's own version, from its version resource
  std::wstring m_strProgramDir;  // the program's folder, where the updater runs

 private:
  BOOL RunAsLaterInstance();
  BOOL RunAsFirstInstance();
  void StartProgramCheck();
};
