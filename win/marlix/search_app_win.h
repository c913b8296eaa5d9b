// The application object of Marlix: decides once per start whether this
// process is the notification-area program or a later start that only shows
// a search window of its own.
#pragma once

#include <memory>
#include <string>

#include "app_win.h"

class CTrayMainFrame;

class CSearchApp : public CWinApp {
 public:
  CSearchApp();
  ~CSearchApp() override;
  BOOL InitInstance() override;
  // The frame goes once the program's loop is done.
  int ExitInstance() override;

  std::string m_strVersion;      // this program's own version, from its version resource
  std::wstring m_strProgramDir;  // the program's folder, where the updater runs

 private:
  BOOL RunAsLaterInstance();
  BOOL RunAsFirstInstance();
  void StartProgramCheck();

  // The notification-area frame of the first start.
  std::unique_ptr<CTrayMainFrame> frame_;
};
