// tarvo-stamp: writes a copy of a built Tarvo.exe whose built-in address slot holds the
// given address, or shows what a launcher holds. main parses the command line, reads and
// writes files; the work is done over bytes in memory by the other files.
#include <stdio.h>
#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

#include <string>
#include <vector>

#include "files.h"
#include "signature.h"
#include "slot.h"
#include "stamp.h"
#include "version.h"

namespace {

const char kSynopsis[] =
    "usage: tarvo-stamp IN.exe ADDRESS -o OUT.exe [--icon DESK.ico] [--name NAME] [--strip-signature]\n"
    "       tarvo-stamp --show IN.exe\n";

const char kHelp[] =
    "\n"
    "Writes a copy of a built Tarvo.exe that opens ADDRESS, an https:// address of at most 180\n"
    "bytes, when started without one; or shows what a launcher holds. IN.exe is never changed.\n"
    "\n"
    "  -o OUT.exe          the launcher to write; replaced in one step, never IN.exe itself\n"
    "  --icon DESK.ico     icon group 1 becomes the images of this .ico file (at most 1 MiB)\n"
    "  --name NAME         FileDescription and ProductName (UTF-8, 1 to 64 characters)\n"
    "  --strip-signature   remove IN.exe's signature first; sign OUT.exe afresh\n"
    "  --show IN.exe       print the slot's address, whether it is used, whether a signature is\n"
    "                      present, and what the launcher opens when started without an address\n"
    "  -h, --help          print this help and exit\n"
    "  --version           print the version and exit\n"
    "\n"
    "Options may stand in any order after the mode. Exit status: 0 done, 1 refused, 2 usage error.\n";

int Fail(const std::string& message) {
  fprintf(stderr, "tarvo-stamp: %s\n", message.c_str());
  return 1;
}

int UsageError(const std::string& message) {
  fprintf(stderr, "tarvo-stamp: %s\n%sTry 'tarvo-stamp --help' for more.\n", message.c_str(), kSynopsis);
  return 2;
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

enum class Mode { kStamp, kShow };

struct Command {
  Mode mode = Mode::kStamp;
  std::vector<std::string> operands;
  std::string output, icon, name;
  bool hasOutput = false, hasIcon = false, hasName = false, stripSignature = false;
};

// Returns "" or what was wrong with the command line.
std::string Parse(int argc, char** argv, Command* command) {
  int first = 1;
  if (argc > 1 && std::string(argv[1]) == "--show") command->mode = Mode::kShow, first = 2;
  bool optionsEnded = false;
  for (int i = first; i < argc; i++) {
    const std::string argument = argv[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      command->operands.push_back(argument);
      continue;
    }
    std::string* value = argument == "-o" ? &command->output : argument == "--icon" ? &command->icon
                         : argument == "--name" ? &command->name : nullptr;
    bool* seen = argument == "-o" ? &command->hasOutput : argument == "--icon" ? &command->hasIcon
                 : argument == "--name" ? &command->hasName : argument == "--strip-signature" ? &command->stripSignature
                 : nullptr;
    if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "--show") {
      return "--show must come first";
    } else if (seen == nullptr) {
      return "unknown option " + argument;
    } else if (*seen) {
      return argument + " given twice";
    } else if (value != nullptr && i + 1 == argc) {
      return argument + " needs a value";
    } else {
      *seen = true;
      if (value != nullptr) *value = argument == "--name" ? TextArgument(argv, ++i) : argv[++i];
    }
  }
  if (command->mode == Mode::kShow) {
    if (command->hasOutput || command->hasIcon || command->hasName || command->stripSignature)
      return "--show takes no other options";
    return command->operands.size() == 1 ? "" : "--show takes one launcher";
  }
  if (command->operands.size() != 2) return "expected IN.exe and ADDRESS, got " + std::to_string(command->operands.size()) + " operands";
  return command->hasOutput ? "" : "missing -o OUT.exe";
}

int Show(const std::string& input) {
  Image image;
  PeLayout pe;
  size_t slot = 0;
  unsigned mode = 0;
  std::string error = ReadInput(input, kLauncherFileLimit, &image, &mode);
  if (!error.empty()) return Fail(error);
  if ((error = ReadPe(image, &pe)).empty()) error = FindSlot(image, pe, &slot);
  if (!error.empty()) return Fail(input + ": " + error);
  std::string address = SlotAddress(image, slot);
  const bool used = LauncherUsesAddress(address);
  printf("%s\n%s\n%s\nopens: %s\n", address.c_str(),
         used ? "used: the launcher opens this address when started without one"
              : "passed over: a placeholder (\".invalid\"); the launcher uses the saved address or asks",
         IsSigned(pe) ? "signature present (not checked here: osslsigncode verify checks it)" : "unsigned",
         used ? address.c_str() : "the saved address, or what the user pastes into the prompt");
  return 0;
}

// The icon and the name, checked before anything is read or written for the launcher.
std::string ReadBranding(const Command& command, Branding* branding) {
  Image file;
  unsigned mode = 0;
  branding->hasIcon = command.hasIcon;
  branding->hasName = command.hasName;
  std::string error = command.hasIcon ? ReadInput(command.icon, kIconFileLimit, &file, &mode) : "";
  if (!error.empty()) return error;
  error = command.hasIcon ? ReadIconFile(file, &branding->images) : "";
  if (!error.empty()) return command.icon + ": " + error;
  return command.hasName ? CheckName(command.name, &branding->name) : "";
}

int Stamp(const Command& command) {
  const std::string &input = command.operands[0], &address = command.operands[1];
  Branding branding;
  std::string error = CheckAddress(address);
  if (error.empty()) error = ReadBranding(command, &branding);
  if (!error.empty()) return Fail(error);
  if (SameFile(input, command.output))
    return Fail("-o " + command.output + " names the input; the input is never changed, so name another file");
  Image image;
  unsigned mode = 0;
  if (!(error = ReadInput(input, kLauncherFileLimit, &image, &mode)).empty()) return Fail(error);
  if (!(error = StampLauncher(image, address, branding, command.stripSignature)).empty())
    return Fail(input + ": " + error);
  error = WriteOutput(command.output, image, mode);
  return error.empty() ? 0 : Fail(error);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc && std::string(argv[i]) != "--"; i++) {
    const std::string argument = argv[i];
    if (argument == "--help" || argument == "-h") return printf("%s%s", kSynopsis, kHelp) < 0;
    if (argument == "--version") return printf("tarvo-stamp %s\n", TARVO_VERSION) < 0;
  }
  Command command;
  std::string error = Parse(argc, argv, &command);
  if (!error.empty()) return UsageError(error);
  return command.mode == Mode::kShow ? Show(command.operands[0]) : Stamp(command);
}
