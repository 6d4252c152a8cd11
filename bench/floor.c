/* The floor for the start-up benchmark: the one shell call that Tarvo.exe makes when Edge
   is installed, and nothing else. */
#include <windows.h>
#include <shellapi.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int show) {
  (void)instance; (void)previous; (void)show;
  char parameters[640] = "--app=";
  lstrcpynA(parameters + 6, tail, sizeof parameters - 6);
  ShellExecuteA(NULL, "open", "msedge", parameters, NULL, SW_SHOWNORMAL);
  return 0;
}
