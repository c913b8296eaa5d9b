#include "app_win.h"

#include <cstring>

CWinApp* CWinApp::s_app = nullptr;

CWinApp::CWinApp() { s_app = this; }

CWinApp::~CWinApp() {
  if (s_app == this) s_app = nullptr;
}

int CWinApp::Run() {
  MSG msg;
  BOOL got;
  while ((got = ::GetMessageA(&msg, nullptr, 0, 0)) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
  m_nExitCode = got == 0 ? static_cast<int>(msg.wParam) : 1;
  return ExitInstance();
}

int AfxWinMain() {
  CWinApp* app = CWinApp::Get();
  if (!app) return 1;
  // Without a main window there is no loop to run: the program ends.
  if (!app->InitInstance() || !app->m_pMainWnd) return app->ExitInstance();
  return app->Run();
}

HINSTANCE AfxGetInstanceHandle() { return ::GetModuleHandleA(nullptr); }

const char* AfxGetAppName() {
  static char name[MAX_PATH] = {};
  if (!name[0]) {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    // 0x5C can be the trail byte of a CP949 character: walk characters, not bytes.
    const char* base = path;
    for (const char* p = path; *p; p = ::CharNextA(p)) {
      if (*p == '\\' || *p == '/') base = p + 1;
    }
    std::memcpy(name, base, std::strlen(base) + 1);
    char* dot = nullptr;
    for (char* p = name; *p; p = ::CharNextA(p)) {
      if (*p == '.') dot = p;
    }
    if (dot) *dot = '\0';
  }
  return name;
}

int AfxMessageBox(const char* text, UINT type) {
  return ::MessageBoxA(::GetActiveWindow(), text, AfxGetAppName(), type);
}
