// The start-up sequence: command line, built-in slot, saved file, then the prompt.
// The first source that yields an address is launched; the exit status is always 0.
#include "startup.h"

#include <windows.h>

#include "../address/address.h"
#include "../launch/launch.h"
#include "../prompt/prompt.h"
#include "../storage/storage.h"
#include "../tag/tag.h"

// The tail cut from the command line as the C runtime cuts it (the program's name, quoted or
// not, and the blanks after it), but in UTF-16: the narrow copy that WinMain is given is made
// with best fit, which turns characters outside the code page into look-alike blanks, quotes
// and slashes, and so into browser switches.
static const wchar_t* CommandLineTail() {
  const wchar_t* c = GetCommandLineW();
  for (bool quoted = false; *c > L' ' || (*c != L'\0' && quoted); c++)
    if (*c == L'"') quoted = !quoted;
  while (*c != L'\0' && *c <= L' ') c++;
  return c;
}

static bool TakeCommandLine() {
  CopyWideToAddress(CommandLineTail());
  if (!HasScheme(g_address)) {
    ClearAddress();
    return false;
  }
  TrimAddress();
  return true;
}

// The placeholder search covers the padding too, so a marker anywhere in the field counts.
static bool TakeBuiltInSlot(HINSTANCE instance) {
  if (!HasScheme(g_builtInSlot) || IsPlaceholder(g_builtInSlot, kSlotLength)) return false;
  CopyToAddress(g_builtInSlot, kSlotLength);
  TrimAddress();
  AppendDownloadTag(instance);
  return true;
}

// The saved file is only as good as what a user or an editor left in it; the text tested
// is the text opened, so it is encoded first. An address without a host, which older builds
// saved from a mistyped field, brings the prompt back rather than opening nothing for ever.
static bool TakeSavedAddress() {
  LoadSavedAddress();
  EncodeAddress();
  if (!HasHost(g_address) || IsPlaceholder(g_address, kAddressSize)) ClearAddress();
  return g_address[0] != '\0';
}

// Shift held at start is the way back from a saved address that opens the wrong page.
static bool ShiftHeld() { return GetAsyncKeyState(VK_SHIFT) < 0; }

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // Started from Downloads, the application's folder would be searched first for every
  // library the shell loads on demand; a planted one would run with the user's rights.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  ClearAddress();
  if (TakeCommandLine() || TakeBuiltInSlot(instance) || (!ShiftHeld() && TakeSavedAddress()))
    LaunchAddress();
  else
    RunPrompt(instance);
  return 0;
}
