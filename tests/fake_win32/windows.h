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

#define SW_SHOWNORMAL 1

// msvcrt's formatting: no terminator and -1 when the output does not fit in count.
int _vsnprintf(char* buffer, size_t count, const char* format, va_list arguments);

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int showCommand);
