// The application object: one static instance per program, made before WinMain.
#pragma once

#include <windows.h>

#include "wnd_win.h"

class CWinApp {
 public:
  CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;
  virtual ~CWinApp();

  static CWinApp* Get() { return s_app; }

  // FALSE, or no main window, ends the program at once with ExitInstance's code.
  virtual BOOL InitInstance() { return FALSE; }
  // The message loop of the main window; returns ExitInstance's code.
  virtual int Run();
  virtual int ExitInstance() { return m_nExitCode; }

  CWnd* m_pMainWnd = nullptr;

 protected:
  int m_nExitCode = 0;

 private:
  static CWinApp* s_app;
};

// The program's WinMain calls this.
int AfxWinMain();
