/* Stands in for msedge.exe, chrome.exe and the https handler: appends its exact command
   line, NUL-terminated, to calls.log in the folder above its own. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int show) {
  char path[MAX_PATH + 32];
  DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
  (void)instance; (void)previous; (void)tail; (void)show;
  if (length == 0 || length >= MAX_PATH) return 1;
  strcpy(path + length, "\\..\\..\\calls.log");
  FILE* log = fopen(path, "ab");
  if (log == NULL) return 1;
  const char* line = GetCommandLineA();
  fwrite(line, 1, strlen(line) + 1, log);
  fclose(log);
  return 0;
}
