// Recording fakes for the Win32 calls of the launcher.
#include "fake_win32.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wchar.h>

#include <algorithm>
#include <string>

#include "shellapi.h"
#include "startup/startup.h"

FakeWin32 g_fake;

// The build writes the slot's definition from TARVO_ADDRESS; native programs fill this one.
char g_builtInSlot[kSlotLength + 1];

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
  g_fake.effects.push_back("Launch");
  g_fake.shellCalls.push_back({owner != nullptr, verb ? verb : "", file ? file : "",
                               parameters ? parameters : "", parameters != nullptr,
                               directory != nullptr, showCommand});
  size_t index = g_fake.shellCalls.size() - 1;
  INT_PTR result = index < g_fake.shellResults.size() ? g_fake.shellResults[index] : 2;
  return reinterpret_cast<HINSTANCE>(result);
}

static DWORD g_lastError;
constexpr size_t kMaxPath = 260;
constexpr int kHandleBase = 0x100;  // keeps fake handles clear of null and INVALID_HANDLE_VALUE

static std::string HostPath(const char* path) {
  std::string host = path;
  for (char& c : host) c = c == '\\' ? '/' : c;
  return host;
}
static int Descriptor(HANDLE file) { return static_cast<int>(reinterpret_cast<INT_PTR>(file)) - kHandleBase; }
static BOOL Fail(DWORD error) { g_lastError = error; return FALSE; }

DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
  const char* value = getenv(name);
  if (value == nullptr || *value == '\0') return 0;
  size_t length = strlen(value);
  if (length >= size) return static_cast<DWORD>(length + 1);
  memcpy(buffer, value, length + 1);
  return static_cast<DWORD>(length);
}

// The narrow path functions refuse what real Windows refuses: a path of MAX_PATH or more
// (CreateDirectoryA keeps 12 more for an 8.3 name), and '?', which no file name can hold.
static bool Refused(const char* path, size_t limit) {
  if (strlen(path) < limit && strchr(path, '?') == nullptr) return false;
  g_fake.refusedPaths.push_back(path);
  g_lastError = strchr(path, '?') ? ERROR_INVALID_NAME : ERROR_FILENAME_EXCED_RANGE;
  return true;
}

// A path from the drive's root is never the test's to create.
BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES) {
  g_fake.folders.push_back(path);
  if (Refused(path, kMaxPath - 12)) return FALSE;
  if (g_fake.failFolder || path[0] == '\\') return Fail(ERROR_ACCESS_DENIED);
  return mkdir(HostPath(path).c_str(), 0755) == 0 ? TRUE : Fail(ERROR_ACCESS_DENIED);
}

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD, HANDLE) {
  bool writing = (access & GENERIC_WRITE) != 0;
  (writing ? g_fake.openedToWrite : g_fake.openedToRead).push_back(path);
  if (!writing) g_fake.effects.push_back("Read");
  if (Refused(path, kMaxPath)) return INVALID_HANDLE_VALUE;
  if (writing && g_fake.failOpenToWrite) return Fail(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
  int flags = writing ? O_WRONLY | (disposition == CREATE_ALWAYS ? O_CREAT | O_TRUNC : 0) : O_RDONLY;
  int fd = open(HostPath(path).c_str(), flags, 0644);
  struct stat status;
  if (fd >= 0 && fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) close(fd), fd = -1;
  if (fd < 0) return Fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
  return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(fd + kHandleBase));
}

// The tests' paths are ASCII, so wide and narrow differ only in the width of a character.
HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flags, HANDLE templateFile) {
  const std::string narrow(path, path + wcslen(path));
  return CreateFileA(narrow.c_str(), access, share, security, disposition, flags, templateFile);
}

// Like the real call: a path that does not fit is cut and the size returned.
DWORD GetModuleFileNameW(HMODULE, LPWSTR path, DWORD size) {
  const std::string& file = g_fake.moduleFile;
  if (file.empty()) return Fail(ERROR_FILE_NOT_FOUND), 0;
  size_t length = file.size() < size ? file.size() : size - 1;
  std::copy(file.begin(), file.begin() + length, path);
  path[length] = L'\0';
  return file.size() < size ? static_cast<DWORD>(length) : size;
}

// wchar_t is wider here than on Windows; each holds one UTF-16 unit, as there.
LPWSTR GetCommandLineW() {
  static std::wstring line;
  line.assign(g_fake.commandLine.begin(), g_fake.commandLine.end());
  return &line[0];
}

SHORT GetAsyncKeyState(int key) { return key == VK_SHIFT && g_fake.shiftHeld ? static_cast<SHORT>(0x8000) : 0; }

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG, DWORD) {
  off_t at = lseek(Descriptor(file), distance, SEEK_SET);
  return at < 0 ? (Fail(ERROR_ACCESS_DENIED), INVALID_SET_FILE_POINTER) : static_cast<DWORD>(at);
}

HINSTANCE FakeInstance(uint32_t certificateOffset, uint32_t certificateSize) {
  const uint32_t ntHeaders = 0x40, entry = ntHeaders + 24 + 144;
  unsigned char* headers = g_fake.moduleHeaders;
  headers[0] = 'M', headers[1] = 'Z';
  memcpy(headers + 0x3C, &ntHeaders, 4);
  memcpy(headers + entry, &certificateOffset, 4);
  memcpy(headers + entry + 4, &certificateSize, 4);
  return reinterpret_cast<HINSTANCE>(headers);
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD size, LPDWORD read, LPOVERLAPPED) {
  ssize_t count = ::read(Descriptor(file), buffer, size);
  *read = count > 0 ? static_cast<DWORD>(count) : 0;
  return count >= 0 ? TRUE : Fail(ERROR_ACCESS_DENIED);
}

// A failing write stores half of the text first, as a disk that fills up would.
BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, LPDWORD written, LPOVERLAPPED) {
  DWORD count = g_fake.failWrite ? size / 2 : size;
  ssize_t done = ::write(Descriptor(file), buffer, count);
  *written = done > 0 ? static_cast<DWORD>(done) : 0;
  return g_fake.failWrite || done < 0 ? Fail(ERROR_DISK_FULL) : TRUE;
}

BOOL FlushFileBuffers(HANDLE) { return TRUE; }

BOOL CloseHandle(HANDLE file) {
  close(Descriptor(file));
  return g_fake.failClose ? Fail(ERROR_WRITE_FAULT) : TRUE;
}

BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD) {
  size_t attempt = g_fake.moveTargets.size();
  g_fake.moveTargets.push_back(to);
  g_fake.effects.push_back("Save");
  if (Refused(from, kMaxPath) || Refused(to, kMaxPath)) return FALSE;
  if (attempt < g_fake.moveErrors.size() && g_fake.moveErrors[attempt] != 0)
    return Fail(g_fake.moveErrors[attempt]);
  return rename(HostPath(from).c_str(), HostPath(to).c_str()) == 0 ? TRUE : Fail(ERROR_ACCESS_DENIED);
}

BOOL DeleteFileA(LPCSTR path) {
  if (Refused(path, kMaxPath)) return FALSE;
  return unlink(HostPath(path).c_str()) == 0 ? TRUE : Fail(ERROR_FILE_NOT_FOUND);
}
DWORD GetLastError() { return g_lastError; }
void Sleep(DWORD milliseconds) { g_fake.sleptMs += milliseconds; }
DWORD GetCurrentProcessId() { return 0x4d2; }

BOOL SetDefaultDllDirectories(DWORD flags) {
  g_fake.effects.push_back("RestrictDllSearch");
  g_fake.dllSearch = flags;
  return TRUE;
}

UINT GetSystemDirectoryA(LPSTR buffer, UINT size) {
  static const char kSystem[] = "C:\\Windows\\system32";
  if (g_fake.failSystemFolder || size < sizeof kSystem) return 0;
  memcpy(buffer, kSystem, sizeof kSystem);
  return sizeof kSystem - 1;
}

// The tests' files stay in the test's folder: only the request is recorded.
BOOL SetCurrentDirectoryA(LPCSTR path) {
  g_fake.effects.push_back("LeaveWorkingFolder");
  g_fake.workingFolder = path;
  return TRUE;
}

ATOM RegisterClassA(const WNDCLASSA* windowClass) {
  g_fake.registered = *windowClass;
  g_fake.registeredName = windowClass->lpszClassName;
  return g_fake.failRegister ? 0 : 0xC001;
}

// The tests' window texts are ASCII, so they are recorded narrow.
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR text, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE, void* param) {
  if (parent == nullptr && g_fake.failMainWindow) return nullptr;
  g_fake.windows.push_back({exStyle, std::string(className, className + wcslen(className)), std::string(text, text + wcslen(text)),
                            style, x, y, width, height, parent,
                            reinterpret_cast<INT_PTR>(menu), param != nullptr});
  return reinterpret_cast<HWND>(static_cast<INT_PTR>(g_fake.windows.size()));
}

BOOL ShowWindow(HWND, int showCommand) { g_fake.shownWith = showCommand; return FALSE; }
HICON LoadIconA(HINSTANCE, LPCSTR name) {
  g_fake.iconId = reinterpret_cast<INT_PTR>(name);
  return reinterpret_cast<HICON>(0x1c0);
}
HCURSOR LoadCursorA(HINSTANCE, LPCSTR name) {
  g_fake.cursorId = reinterpret_cast<INT_PTR>(name);
  return reinterpret_cast<HCURSOR>(0xc0);
}
HBRUSH CreateSolidBrush(COLORREF colour) {
  g_fake.brushColour = colour;
  return reinterpret_cast<HBRUSH>(0xb0);
}

BOOL GetMessageW(MSG* message, HWND, UINT, UINT) {
  if (g_fake.messages.empty()) return 0;
  BOOL result = g_fake.messages.front();
  g_fake.messages.erase(g_fake.messages.begin());
  *message = MSG();
  return result;
}
BOOL TranslateMessage(const MSG*) { return FALSE; }
LRESULT DispatchMessageW(const MSG*) { g_fake.dispatched++; return 0; }

// Like the real call: at most size - 1 characters and a NUL.
int GetWindowTextW(HWND, LPWSTR text, int size) {
  g_fake.effects.push_back("GetWindowText");
  int length = static_cast<int>(g_fake.editText.size()) < size - 1 ? static_cast<int>(g_fake.editText.size()) : size - 1;
  std::copy(g_fake.editText.begin(), g_fake.editText.begin() + length, text);
  text[length] = L'\0';
  return length;
}

LRESULT DefWindowProcA(HWND, UINT message, WPARAM, LPARAM) {
  g_fake.defaultHandled.push_back(message);
  return 0x5eed;
}
void PostQuitMessage(int exitCode) { g_fake.quitCodes.push_back(exitCode); }
BOOL DestroyWindow(HWND window) {
  g_fake.effects.push_back("Destroy");
  g_fake.destroyed.push_back(window);
  return TRUE;
}
