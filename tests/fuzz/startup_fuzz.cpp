// The start-up decision on an arbitrary command-line tail, slot and saved file: nothing is
// read or written outside a buffer (the sanitizers watch), and an address taken from the
// slot or the saved file always has a scheme and never the placeholder marker; one from the
// saved file never holds a blank or a quote that could split it into browser arguments.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "address/address.h"
#include "fake_win32.h"
#include "startup/startup.h"


static std::string g_savedFile;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char folder[] = "/tmp/tarvo-fuzz-XXXXXX";
  if (mkdtemp(folder) == nullptr) abort();
  setenv("APPDATA", folder, 1);
  g_savedFile = std::string(folder) + "/Tarvo/url.txt";
  mkdir((std::string(folder) + "/Tarvo").c_str(), 0755);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const bool hasTail = input.ConsumeBool();
  std::string tailText = input.ConsumeRandomLengthString(2048);
  std::vector<char> tail(tailText.begin(), tailText.end());
  tail.push_back('\0');
  std::vector<uint8_t> slot = input.ConsumeBytes<uint8_t>(sizeof g_builtInSlot);
  slot.resize(sizeof g_builtInSlot, ' ');
  memcpy(g_builtInSlot, slot.data(), sizeof g_builtInSlot);
  std::vector<uint8_t> saved = input.ConsumeRemainingBytes<uint8_t>();
  FILE* file = fopen(g_savedFile.c_str(), "wb");
  fwrite(saved.data(), 1, saved.size(), file);
  fclose(file);

  ResetFakeWin32();
  g_fake.shellResults = {33};
  if (WinMain(nullptr, nullptr, hasTail ? tail.data() : nullptr, 1) != 0) abort();
  if (g_fake.shellCalls.empty()) return 0;

  const std::string launched = g_fake.shellCalls[0].parameters.substr(strlen("--app="));
  const bool scheme = launched.rfind("https://", 0) == 0 || launched.rfind("http://", 0) == 0;
  if (!scheme || launched.size() > static_cast<size_t>(kAddressLength)) abort();
  const bool fromTail = hasTail && HasScheme(tail.data());
  if (!fromTail && launched.find(".invalid") != std::string::npos) abort();
  const bool fromSlot = !fromTail && HasScheme(g_builtInSlot) && !IsPlaceholder(g_builtInSlot, kSlotLength);
  if (!fromTail && !fromSlot && launched.find_first_of(" \"\t") != std::string::npos) abort();
  return 0;
}
