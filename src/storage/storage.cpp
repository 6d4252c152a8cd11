// Loading and saving the remembered address. Saving writes a temporary file beside the
// real one and moves it into place, so a failed write never costs the saved address.
#include "storage.h"

#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "../address/address.h"

static const char kFallbackFile[] = "tarvo.url";
constexpr int kReplaceAttempts = 8;   // with kReplaceWaitMs, about 200 ms in all
constexpr DWORD kReplaceWaitMs = 25;

// A path that would be cut names another file, so a cut path falls back like a missing
// variable; load and save share this rule and therefore always agree.
static void SavedAddressPath(char* path, size_t pathSize) {
  char appData[kPathSize];
  DWORD length = GetEnvironmentVariableA("APPDATA", appData, sizeof appData);
  if (length == 0 || length >= sizeof appData ||
      !FormatText(path, pathSize, "%s\\Tarvo\\url.txt", appData))
    FormatText(path, pathSize, "%s", kFallbackFile);
}

// The folder follows the C runtime's copy of the environment and has no fallback: an
// unset variable gives ".\Tarvo", an empty one "\Tarvo". A cut path creates nothing.
static void CreateSavedAddressFolder() {
  const char* appData = getenv("APPDATA");
  char folder[kPathSize];
  if (FormatText(folder, sizeof folder, "%s\\Tarvo", appData ? appData : "."))
    CreateDirectoryA(folder, nullptr);
}

void LoadSavedAddress() {
  char path[kPathSize];
  SavedAddressPath(path, sizeof path);
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD read = 0;
  if (ReadFile(file, g_address, kAddressLength, &read, nullptr) && read > 0) {
    g_address[read] = '\0';
    char* lineEnd = static_cast<char*>(memchr(g_address, '\n', read));
    if (lineEnd != nullptr) *lineEnd = '\0';
    TrimAddress();
  }
  CloseHandle(file);
}

// Antivirus and file-sync programs hold a fresh file open for a moment; wait them out.
static bool MoveIntoPlace(const char* from, const char* to) {
  for (int attempt = 1;; attempt++) {
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    DWORD error = GetLastError();
    if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) || attempt == kReplaceAttempts)
      return false;
    Sleep(kReplaceWaitMs);
  }
}

void SaveAddress() {
  char path[kPathSize], temporary[kPathSize];
  SavedAddressPath(path, sizeof path);
  CreateSavedAddressFolder();
  // One temporary name per process, so two launchers saving at once never share a file.
  if (!FormatText(temporary, sizeof temporary, "%s.%lx", path,
                  static_cast<unsigned long>(GetCurrentProcessId())))
    return;
  HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD length = static_cast<DWORD>(strlen(g_address)), written = 0;
  bool whole = WriteFile(file, g_address, length, &written, nullptr) && written == length;
  whole = FlushFileBuffers(file) && whole;
  whole = CloseHandle(file) && whole;
  if (!whole || !MoveIntoPlace(temporary, path)) DeleteFileA(temporary);
}
