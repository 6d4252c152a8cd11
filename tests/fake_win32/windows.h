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
typedef struct FakeInstance* HINSTANCE;
typedef struct FakeWindow* HWND;
typedef void* HANDLE;
typedef DWORD* LPDWORD;
typedef struct FakeSecurityAttributes* LPSECURITY_ATTRIBUTES;
typedef struct FakeOverlapped* LPOVERLAPPED;

#define TRUE 1
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
#define MOVEFILE_REPLACE_EXISTING 0x1u
#define MOVEFILE_WRITE_THROUGH 0x8u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_WRITE_FAULT 29u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_DISK_FULL 112u

#define SW_SHOWNORMAL 1

// msvcrt's formatting: no terminator and -1 when the output does not fit in count.
int _vsnprintf(char* buffer, size_t count, const char* format, va_list arguments);

DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);
BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security);
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL ReadFile(HANDLE file, void* buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, LPDWORD written, LPOVERLAPPED overlapped);
BOOL FlushFileBuffers(HANDLE file);
BOOL CloseHandle(HANDLE handle);
BOOL MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags);
BOOL DeleteFileA(LPCSTR path);
DWORD GetLastError();
void Sleep(DWORD milliseconds);
DWORD GetCurrentProcessId();

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int showCommand);
