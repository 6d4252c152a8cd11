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

// The file functions work on real files, with '\\' read as '/'; the flags below make
// single calls fail the way a full disk, a locked file or a read-only folder would.
struct FakeWin32 {
  std::vector<ShellCall> shellCalls;
  std::vector<INT_PTR> shellResults;  // answered in order; 2 (file not found) once used up

  std::vector<std::string> folders;        // CreateDirectoryA paths
  std::vector<std::string> openedToRead;   // CreateFileA paths, by access
  std::vector<std::string> openedToWrite;
  std::vector<std::string> moveTargets;    // MoveFileExA destinations, one per attempt
  bool failFolder = false, failOpenToWrite = false, failWrite = false, failClose = false;
  std::vector<DWORD> moveErrors;           // answered in order; success once used up
  DWORD sleptMs = 0;
};

extern FakeWin32 g_fake;
void ResetFakeWin32();
