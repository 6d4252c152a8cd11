// tarvo-stamp: writes a copy of a built Tarvo.exe whose built-in address slot holds the
// given address, tags a copy of a signed release, writes the tag certificate, or shows what a
// launcher holds. main parses the command line, reads and
// writes files; the work is done over bytes in memory by the other files.
#include <errno.h>
#include <stdint.h>
#include <getopt.h>
#include <stdio.h>
#include <string.h>
#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

#include <string>
#include <vector>

#include "../../src/address/address.h"
#include "files.h"
#include "signature.h"
#include "slot.h"
#include "stamp.h"
#include "tag.h"
#include "version.h"

namespace {

const char kHelp[] =
    "usage: tarvo-stamp -o OUT.exe [OPTION...] IN.exe ADDRESS\n"
    "       tarvo-stamp --tag -o OUT.exe SIGNED.exe TAG\n"
    "       tarvo-stamp --tag-certificate OUT.crt\n"
    "       tarvo-stamp --show IN.exe\n"
    "\n"
    "Writes a copy of a built Tarvo.exe that opens ADDRESS, an https:// address of at most 180\n"
    "bytes, when started without one; or shows what a launcher holds. IN.exe is never changed.\n"
    "\n"
    "  -o, --output=OUT.exe  the launcher to write, replaced in one step; never IN.exe itself,\n"
    "                        a link or anything but a regular file; - writes to standard output\n"
    "  --icon=DESK.ico       icon group 1 becomes the images of this .ico file (at most 1 MiB)\n"
    "  --name=NAME           FileDescription and ProductName (UTF-8, 1 to 64 characters)\n"
    "  --strip-signature     remove IN.exe's signature first; sign OUT.exe afresh\n"
    "  --tag                 write TAG (1 to 64 letters, digits, '-', '_', beginning with a\n"
    "                        letter or digit) into the tag field of SIGNED.exe, a release signed\n"
    "                        with the tag certificate; it still verifies, and the launcher opens\n"
    "                        its built-in address (ending in '/') followed by TAG\n"
    "  --tag-certificate     write the tag certificate to OUT.crt, to add to the release's\n"
    "                        signature (-ac)\n"
    "  --show                print the launcher's address, whether it is used, its signature,\n"
    "                        tag, whether it takes one, its name and icon sizes, and what it\n"
    "                        opens when started without an address\n"
    "  -h, --help            print this help and exit\n"
    "  --version             print the version and exit\n"
    "\n"
    "Options may stand anywhere (before the operands when POSIXLY_CORRECT is set); -- ends\n"
    "them. Give a user's address, name or tag after --, so that none can be taken for an option:\n"
    "  tarvo-stamp -o OUT.exe --name=\"$NAME\" -- Tarvo.exe \"$ADDRESS\"\n"
    "  tarvo-stamp --tag -o OUT.exe -- SIGNED.exe \"$TAG\"\n"
    "\n"
    "Exit status: 0 done, 1 refused (nothing written) or output not written, 2 usage error.\n";

const char kCopyright[] =
    "Copyright (c) 2026 The Tarvo developers\n"
    "License MIT: <https://opensource.org/licenses/MIT>.\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";

int Fail(const std::string& message) {
  fprintf(stderr, "tarvo-stamp: %s\n", message.c_str());
  return 1;
}

#ifdef _WIN32
// The narrow argv holds the ANSI code page's lossy copy of the command line; the name is
// taken from the wide one, as UTF-8. getopt_long reorders argv, so the argument is found
// among the original pointers, by the one that holds the value.
std::string TextArgument(const std::vector<char*>& original, const char* value) {
  int index = 0;
  for (size_t i = 1; i < original.size(); i++)
    if (value >= original[i] && value <= original[i] + strlen(original[i])) index = static_cast<int>(i);
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::string text = value;
  int bytes = wide && index > 0 && index < count ? WideCharToMultiByte(CP_UTF8, 0, wide[index], -1, nullptr, 0, nullptr, nullptr) : 0;
  if (bytes > 0) {
    text.assign(bytes, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide[index], -1, &text[0], bytes, nullptr, nullptr);
    text.resize(bytes - 1);
    text.erase(0, value - original[index]);  // "--name=" is ASCII: the same bytes in both
  }
  LocalFree(wide);
  return text;
}
#else
std::string TextArgument(const std::vector<char*>&, const char* value) { return value; }
#endif

enum class Mode { kStamp, kShow, kTag, kTagCertificate, kHelp, kVersion };
enum Option { kOutput = 'o', kHelpOption = 'h', kIcon = 256, kName, kStripSignature, kShow, kTag, kTagCertificate, kVersion };

const option kOptions[] = {
    {"output", required_argument, nullptr, kOutput},
    {"icon", required_argument, nullptr, kIcon},
    {"name", required_argument, nullptr, kName},
    {"strip-signature", no_argument, nullptr, kStripSignature},
    {"show", no_argument, nullptr, kShow},
    {"tag", no_argument, nullptr, kTag},
    {"tag-certificate", no_argument, nullptr, kTagCertificate},
    {"help", no_argument, nullptr, kHelpOption},
    {"version", no_argument, nullptr, kVersion},
    {nullptr, 0, nullptr, 0}};

std::string OptionName(int value) {
  if (value == kOutput) return "-o";
  for (const option& o : kOptions)
    if (o.name != nullptr && o.val == value) return std::string("--") + o.name;
  return "";
}

struct Command {
  Mode mode = Mode::kStamp;
  std::vector<std::string> operands;
  std::string output, icon, name;
  bool hasOutput = false, hasIcon = false, hasName = false, stripSignature = false;
};

// Returns false when the command line is wrong, with what was wrong in error; getopt_long
// says it itself for an option it could not parse (unknown, ambiguous, missing its value),
// and error is then empty. Otherwise: a second mode, an option given twice, or operands that
// do not fit the mode.
bool Parse(int argc, char** argv, Command* command, std::string* error) {
  const std::vector<char*> original(argv, argv + argc);
  int modeOption = 0;
  for (int result; (result = getopt_long(argc, argv, "ho:", kOptions, nullptr)) != -1;) {
    switch (result) {
      case '?':
        return false;
      case kHelpOption:
        command->mode = Mode::kHelp;
        return true;
      case kVersion:
        command->mode = Mode::kVersion;
        return true;
      case kShow:
      case kTag:
      case kTagCertificate:
        if (modeOption != 0) return *error = "give only one of --show, --tag and --tag-certificate", false;
        modeOption = result;
        command->mode = result == kShow ? Mode::kShow : result == kTag ? Mode::kTag : Mode::kTagCertificate;
        break;
      default:
        bool* seen = result == kOutput ? &command->hasOutput : result == kIcon ? &command->hasIcon
                     : result == kName ? &command->hasName : &command->stripSignature;
        if (*seen) return *error = OptionName(result) + " given twice", false;
        *seen = true;
        if (result == kOutput) command->output = optarg;
        if (result == kIcon) command->icon = optarg;
        if (result == kName) command->name = TextArgument(original, optarg);
    }
  }
  command->operands.assign(argv + optind, argv + argc);
  const size_t operands = command->operands.size();
  const bool branding = command->hasIcon || command->hasName || command->stripSignature;
  const std::string mode = OptionName(modeOption);
  switch (command->mode) {
    case Mode::kShow:
    case Mode::kTagCertificate:
      if (command->hasOutput || branding) *error = mode + " takes no other options";
      else if (operands != 1) *error = mode + " takes one file";
      return error->empty();
    case Mode::kTag:
      if (branding) *error = "--tag takes only -o";
      else if (operands != 2) *error = "--tag takes SIGNED.exe and TAG";
      break;
    case Mode::kStamp:
      if (operands != 2)
        *error = "expected IN.exe and ADDRESS, got " + std::to_string(operands) + (operands == 1 ? " operand" : " operands");
      break;
    case Mode::kHelp:
    case Mode::kVersion:
      break;
  }
  if (error->empty() && !command->hasOutput) *error = "missing -o OUT.exe";
  return error->empty();
}

// What a terminal acts on rather than shows: controls (C0, DEL, C1), line and paragraph
// separators, and the marks that reorder text.
bool IsActive(uint32_t point) {
  return point < 0x20 || (point >= 0x7F && point < 0xA0) || point == 0x61C || (point >= 0x200E && point <= 0x200F) ||
         (point >= 0x2028 && point <= 0x202E) || (point >= 0x2066 && point <= 0x2069);
}

// The text with what is active, a byte that is not UTF-8 and the backslash written as
// escapes, so that no field can end its line, forge another, or move what follows.
std::string Printable(const std::string& text) {
  std::string shown;
  char escape[16];
  for (size_t at = 0, start = 0; at < text.size(); start = at) {
    uint32_t point = 0;
    if (!NextCodePoint(text, &at, &point)) {
      snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(text[start]));
      shown += escape;
      at = start + 1;
    } else if (IsActive(point)) {
      snprintf(escape, sizeof escape, point == '\n' ? "\\n" : point < 0x80 ? "\\x%02x" : "\\u%04x", static_cast<unsigned>(point));
      shown += escape;
    } else {
      shown += point == '\\' ? "\\\\" : text.substr(start, at - start);
    }
  }
  return shown;
}

// Every line that can be read is printed; a part that cannot says why, and the status is 1.
int Show(const std::string& input) {
  Image image;
  PeLayout pe;
  unsigned mode = 0;
  std::string error = ReadInput(input, kLauncherFileLimit, &image, &mode);
  if (!error.empty()) return Fail(error);
  if (!(error = ReadPe(image, &pe)).empty()) return Fail(input + ": " + error);
  size_t slot = 0, field = 0;
  std::vector<Resource> resources;
  PeLayout layout;
  const std::string slotError = FindSlot(image, pe, &slot), resourceError = ReadResources(image, pe, &resources);
  const std::string tag = ReadTag(image, pe), untaggable = FindTaggableField(image, &layout, &field);
  std::string address = "unreadable", used = address, opens = address, name = address, sizes = address;
  if (slotError.empty()) {
    address = SlotAddress(image, slot);
    const bool launcherUses = LauncherUsesAddress(address);
    used = !launcherUses ? "no, a placeholder (\".invalid\"); the launcher uses the saved address or asks"
           : HasHost(address.c_str()) ? "yes, the launcher opens this address when started without one"
                                      : "yes, though it names no host that a browser can open: stamp the release afresh";
    opens = !launcherUses ? "the saved address, or what the user pastes into the prompt"
                          : TakesTag(address.c_str()) ? address + tag : address;
  }
  if (resourceError.empty()) {
    name = VersionName(resources);
    sizes.clear();
    for (unsigned size : IconSizes(resources)) sizes += (sizes.empty() ? "" : ", ") + std::to_string(size);
    if (name.empty()) name = "none";
    if (sizes.empty()) sizes = "none";
  }
  printf("address: %s\nused: %s\nsignature: %s\ntag: %s\ntaggable: %s\nname: %s\nicon: %s\nopens: %s\n",
         Printable(address).c_str(), used.c_str(), IsSigned(pe) ? "present (not checked here: osslsigncode verify checks it)"
                                                                  : "none, unsigned",
         tag.empty() ? "none" : tag.c_str(), untaggable.empty() ? "yes" : ("no, " + Printable(untaggable)).c_str(),
         Printable(name).c_str(), sizes.c_str(), Printable(opens).c_str());
  if (!slotError.empty()) Fail(input + ": its address slot could not be read: " + slotError);
  if (!resourceError.empty()) Fail(input + ": its resources could not be read: " + resourceError);
  return slotError.empty() && resourceError.empty() ? 0 : 1;
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
  if (command.output != kStandardOutput && SameFile(input, command.output))
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
  return RewriteLauncher(command, [&](Image& image) { return WriteTag(image, tag); });
}

int WriteTagCertificate(const std::string& path) {
  const std::string pem = TagCertificate();
  std::string error = WriteOutput(path, Image(pem.begin(), pem.end()), 0644);
  return error.empty() ? 0 : Fail(error);
}

// As GNU's close_stdout: a full disk or a closed pipe never passes for success, and a standard
// output closed by the caller is no failure of a mode that wrote nothing there.
int CloseStandardOutput(int status) {
  const bool flushed = fflush(stdout) == 0 && !ferror(stdout);
  const int reason = errno;
  if ((fclose(stdout) == 0 || errno == EBADF) && flushed) return status;
  if (status == 0) Fail(std::string("standard output: ") + strerror(flushed ? errno : reason));
  return 1;
}

int Run(const Command& command) {
  switch (command.mode) {
    case Mode::kHelp: return printf("%s", kHelp) < 0;
    case Mode::kVersion: return printf("tarvo-stamp %s\n%s", TARVO_VERSION, kCopyright) < 0;
    case Mode::kShow: return Show(command.operands[0]);
    case Mode::kTag: return Tag(command);
    case Mode::kTagCertificate: return WriteTagCertificate(command.operands[0]);
    case Mode::kStamp: return Stamp(command);
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  static char name[] = "tarvo-stamp";  // getopt's own messages name the tool as ours do
  argv[0] = name;
  Command command;
  std::string error;
  if (!Parse(argc, argv, &command, &error)) {
    if (!error.empty()) fprintf(stderr, "tarvo-stamp: %s\n", error.c_str());
    fprintf(stderr, "Try 'tarvo-stamp --help'.\n");
    return 2;
  }
  return CloseStandardOutput(Run(command));
}
