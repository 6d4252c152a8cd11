// Runs the start-up sequence once, natively against the fake Win32 layer, with the address
// coming from the source named on the command line: cmdline, slot or saved. callgrind counts
// the instructions of WinMain (the fake's recording included).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "fake_win32.h"
#include "startup/startup.h"

int main(int argc, char** argv) {
  static const char kAddress[] = "https://example.org/desk";
  const std::string source = argc == 2 ? argv[1] : "";
  memset(g_builtInSlot, ' ', kSlotLength);
  const char* slot = source == "slot" ? kAddress : "https://tarvo.invalid/";
  memcpy(g_builtInSlot, slot, strlen(slot));
  char folder[] = "/tmp/tarvo-bench-XXXXXX";
  if (source == "saved") {
    if (mkdtemp(folder) == nullptr) return 1;
    setenv("APPDATA", folder, 1);
    mkdir((std::string(folder) + "/Tarvo").c_str(), 0755);
    FILE* file = fopen((std::string(folder) + "/Tarvo/url.txt").c_str(), "wb");
    fputs(kAddress, file);
    fclose(file);
  }
  g_fake.shellResults = {33};
  if (source == "cmdline") g_fake.commandLine = u"Tarvo.exe " + std::u16string(kAddress, kAddress + strlen(kAddress));
  WinMain(FakeInstance(), nullptr, nullptr, 1);
  if (source == "saved") {
    unlink((std::string(folder) + "/Tarvo/url.txt").c_str());
    rmdir((std::string(folder) + "/Tarvo").c_str());
    rmdir(folder);
  }
  return g_fake.shellCalls.size() == 1 ? 0 : 1;
}
