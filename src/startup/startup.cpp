// The start-up sequence: command line, built-in slot, saved file, then the prompt.
// The first source that yields an address is launched; the exit status is always 0.
#include "startup.h"

#include <windows.h>

#include "../address/address.h"
#include "../launch/launch.h"
#include "../prompt/prompt.h"
#include "../storage/storage.h"
#include "../tag/tag.h"

static bool TakeCommandLine(const char* tail) {
  if (tail == nullptr || !HasScheme(tail)) return false;
  CopyToAddress(tail, kAddressLength);
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

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR tail, int) {
  // Started from Downloads, the application's folder would be searched first for every
  // library the shell loads on demand; a planted one would run with the user's rights.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  ClearAddress();
  if (TakeCommandLine(tail) || TakeBuiltInSlot(instance) || TakeSavedAddress())
    LaunchAddress();
  else
    RunPrompt(instance);
  return 0;
}
