// Recording fakes for the Win32 calls of the launcher.
#include "fake_win32.h"

#include <stdio.h>

#include "shellapi.h"

FakeWin32 g_fake;

void ResetFakeWin32() { g_fake = FakeWin32(); }

int _vsnprintf(char* buffer, size_t count, const char* format, va_list arguments) {
  char whole[4096];
  int length = vsnprintf(whole, sizeof whole, format, arguments);
  if (length < 0 || static_cast<size_t>(length) > count) {
    for (size_t i = 0; i < count; i++) buffer[i] = whole[i];
    return -1;
  }
  for (int i = 0; i <= length && static_cast<size_t>(i) < count; i++) buffer[i] = whole[i];
  return length;
}

HINSTANCE ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                        LPCSTR directory, int showCommand) {
  g_fake.shellCalls.push_back({owner != nullptr, verb ? verb : "", file ? file : "",
                               parameters ? parameters : "", parameters != nullptr,
                               directory != nullptr, showCommand});
  size_t index = g_fake.shellCalls.size() - 1;
  INT_PTR result = index < g_fake.shellResults.size() ? g_fake.shellResults[index] : 2;
  return reinterpret_cast<HINSTANCE>(result);
}
