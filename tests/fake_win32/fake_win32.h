// What the fake Win32 layer recorded, and what it is scripted to answer.
#pragma once
#include <string>
#include <vector>

#include "windows.h"

struct ShellCall {
  bool hasOwner;
  std::string verb, file, parameters;
  bool hasParameters, hasDirectory;
  int showCommand;
};

struct CreatedWindow {
  DWORD exStyle;
  std::string className, text;
  DWORD style;
  int x, y, width, height;
  HWND parent;
  INT_PTR id;
  bool hasParam;
};

// The file functions work on real files, with '\\' read as '/'; the flags below make
// single calls fail the way a full disk, a locked file or a read-only folder would.
struct FakeWin32 {
  std::vector<ShellCall> shellCalls;
  std::vector<INT_PTR> shellResults;  // answered in order; 2 (file not found) once used up

  std::vector<std::string> folders;        // CreateDirectoryA paths
  std::vector<std::string> openedToRead;   // CreateFileA paths, by access
  std::vector<std::string> openedToWrite;
  std::vector<std::string> moveTargets;    // MoveFileExA destinations, one per attempt
  std::vector<std::string> refusedPaths;   // too long, or holding '?', as Windows refuses them
  bool failFolder = false, failOpenToWrite = false, failWrite = false, failClose = false;
  std::vector<DWORD> moveErrors;           // answered in order; success once used up
  DWORD sleptMs = 0;

  WNDCLASSA registered = {};              // the last class registered
  std::string registeredName;
  INT_PTR iconId = 0, cursorId = 0;
  COLORREF brushColour = 0;
  std::vector<CreatedWindow> windows;     // HWND n is windows[n - 1]
  int shownWith = -1;
  bool failRegister = false, failMainWindow = false;
  std::vector<BOOL> messages;             // GetMessageA's answers; 0 (quit) once used up
  int dispatched = 0;
  std::string editText;                   // what the edit field holds
  std::vector<UINT> defaultHandled;       // messages passed to DefWindowProcA
  std::vector<HWND> destroyed;
  std::vector<int> quitCodes;
  DWORD dllSearch = 0;                    // SetDefaultDllDirectories' flags
  bool failSystemFolder = false;
  std::string workingFolder;              // set by SetCurrentDirectoryA, which moves nothing here
  // RestrictDllSearch, Read, GetWindowText, Save, LeaveWorkingFolder, Launch, Destroy, in order
  std::vector<std::string> effects;

  // The process's command line in UTF-16 code units, program name and all.
  std::u16string commandLine = u"Tarvo.exe";
  bool shiftHeld = false;                 // GetAsyncKeyState(VK_SHIFT)'s answer

  // The launcher's own file (GetModuleFileNameW's answer, UTF-8; empty: the call fails) and
  // its headers as mapped at the instance handle, which FakeInstance() gives.
  std::string moduleFile;
  unsigned char moduleHeaders[0x200] = {};
};

extern FakeWin32 g_fake;
void ResetFakeWin32();
// An instance handle whose headers name the certificate table at offset with size (both 0:
// an unsigned launcher).
HINSTANCE FakeInstance(uint32_t certificateOffset = 0, uint32_t certificateSize = 0);
