/* Starts a program with an exact command line and environment, which wine itself cannot:
   it rebuilds both. The file named by its argument holds NUL-terminated records: the
   command line, then "NAME=value" to set a variable or "-NAME" to remove one, or "!shift" to
   hold Shift down (SendInput) from before the start until the program waits for input, and
   then write "shift-released" in the working folder.
   Exits with the child's exit status, or 250 when the child could not be started. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

static char g_spec[65536], g_environment[65536];

static int Overridden(const char* entry, const char* spec, const char* specEnd) {
  const char* equals = strchr(entry + 1, '=');
  size_t nameLength = equals ? (size_t)(equals - entry) : strlen(entry);
  for (const char* r = spec + strlen(spec) + 1; r < specEnd; r += strlen(r) + 1) {
    const char* name = r[0] == '-' ? r + 1 : r;
    if (_strnicmp(name, entry, nameLength) == 0 &&
        (name[nameLength] == '=' || name[nameLength] == '\0'))
      return 1;
  }
  return 0;
}

static void PressShift(DWORD flags) {
  INPUT input = {INPUT_KEYBOARD, {.ki = {VK_SHIFT, 0, flags, 0, 0}}};
  SendInput(1, &input, sizeof input);
}

int main(int argc, char** argv) {
  if (argc != 2) return 251;
  FILE* file = fopen(argv[1], "rb");
  if (file == NULL) return 252;
  size_t size = fread(g_spec, 1, sizeof g_spec - 2, file);
  fclose(file);
  const char* specEnd = g_spec + size;
  char* out = g_environment;
  for (const char* e = GetEnvironmentStringsA(); *e; e += strlen(e) + 1)
    if (!Overridden(e, g_spec, specEnd)) out += sprintf(out, "%s", e) + 1;
  int shift = 0;
  for (const char* r = g_spec + strlen(g_spec) + 1; r < specEnd; r += strlen(r) + 1) {
    if (strcmp(r, "!shift") == 0) shift = 1;
    else if (r[0] != '-') out += sprintf(out, "%s", r) + 1;
  }
  *out = '\0';

  STARTUPINFOA startup = {sizeof startup};
  PROCESS_INFORMATION process;
  if (shift) PressShift(0);
  BOOL started = CreateProcessA(NULL, g_spec, NULL, NULL, FALSE, 0, g_environment, NULL, &startup, &process);
  if (shift) {
    if (started) WaitForInputIdle(process.hProcess, 60000);
    PressShift(KEYEVENTF_KEYUP);
    FILE* released = fopen("shift-released", "wb");
    if (released != NULL) fclose(released);
  }
  if (!started) return 250;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 250;
  GetExitCodeProcess(process.hProcess, &status);
  return (int)status;
}
