// Marlix.exe: the notification-area postcode search.
#include <windows.h>

#include "app_win.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return AfxWinMain(); }
