/* Stands in for msedge.exe, chrome.exe and the https handler: appends to calls.log, in the
   folder above its own, how many arguments a browser would find in its command line
   (CommandLineToArgvW, as Chromium reads it), a TAB, and that command line as UTF-8, read in
   UTF-16 as a browser reads it; NUL-terminated. When TARVO_REAL_BROWSER
   names a Linux program, it then starts that program with the same parameters, so a real
   browser opens the page (Wine runs a Linux program given its Unix path). */
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <shellapi.h>

static char g_forward[32768];

static int StartRealBrowser(const char* parameters) {
  char program[MAX_PATH];
  DWORD length = GetEnvironmentVariableA("TARVO_REAL_BROWSER", program, sizeof program);
  if (length == 0 || length >= sizeof program) return 0;
  snprintf(g_forward, sizeof g_forward, "\"%s\" %s", program, parameters);
  STARTUPINFOA startup = {sizeof startup};
  PROCESS_INFORMATION process;
  if (!CreateProcessA(NULL, g_forward, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) return 1;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int show) {
  char path[MAX_PATH + 32];
  DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
  (void)instance; (void)previous; (void)show;
  if (length == 0 || length >= MAX_PATH) return 1;
  strcpy(path + length, "\\..\\..\\calls.log");
  FILE* log = fopen(path, "ab");
  if (log == NULL) return 1;
  static char line[4 * 32768];
  int count = 0;
  LocalFree(CommandLineToArgvW(GetCommandLineW(), &count));
  WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, line, sizeof line, NULL, NULL);
  fprintf(log, "%d\t%s%c", count, line, 0);
  fclose(log);
  return StartRealBrowser(tail);
}
