// A stand-in for MarlixUpd.exe: records that it started, and in which working
// directory, in "updater-started.txt" there.
#include <windows.h>

#include <cstdio>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char dir[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof dir, dir);
  if (std::FILE* f = std::fopen("updater-started.txt", "wb")) {
    std::fputs(dir, f);
    std::fclose(f);
  }
  return 0;
}
