// Starts a browser on g_address through the shell, the launcher's only way of starting one.
// Finding "msedge" or "chrome" is left to the shell (App Paths, then the search path),
// from the system folder.
#include "launch.h"

#include <windows.h>
#include <shellapi.h>

#include "../address/address.h"

constexpr int kParametersSize = 640;  // "--app=" and a full address always fit

// The shell reports success as a value above 32, failure as an error code of 32 or less.
static bool ShellOpen(const char* file, const char* parameters) {
  HINSTANCE result = ShellExecuteA(nullptr, "open", file, parameters, nullptr, SW_SHOWNORMAL);
  return reinterpret_cast<INT_PTR>(result) > 32;
}

// The shell looks for a bare program name in the working folder first, and a launcher
// started from Downloads would start any "msedge.exe" saved there. Every use of the
// working folder (the saved file and its folder) is over by the time the launch begins.
static void LeaveWorkingFolder() {
  char systemFolder[MAX_PATH];
  UINT length = GetSystemDirectoryA(systemFolder, sizeof systemFolder);
  if (length != 0 && length < sizeof systemFolder) SetCurrentDirectoryA(systemFolder);
}

void LaunchAddress() {
  LeaveWorkingFolder();
  char parameters[kParametersSize];
  FormatText(parameters, sizeof parameters, "--app=%s", g_address);
  if (ShellOpen("msedge", parameters)) return;
  if (ShellOpen("chrome", parameters)) return;
  ShellOpen(g_address, nullptr);
}
