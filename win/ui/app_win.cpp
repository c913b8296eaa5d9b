#include "app_win.h"

#include <cstring>
#include <cwchar>
#include <string>

#include "wnd_win.h"

CWinApp* CWinApp::s_app = nullptr;

CWinApp::CWinApp() { s_app = this; }

CWinApp::~CWinApp() {
  if (s_app == this) s_app = nullptr;
}

int CWinApp::Run() {
  MSG msg;
  BOOL got;
  while ((got = ::GetMessageW(&msg, nullptr, 0, 0)) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
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

HINSTANCE AfxGetInstanceHandle() { return ::GetModuleHandleW(nullptr); }

const wchar_t* AfxGetAppNameW() {
  static wchar_t name[MAX_PATH] = {};
  if (!name[0]) {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    const wchar_t* base = path;
    for (const wchar_t* p = path; *p; ++p) {
      if (*p == L'\\' || *p == L'/') base = p + 1;
    }
    std::wcscpy(name, base);
    if (wchar_t* dot = std::wcsrchr(name, L'.')) *dot = L'\0';
  }
  return name;
}

const char* AfxGetAppName() {
  static const std::string name = marlix::Utf8FromWide(AfxGetAppNameW());
  return name.c_str();
}

int AfxMessageBox(HWND owner, std::string_view text, UINT type) {
  return ::MessageBoxW(owner, marlix::WideFromUtf8(text).c_str(), AfxGetAppNameW(), type);
}

int AfxMessageBox(const char* text, UINT type) { return AfxMessageBox(::GetActiveWindow(), text, type); }
