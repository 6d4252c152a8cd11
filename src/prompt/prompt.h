// The prompt window: asks for the address when no source has one, and its Open desk
// action. Owns g_editControl, the field the action reads into g_address.
#pragma once
#include <windows.h>

enum { kOpenDeskId = 1 };

// The edit field of the prompt window, read by the Open desk action.
extern HWND g_editControl;

// Shows the prompt and runs its message loop until the window is gone.
void RunPrompt(HINSTANCE instance);
LRESULT CALLBACK PromptWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
