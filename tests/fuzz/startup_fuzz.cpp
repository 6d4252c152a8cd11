// The start-up decision on an arbitrary command line, slot, certificate table and saved
// file: nothing is read or written outside a buffer (the sanitizers watch); an address taken
// from the command line holds nothing outside ASCII; one taken from the slot or the saved file
// always has a scheme and never the placeholder marker; one from the saved file never holds a
// blank or a quote that could split it into browser arguments; one from the slot is the slot's
// text and at most a tag after it, the very tag that tarvo-stamp's --show reads from the table.
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
#include "tag/tag_field.h"
#include "../../tools/stamp/tag.h"


static std::string g_folder, g_savedFile, g_moduleFile;
static const char kModuleHead[] = "sixteen bytes...";  // what precedes the table in the file

// The fuzzer ends through exit(), so its folder goes then.
static void RemoveFolder() {
  unlink(g_savedFile.c_str());
  unlink(g_moduleFile.c_str());
  rmdir((g_folder + "/Tarvo").c_str());
  rmdir(g_folder.c_str());
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char folder[] = "/tmp/tarvo-fuzz-XXXXXX";
  if (mkdtemp(folder) == nullptr) abort();
  g_folder = folder;
  setenv("APPDATA", folder, 1);
  g_savedFile = g_folder + "/Tarvo/url.txt";
  mkdir((g_folder + "/Tarvo").c_str(), 0755);
  g_moduleFile = g_folder + "/Tarvo.exe";
  atexit(RemoveFolder);
  return 0;
}

static std::string Trimmed(std::string text) {
  text.erase(0, text.find_first_not_of("\t\n\r "));
  text.erase(text.find_last_not_of("\n\r ") + 1);
  return text;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  // The command line in UTF-16 units, two bytes each.
  const std::string tailBytes = input.ConsumeRandomLengthString(4096);
  std::u16string tail;
  for (size_t at = 0; at + 1 < tailBytes.size(); at += 2)
    tail += static_cast<char16_t>(static_cast<unsigned char>(tailBytes[at]) | static_cast<unsigned char>(tailBytes[at + 1]) << 8);
  std::vector<uint8_t> slot = input.ConsumeBytes<uint8_t>(sizeof g_builtInSlot);
  slot.resize(sizeof g_builtInSlot, ' ');
  memcpy(g_builtInSlot, slot.data(), sizeof g_builtInSlot);
  // The launcher's own file: a certificate table of arbitrary bytes at offset 16, whose size
  // the headers may give wrongly.
  const uint16_t claimed = input.ConsumeIntegral<uint16_t>();
  std::string table = input.ConsumeRandomLengthString(8192);
  FILE* module = fopen(g_moduleFile.c_str(), "wb");
  fwrite(kModuleHead, 1, sizeof kModuleHead - 1, module);
  fwrite(table.data(), 1, table.size(), module);
  fclose(module);
  std::vector<uint8_t> saved = input.ConsumeRemainingBytes<uint8_t>();
  FILE* file = fopen(g_savedFile.c_str(), "wb");
  fwrite(saved.data(), 1, saved.size(), file);
  fclose(file);

  ResetFakeWin32();
  g_fake.shellResults = {33};
  g_fake.moduleFile = g_moduleFile;
  g_fake.commandLine = u"Tarvo.exe " + tail;
  const uint32_t tableSize = claimed % 2 ? claimed : static_cast<uint32_t>(table.size());
  if (WinMain(FakeInstance(sizeof kModuleHead - 1, tableSize), nullptr, nullptr, 1) != 0) abort();
  if (g_fake.shellCalls.empty()) return 0;

  const std::string launched = g_fake.shellCalls[0].parameters.substr(strlen("--app="));
  const bool scheme = launched.rfind("https://", 0) == 0 || launched.rfind("http://", 0) == 0;
  if (!scheme || launched.size() > static_cast<size_t>(kAddressLength)) abort();
  tail.erase(0, tail.find_first_not_of(u"\x01\x02\x03\x04\x05\x06\x07\x08\t\n\x0b\x0c\r\x0e\x0f\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f "));
  const bool fromTail = tail.rfind(u"https://", 0) == 0 || tail.rfind(u"http://", 0) == 0;
  // Nothing outside ASCII ever reaches a browser from the command line: best fit never runs.
  for (unsigned char c : launched)
    if (fromTail && c >= 0x80) abort();
  if (!fromTail && launched.find(".invalid") != std::string::npos) abort();
  const bool fromSlot = !fromTail && HasScheme(g_builtInSlot) && !IsPlaceholder(g_builtInSlot, kSlotLength);
  if (!fromTail && !fromSlot && launched.find_first_of(" \"\t") != std::string::npos) abort();
  if (!fromTail && !fromSlot && !HasHost(launched.c_str())) abort();  // never a page that cannot open
  if (!fromSlot) return 0;
  // A tag only ever adds letters, digits, '-' and '_', and only under a closed host.
  const std::string address = Trimmed(std::string(g_builtInSlot, strnlen(g_builtInSlot, kSlotLength)));
  if (launched.compare(0, address.size(), address) != 0) abort();
  const std::string tag = launched.substr(address.size());
  if (tag.size() > static_cast<size_t>(kTagLength)) abort();
  for (char c : tag)
    if (!IsTagCharacter(c)) abort();
  const size_t host = address.find("//") + 2;
  if (!tag.empty() && (address.back() != '/' || address.find('/', host) == std::string::npos)) abort();
  // A table that runs past the file is one the tool's check refuses and the launcher cannot read.
  if (tableSize > table.size()) return 0;
  const std::string own = kModuleHead + table;
  PeLayout pe;
  pe.certificateOffset = sizeof kModuleHead - 1, pe.certificateSize = tableSize;
  if (tag != (TakesTag(address.c_str()) ? ReadTag(Image(own.begin(), own.end()), pe) : "")) abort();
  return 0;
}
