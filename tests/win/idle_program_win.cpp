// A program that only keeps running, for the updater tests to find and stop
// under the program's name; it ends by itself after two minutes.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  ::Sleep(120000);
  return 0;
}
