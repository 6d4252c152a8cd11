// tarvo-stamp: writes a copy of a built Tarvo.exe whose built-in address slot holds the
// given address, or shows the address a launcher holds and whether it is signed.
//   tarvo-stamp IN.exe ADDRESS -o OUT.exe [--strip-signature] [--icon DESK.ico] [--name NAME]
//   tarvo-stamp --show IN.exe
#include <stdio.h>
#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

#include <string>

#include "files.h"
#include "signature.h"
#include "slot.h"
#include "stamp.h"
#include "version.h"

namespace {

int Fail(const std::string& message) {
  fprintf(stderr, "tarvo-stamp: %s\n", message.c_str());
  return 1;
}

#ifdef _WIN32
// The narrow argv holds the ANSI code page's lossy copy of the command line; the name is
// taken from the wide one, as UTF-8.
std::string TextArgument(char** argv, int index) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::string text = argv[index];
  int bytes = wide && index < count ? WideCharToMultiByte(CP_UTF8, 0, wide[index], -1, nullptr, 0, nullptr, nullptr) : 0;
  if (bytes > 0) {
    text.assign(bytes, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide[index], -1, &text[0], bytes, nullptr, nullptr);
    text.resize(bytes - 1);
  }
  LocalFree(wide);
  return text;
}
#else
std::string TextArgument(char** argv, int index) { return argv[index]; }
#endif

// Reads a launcher and checks its whole structure before anything is done with it.
std::string ReadLauncher(const std::string& path, Image* image, PeLayout* pe, unsigned* mode) {
  std::string error = ReadInput(path, kLauncherFileLimit, image, mode);
  if (error.empty() && !(error = ReadPe(*image, pe)).empty()) error = path + ": " + error;
  return error;
}

int Show(const std::string& input) {
  Image image;
  PeLayout pe;
  size_t slot = 0;
  unsigned mode = 0;
  std::string error = ReadLauncher(input, &image, &pe, &mode);
  if (!error.empty()) return Fail(error);
  error = FindSlot(image, pe, &slot);
  if (!error.empty()) return Fail(input + ": " + error);
  std::string address = SlotAddress(image, slot);
  printf("%s\n%s\n%s\n", address.c_str(),
         LauncherUsesAddress(address) ? "used: the launcher opens this address when started without one"
                                      : "passed over: a placeholder (\".invalid\"); the launcher uses the saved address or asks",
         IsSigned(pe) ? "signed" : "unsigned");
  return 0;
}

struct Options {
  bool stripSignature = false;
  std::string icon, name;
  bool hasIcon = false, hasName = false;
};

// The icon and the name, checked before anything is read or written for the launcher.
std::string ReadBranding(const Options& options, Branding* branding) {
  Image file;
  unsigned mode = 0;
  branding->hasIcon = options.hasIcon;
  branding->hasName = options.hasName;
  std::string error = options.hasIcon ? ReadInput(options.icon, kIconFileLimit, &file, &mode) : "";
  if (!error.empty()) return error;
  error = options.hasIcon ? ReadIconFile(file, &branding->images) : "";
  if (!error.empty()) return options.icon + ": " + error;
  return options.hasName ? CheckName(options.name, &branding->name) : "";
}

int Stamp(const std::string& input, const std::string& address, const std::string& output, const Options& options) {
  Branding branding;
  std::string error = CheckAddress(address);
  if (error.empty()) error = ReadBranding(options, &branding);
  if (!error.empty()) return Fail(error);
  Image image;
  unsigned mode = 0;
  if (!(error = ReadInput(input, kLauncherFileLimit, &image, &mode)).empty()) return Fail(error);
  if (!(error = StampLauncher(image, address, branding, options.stripSignature)).empty()) return Fail(input + ": " + error);
  error = WriteOutput(output, image, mode);
  return error.empty() ? 0 : Fail(error);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string usage =
      "usage: tarvo-stamp IN.exe ADDRESS -o OUT.exe [--strip-signature] [--icon DESK.ico] [--name NAME]\n"
      "       tarvo-stamp --show IN.exe";
  if (argc == 3 && std::string(argv[1]) == "--show") return Show(argv[2]);
  if (argc < 5 || std::string(argv[3]) != "-o") return Fail(usage);
  Options options;
  for (int i = 5; i < argc; i++) {
    std::string option = argv[i];
    bool takesValue = option == "--icon" || option == "--name";
    bool* seen = option == "--strip-signature" ? &options.stripSignature
                 : option == "--icon"          ? &options.hasIcon
                 : option == "--name"          ? &options.hasName
                                               : nullptr;
    if (seen == nullptr || *seen || (takesValue && i + 1 == argc))
      return Fail("unknown, repeated or incomplete option " + option + "\n" + usage);
    *seen = true;
    if (takesValue) i++;
    if (option == "--icon") options.icon = argv[i];
    if (option == "--name") options.name = TextArgument(argv, i);
  }
  return Stamp(argv[1], argv[2], argv[4], options);
}
