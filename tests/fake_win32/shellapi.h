// Shell part of the native Win32 stand-in.
#pragma once
#include "windows.h"

HINSTANCE ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                        LPCSTR directory, int showCommand);
