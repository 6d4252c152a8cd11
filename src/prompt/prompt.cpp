// The prompt window: a label, one edit field and the "Open desk" button on a dark
// background. Plain Win32 controls: no font, no focus, no dialog navigation.
#include "prompt.h"

#include "../address/address.h"
#include "../launch/launch.h"
#include "../storage/storage.h"

HWND g_editControl;

static void OnOpenDesk(HWND window) {
  GetWindowTextA(g_editControl, g_address, kAddressSize);
  TrimAddress();
  CompleteScheme();
  EncodeAddress();
  // What was typed is opened, but an address without a host opens no page: saved, it would
  // be opened at every start and the prompt would never come back.
  if (HasHost(g_address)) SaveAddress();
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
  CreateWindowExA(0, "STATIC", "Paste your published Tarvo address", WS_CHILD | WS_VISIBLE,
                  20, 16, 400, 24, window, nullptr, instance, nullptr);
  g_editControl = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL,
                                  20, 48, 400, 28, window, nullptr, instance, nullptr);
  CreateWindowExA(0, "BUTTON", "Open desk", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 20, 88, 140, 32,
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
  HWND window = CreateWindowExA(0, "Tarvo", "Tarvo", WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT,
                                CW_USEDEFAULT, 460, 180, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return;
  CreateControls(window, instance);
  ShowWindow(window, SW_SHOW);

  MSG message = {};
  // -1 is an error, not a message: looping on it would spin for ever.
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}
