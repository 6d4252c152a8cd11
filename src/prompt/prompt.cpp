// The prompt window: a label, one edit field and the "Open desk" button on a dark
// background. Plain Win32 controls: no font, no focus, no dialog navigation. The windows and
// their loop are Unicode, so that a pasted or typed character outside the code page reaches
// the address rules whole, never as a best-fit look-alike ('/' for U+2215, a blank for U+3000).
#include "prompt.h"

#include "../address/address.h"
#include "../launch/launch.h"
#include "../storage/storage.h"

HWND g_editControl;

static void OnOpenDesk(HWND window) {
  wchar_t typed[kAddressSize];
  GetWindowTextW(g_editControl, typed, kAddressSize);
  CopyWideToAddress(typed);
  TrimAddress();
  const bool web = CompleteScheme();
  EncodeAddress();
  // What was typed is opened, but an address that names no web page is never saved: it would
  // be opened at every start and the prompt would never come back.
  if (web && HasHost(g_address)) SaveAddress();
  LaunchAddress();
  DestroyWindow(window);
}

LRESULT CALLBACK PromptWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) != kOpenDeskId) break;
      OnOpenDesk(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

static void CreateControls(HWND window, HINSTANCE instance) {
  CreateWindowExW(0, L"STATIC", L"Paste your published Tarvo address", WS_CHILD | WS_VISIBLE,
                  20, 16, 400, 24, window, nullptr, instance, nullptr);
  g_editControl = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL,
                                  20, 48, 400, 28, window, nullptr, instance, nullptr);
  CreateWindowExW(0, L"BUTTON", L"Open desk", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 20, 88, 140, 32,
                  window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kOpenDeskId)), instance, nullptr);
}

void RunPrompt(HINSTANCE instance) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = PromptWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = CreateSolidBrush(RGB(0x11, 0x11, 0x11));
  windowClass.lpszClassName = "Tarvo";
  // Without a window nothing could ever end the loop below.
  if (RegisterClassA(&windowClass) == 0) return;
  HWND window = CreateWindowExW(0, L"Tarvo", L"Tarvo", WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT,
                                CW_USEDEFAULT, 460, 180, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return;
  CreateControls(window, instance);
  ShowWindow(window, SW_SHOW);

  MSG message = {};
  // -1 is an error, not a message: looping on it would spin for ever.
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}
