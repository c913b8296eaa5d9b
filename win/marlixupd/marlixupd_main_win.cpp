// MarlixUpd.exe: replaces Marlix.exe with the service's newest build.
#include <windows.h>

#include "app_win.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return AfxWinMain(); }
