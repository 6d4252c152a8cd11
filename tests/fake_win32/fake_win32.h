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

struct FakeWin32 {
  std::vector<ShellCall> shellCalls;
  std::vector<INT_PTR> shellResults;  // answered in order; 2 (file not found) once used up
};

extern FakeWin32 g_fake;
void ResetFakeWin32();
