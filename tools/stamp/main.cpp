// tarvo-stamp: writes a copy of a built Tarvo.exe whose built-in address slot holds the
// given address, tags a copy of a signed release, writes the tag certificate, or shows what a
// launcher holds. main parses the command line, reads and
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
#include "tag.h"
#include "version.h"

namespace {

const char kSynopsis[] =
    "usage: tarvo-stamp IN.exe ADDRESS -o OUT.exe [--icon DESK.ico] [--name NAME] [--strip-signature]\n"
    "       tarvo-stamp --tag SIGNED.exe TAG -o OUT.exe\n"
    "       tarvo-stamp --tag-certificate OUT.crt\n"
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
    "  --tag SIGNED.exe TAG\n"
    "                      write TAG (1 to 64 letters, digits, '-', '_') into the tag field of a\n"
    "                      release signed with the tag certificate; it still verifies, and the\n"
    "                      launcher opens its built-in address (ending in '/') followed by TAG\n"
    "  --tag-certificate OUT.crt\n"
    "                      write the tag certificate, to add to the release's signature (-ac)\n"
    "  --show IN.exe       print the slot's address, whether it is used, whether a signature is\n"
    "                      present, the tag, and what the launcher opens when started without one\n"
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

enum class Mode { kStamp, kShow, kTag, kTagCertificate };

struct Command {
  Mode mode = Mode::kStamp;
  std::vector<std::string> operands;
  std::string output, icon, name;
  bool hasOutput = false, hasIcon = false, hasName = false, stripSignature = false;
};

// Returns "" or what was wrong with the command line.
std::string Parse(int argc, char** argv, Command* command) {
  const std::string mode = argc > 1 ? argv[1] : "";
  command->mode = mode == "--show" ? Mode::kShow : mode == "--tag" ? Mode::kTag
                  : mode == "--tag-certificate" ? Mode::kTagCertificate : Mode::kStamp;
  const int first = command->mode == Mode::kStamp ? 1 : 2;
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
    } else if (argument == "--show" || argument == "--tag" || argument == "--tag-certificate") {
      return argument + " must come first";
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
  const bool branding = command->hasIcon || command->hasName || command->stripSignature;
  switch (command->mode) {
    case Mode::kShow:
    case Mode::kTagCertificate:
      if (command->hasOutput || branding) return mode + " takes no other options";
      return command->operands.size() == 1 ? "" : mode + " takes one file";
    case Mode::kTag:
      if (branding) return "--tag takes only -o";
      if (command->operands.size() != 2) return "--tag takes SIGNED.exe and TAG";
      break;
    case Mode::kStamp:
      if (command->operands.size() != 2) return "expected IN.exe and ADDRESS, got " + std::to_string(command->operands.size()) + " operands";
      break;
  }
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
  const std::string address = SlotAddress(image, slot), tag = LauncherTag(image, pe);
  const bool used = LauncherUsesAddress(address);
  const std::string opens = !used ? "the saved address, or what the user pastes into the prompt"
                                  : TakesTag(address.c_str()) ? address + tag : address;
  printf("%s\n%s\n%s\ntag: %s\nopens: %s\n", address.c_str(),
         used ? "used: the launcher opens this address when started without one"
              : "passed over: a placeholder (\".invalid\"); the launcher uses the saved address or asks",
         IsSigned(pe) ? "signature present (not checked here: osslsigncode verify checks it)" : "unsigned",
         tag.empty() ? "none" : tag.c_str(), opens.c_str());
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

// Reads the input launcher, lets work change it in memory, and writes the output.
template <typename Work>
int RewriteLauncher(const Command& command, Work work) {
  const std::string& input = command.operands[0];
  if (SameFile(input, command.output))
    return Fail("-o " + command.output + " names the input; the input is never changed, so name another file");
  Image image;
  unsigned mode = 0;
  std::string error = ReadInput(input, kLauncherFileLimit, &image, &mode);
  if (!error.empty()) return Fail(error);
  if (!(error = work(image)).empty()) return Fail(input + ": " + error);
  error = WriteOutput(command.output, image, mode);
  return error.empty() ? 0 : Fail(error);
}

int Stamp(const Command& command) {
  const std::string& address = command.operands[1];
  Branding branding;
  std::string error = CheckAddress(address);
  if (error.empty()) error = ReadBranding(command, &branding);
  if (!error.empty()) return Fail(error);
  return RewriteLauncher(command, [&](Image& image) {
    return StampLauncher(image, address, branding, command.stripSignature);
  });
}

int Tag(const Command& command) {
  const std::string& tag = command.operands[1];
  std::string error = CheckTag(tag);
  if (!error.empty()) return Fail(error);
  return RewriteLauncher(command, [&](Image& image) { return TagLauncher(image, tag); });
}

int WriteTagCertificate(const std::string& path) {
  const std::string pem = TagCertificate();
  std::string error = WriteOutput(path, Image(pem.begin(), pem.end()), 0644);
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
  switch (command.mode) {
    case Mode::kShow: return Show(command.operands[0]);
    case Mode::kTag: return Tag(command);
    case Mode::kTagCertificate: return WriteTagCertificate(command.operands[0]);
    case Mode::kStamp: break;
  }
  return Stamp(command);
}
