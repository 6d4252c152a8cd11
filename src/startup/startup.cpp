// The start-up sequence: the command line, then the built-in slot.
// The first source that yields an address is launched; the exit status is always 0.
#include "startup.h"

#include <windows.h>

#include "../address/address.h"
#include "../launch/launch.h"

static bool TakeCommandLine(const char* tail) {
  if (tail == nullptr || !HasScheme(tail)) return false;
  CopyToAddress(tail, kAddressLength);
  TrimAddress();
  return true;
}

// The placeholder search covers the padding too, so a marker anywhere in the field counts.
static bool TakeBuiltInSlot() {
  if (!HasScheme(g_builtInSlot) || IsPlaceholder(g_builtInSlot, kSlotLength)) return false;
  CopyToAddress(g_builtInSlot, kSlotLength);
  TrimAddress();
  return true;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR tail, int) {
  ClearAddress();
  if (TakeCommandLine(tail) || TakeBuiltInSlot()) LaunchAddress();
  return 0;
}
