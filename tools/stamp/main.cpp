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

#include "icon.h"
#include "signature.h"
#include "slot.h"
#include "version.h"

namespace {

int Fail(const std::string& message) {
  fprintf(stderr, "tarvo-stamp: %s\n", message.c_str());
  return 1;
}

bool ReadImage(const std::string& path, Image* image) {
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  unsigned char block[65536];
  size_t count;
  while ((count = fread(block, 1, sizeof block, file)) > 0) image->insert(image->end(), block, block + count);
  bool whole = !ferror(file);
  fclose(file);
  return whole;
}

#ifdef _WIN32
// Replaces in one step, so the old output (or the input, when -o names it) is never removed
// first. A virus scanner holds a fresh executable open for a moment: wait it out.
bool MoveIntoPlace(const std::string& from, const std::string& to) {
  for (int attempt = 1;; attempt++) {
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    DWORD error = GetLastError();
    if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) || attempt == 8) return false;
    Sleep(25);
  }
}

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
bool MoveIntoPlace(const std::string& from, const std::string& to) { return rename(from.c_str(), to.c_str()) == 0; }
std::string TextArgument(char** argv, int index) { return argv[index]; }
#endif

// Written beside the output and moved into place, so a failure never leaves half a file
// and always leaves the old output as it was.
std::string WriteImage(const std::string& path, const Image& image) {
  std::string temporary = path + ".partial";
  FILE* file = fopen(temporary.c_str(), "wb");
  bool written = file != nullptr && fwrite(image.data(), 1, image.size(), file) == image.size();
  written = file != nullptr && fclose(file) == 0 && written;
  if (written && MoveIntoPlace(temporary, path)) return "";
  remove(temporary.c_str());
  return "cannot write " + path + (written ? " (it is in use, or cannot be replaced)" : "");
}

int Show(const std::string& input) {
  Image image;
  size_t slot = 0;
  if (!ReadImage(input, &image)) return Fail("cannot read " + input);
  std::string error = FindSlot(image, &slot);
  if (!error.empty()) return Fail(input + ": " + error);
  std::string address = SlotAddress(image, slot);
  printf("%s\n%s\n%s\n", address.c_str(),
         LauncherUsesAddress(address) ? "used: the launcher opens this address when started without one"
                                      : "passed over: a placeholder (\".invalid\"); the launcher uses the saved address or asks",
         IsSigned(image) ? "signed" : "unsigned");
  return 0;
}

struct Options {
  bool stripSignature = false;
  std::string icon, name;
  bool hasIcon = false, hasName = false;
};

// The icon and the name, checked before anything is read or written for the launcher.
std::string ReadBranding(const Options& options, std::vector<IconImage>* images, std::u16string* name) {
  Image file;
  if (options.hasIcon && !ReadImage(options.icon, &file)) return "cannot read " + options.icon;
  std::string error = options.hasIcon ? ReadIconFile(file, images) : "";
  if (!error.empty()) return options.icon + ": " + error;
  return options.hasName ? CheckName(options.name, name) : "";
}

std::string Brand(Image& image, const Options& options, const std::vector<IconImage>& images,
                  const std::u16string& name) {
  if (!options.hasIcon && !options.hasName) return "";
  std::vector<Resource> resources;
  std::string error = ReadResources(image, &resources);
  if (error.empty() && options.hasName) error = SetVersionName(resources, name);
  if (!error.empty()) return error;
  if (options.hasIcon) ReplaceIcon(resources, images);
  return WriteResources(image, resources);
}

int Stamp(const std::string& input, const std::string& address, const std::string& output, const Options& options) {
  std::string error = CheckAddress(address);
  if (!error.empty()) return Fail(error);
  std::vector<IconImage> images;
  std::u16string name;
  error = ReadBranding(options, &images, &name);
  if (!error.empty()) return Fail(error);
  Image image;
  size_t slot = 0;
  if (!ReadImage(input, &image)) return Fail("cannot read " + input);
  if (IsSigned(image) && !options.stripSignature)
    return Fail(input + " is signed, and stamping would break its signature: stamp the unsigned release, "
                "or pass --strip-signature (and sign the output afresh)");
  if (IsSigned(image) && !(error = StripSignature(image)).empty()) return Fail(input + ": " + error);
  // Branding rebuilds only what follows .data, so the slot stays where it was found.
  error = FindSlot(image, &slot);
  if (error.empty()) error = Brand(image, options, images, name);
  if (!error.empty()) return Fail(input + ": " + error);
  StampSlot(image, slot, address);
  error = WriteImage(output, image);
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
