// Loading and saving the remembered address. Saving writes a temporary file beside the
// real one and moves it into place, so a failed write never costs the saved address.
#include "storage.h"

#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "../address/address.h"

static const char kFallbackFile[] = "tarvo.url";
static const char kFolderName[] = "\\Tarvo";
constexpr size_t kFolderPathLimit = kPathSize - 12;  // CreateDirectoryA keeps room for an 8.3 name
constexpr int kReplaceAttempts = 8;   // with kReplaceWaitMs, about 200 ms in all
constexpr DWORD kReplaceWaitMs = 25;

// Usable when a save can create the folder there; the file and the temporary file, at most
// nine characters beside the folder, then fit too. '?' is what the narrow environment shows
// for a character outside the code page, and no path can hold it.
static bool IsUsableAppData(const char* value) {
  size_t length = strlen(value);
  return length != 0 && length + sizeof kFolderName - 1 < kFolderPathLimit && strchr(value, '?') == nullptr;
}

// Load and save share this rule, so they always agree on one place a save can create.
static void SavedAddressPath(char* path, size_t pathSize) {
  char appData[kPathSize];
  DWORD length = GetEnvironmentVariableA("APPDATA", appData, sizeof appData);
  if (length == 0 || length >= sizeof appData || !IsUsableAppData(appData) ||
      !FormatText(path, pathSize, "%s%s\\url.txt", appData, kFolderName))
    FormatText(path, pathSize, "%s", kFallbackFile);
}

// The folder follows the C runtime's copy of the environment: an unset variable gives
// ".\Tarvo", an empty one "\Tarvo"; an unusable one creates nothing.
static void CreateSavedAddressFolder() {
  const char* appData = getenv("APPDATA");
  char folder[kPathSize];
  if (appData == nullptr) appData = ".";
  if (*appData != '\0' && !IsUsableAppData(appData)) return;
  if (FormatText(folder, sizeof folder, "%s%s", appData, kFolderName)) CreateDirectoryA(folder, nullptr);
}

// One name per process beside the file, so two launchers saving at once never share one.
static bool TemporaryPath(const char* path, char* temporary, size_t temporarySize) {
  const char* name = strrchr(path, '\\');
  int folderLength = name == nullptr ? 0 : static_cast<int>(name - path + 1);
  return FormatText(temporary, temporarySize, "%.*s~%lx", folderLength, path,
                    static_cast<unsigned long>(GetCurrentProcessId()));
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
  if (!TemporaryPath(path, temporary, sizeof temporary)) return;
  HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD length = static_cast<DWORD>(strlen(g_address)), written = 0;
  bool whole = WriteFile(file, g_address, length, &written, nullptr) && written == length;
  whole = FlushFileBuffers(file) && whole;
  whole = CloseHandle(file) && whole;
  if (!whole || !MoveIntoPlace(temporary, path)) DeleteFileA(temporary);
}
