// A native stand-in for the few Win32 types, constants and functions the launcher uses.
// Written from what the launcher expects of the platform; the functions record their
// calls and return scripted results (fake_win32.h).
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <stdarg.h>

#define WINAPI
#define CALLBACK

typedef int BOOL;
typedef unsigned int UINT;
typedef uint32_t DWORD;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef INT_PTR LRESULT;
typedef UINT_PTR WPARAM;
typedef INT_PTR LPARAM;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef wchar_t* LPWSTR;
typedef const wchar_t* LPCWSTR;
typedef int32_t LONG;
typedef LONG* PLONG;
typedef struct FakeInstance* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct FakeWindow* HWND;
typedef void* HANDLE;
typedef struct FakeMenu* HMENU;
typedef struct FakeIcon* HICON;
typedef struct FakeCursor* HCURSOR;
typedef struct FakeBrush* HBRUSH;
typedef unsigned short ATOM;
typedef short SHORT;
typedef DWORD COLORREF;
typedef LRESULT (*WNDPROC)(HWND, UINT, WPARAM, LPARAM);

typedef struct {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra, cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName, lpszClassName;
} WNDCLASSA;

typedef struct { HWND hwnd; UINT message; WPARAM wParam; LPARAM lParam; DWORD time; } MSG;
typedef DWORD* LPDWORD;
typedef struct FakeSecurityAttributes* LPSECURITY_ATTRIBUTES;
typedef struct FakeOverlapped* LPOVERLAPPED;

#define TRUE 1
#define MAX_PATH 260
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800u
#define FALSE 0
#define INVALID_HANDLE_VALUE ((HANDLE)(INT_PTR)-1)
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x1u
#define FILE_SHARE_WRITE 0x2u
#define FILE_SHARE_DELETE 0x4u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define FILE_BEGIN 0u
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#define MOVEFILE_REPLACE_EXISTING 0x1u
#define MOVEFILE_WRITE_THROUGH 0x8u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_WRITE_FAULT 29u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_DISK_FULL 112u
#define ERROR_INVALID_NAME 123u
#define ERROR_FILENAME_EXCED_RANGE 206u

#define SW_SHOWNORMAL 1
#define SW_SHOW 5
#define WM_DESTROY 0x0002u
#define WM_CLOSE 0x0010u
#define WM_COMMAND 0x0111u
#define WS_CHILD 0x40000000u
#define WS_VISIBLE 0x10000000u
#define WS_CAPTION 0x00C00000u
#define WS_BORDER 0x00800000u
#define WS_SYSMENU 0x00080000u
#define ES_AUTOHSCROLL 0x0080u
#define BS_PUSHBUTTON 0x0u
#define CW_USEDEFAULT ((int)0x80000000)
#define MAKEINTRESOURCEA(id) ((LPSTR)(UINT_PTR)(unsigned short)(id))
#define IDC_ARROW MAKEINTRESOURCEA(32512)
#define RGB(r, g, b) ((COLORREF)((r) | ((g) << 8) | ((b) << 16)))
#define VK_SHIFT 0x10
#define LOWORD(value) ((unsigned short)((UINT_PTR)(value) & 0xffff))

// msvcrt's formatting: no terminator and -1 when the output does not fit in count.
int _vsnprintf(char* buffer, size_t count, const char* format, va_list arguments);

DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);
BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security);
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
DWORD GetModuleFileNameW(HMODULE module, LPWSTR path, DWORD size);
LPWSTR GetCommandLineW();
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
BOOL ReadFile(HANDLE file, void* buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, LPDWORD written, LPOVERLAPPED overlapped);
BOOL FlushFileBuffers(HANDLE file);
BOOL CloseHandle(HANDLE handle);
BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags);
BOOL DeleteFileA(LPCSTR path);
DWORD GetLastError();
void Sleep(DWORD milliseconds);
DWORD GetCurrentProcessId();
BOOL SetDefaultDllDirectories(DWORD flags);
UINT GetSystemDirectoryA(LPSTR buffer, UINT size);
BOOL SetCurrentDirectoryA(LPCSTR path);

ATOM RegisterClassA(const WNDCLASSA* windowClass);
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR text, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param);
BOOL ShowWindow(HWND window, int showCommand);
HICON LoadIconA(HINSTANCE instance, LPCSTR name);
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);
HBRUSH CreateSolidBrush(COLORREF colour);
BOOL GetMessageW(MSG* message, HWND window, UINT first, UINT last);
BOOL TranslateMessage(const MSG* message);
LRESULT DispatchMessageW(const MSG* message);
int GetWindowTextW(HWND window, LPWSTR text, int size);
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
BOOL DestroyWindow(HWND window);
SHORT GetAsyncKeyState(int key);

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int showCommand);
