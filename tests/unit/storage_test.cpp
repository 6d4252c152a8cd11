// The saved-address file: where it lives, what a start makes of its bytes, and saving
// that never loses the address already remembered.
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "address/address.h"
#include "startup/startup.h"
#include "storage/storage.h"
#include "temporary_folder.h"

class SavedFile : public InTemporaryFolder {
 protected:
  static std::string Entries(const std::string& path) {
    std::string names;
    for (const char* name : {"url.txt", "~4d2"})
      if (access((path + "/" + name).c_str(), F_OK) == 0) names += std::string(name) + " ";
    return names;
  }
};

// For every boundary of the path limits, a save is read back by the next load, from one
// place that the save could create, and no call meets a path Windows would refuse.
TEST_F(SavedFile, SaveIsReadBackWhereverAppDataPoints) {
  struct Case { std::string name; const char* value; std::string file, folder; };
  std::vector<Case> cases = {
    {"missing", nullptr, "tarvo.url", ".\\Tarvo"},
    {"empty", "", "tarvo.url", "\\Tarvo"},
    {"'?' for a character outside the code page", "app?data", "tarvo.url", ""},
  };
  std::vector<std::string> values;
  for (int length : {1, 233, 234, 235, 236, 237, 238, 239, 240, 241, 242, 243, 244, 245, 246, 247, 248, 259, 260, 300})
    values.push_back(std::string(length, 'a'));
  for (const std::string& value : values) {
    bool usable = value.size() <= 241;  // "\Tarvo" then stays below CreateDirectoryA's 248
    cases.push_back({std::to_string(value.size()), value.c_str(), usable ? value + "\\Tarvo\\url.txt" : "tarvo.url",
                     usable ? value + "\\Tarvo" : ""});
  }
  for (const Case& c : cases) {
    ResetFakeWin32();
    if (c.value == nullptr) unsetenv("APPDATA"); else setenv("APPDATA", c.value, 1);
    if (c.value != nullptr && strlen(c.value) < 256) mkdir(c.value, 0755);  // the profile folder exists
    const std::string address = "https://a.example/" + c.name;
    CopyToAddress(address.c_str(), kAddressLength);
    SaveAddress();
    ClearAddress();
    LoadSavedAddress();
    EXPECT_EQ(g_address, address) << c.name;
    ASSERT_EQ(g_fake.openedToRead.size(), 1u) << c.name;
    EXPECT_EQ(g_fake.openedToRead[0], c.file) << c.name;
    EXPECT_EQ(g_fake.folders.empty() ? "" : g_fake.folders[0], c.folder) << c.name;
    EXPECT_EQ(g_fake.refusedPaths, std::vector<std::string>{}) << c.name;
    const std::string folder = c.file.substr(0, c.file.rfind('\\') + 1);
    for (const std::string& path : g_fake.openedToWrite)
      EXPECT_EQ(path.rfind(folder, 0), 0u) << c.name << ": saves beside the file";
    std::string temporary = folder + "~4d2";
    for (char& ch : temporary) ch = ch == '\\' ? '/' : ch;
    EXPECT_NE(access(temporary.c_str(), F_OK), 0) << c.name << ": temporary file left";
  }
}

// What a start opens, given the saved file's bytes (the slot holds a placeholder).
TEST_F(SavedFile, StartOpensOnlyAValidFirstLine) {
  struct Case { const char* name; std::string bytes; std::string expected; bool shiftHeld = false; };
  const std::string longLine = "https://a.example/" + std::string(600, 'x');
  const Case cases[] = {
    {"no line end", "https://a.example/", "https://a.example/"},
    {"first line only", "https://a.example/1\nhttps://b.example/2", "https://a.example/1"},
    {"CRLF and blanks", " \thttps://a.example/1 \r\nx", "https://a.example/1"},
    {"http", "http://a.example/", "http://a.example/"},
    {"longer than 511", longLine, longLine.substr(0, 511)},
    {"NUL ends the text", std::string("https://a.example/\0junk", 23), "https://a.example/"},
    {"NUL first", std::string("\0https://a.example/", 19), "(prompt)"},
    {"byte-order mark", "\xEF\xBB\xBFhttps://a.example/", "(prompt)"},
    {"blank first line", "\nhttps://a.example/", "(prompt)"},
    {"text before scheme", "open https://a.example/", "(prompt)"},
    {"placeholder in path", "https://a.example/.invalid/x", "(prompt)"},
    {"placeholder in query", "https://a.example/?q=.invalid", "(prompt)"},
    {"no scheme", "a.example/desk", "(prompt)"},
    {"a bare scheme, as older builds saved an empty field", "https://", "(prompt)"},
    {"a bare http scheme", "http://", "(prompt)"},
    {"a bare scheme and blanks", "https://  \r\n", "(prompt)"},
    {"no host: a slash", "https:///", "(prompt)"},
    {"no host: a query", "https://?x", "(prompt)"},
    {"no host: a user part", "https://@", "(prompt)"},
    {"a host after three slashes", "https:///a.example/", "https:///a.example/"},
    {"TAB deleted before the placeholder test", "https://a.example/.inv\talid", "(prompt)"},
    {"blank and quote opened encoded", "https://a.example/x --a=\"b\"", "https://a.example/x%20--a=%22b%22"},
    {"empty file", "", "(prompt)"},
    {"a port past 65535", "https://a.example:99999/", "(prompt)"},
    {"Shift held: the prompt, file unread", "https://a.example/", "(prompt)", true},
  };
  memset(g_builtInSlot, ' ', kSlotLength);
  memcpy(g_builtInSlot, "https://tarvo.invalid/", 22);
  for (const Case& c : cases) {
    ResetFakeWin32();
    g_fake.shellResults = {33};
    g_fake.shiftHeld = c.shiftHeld;
    mkdir("appdata/Tarvo", 0755);
    Write("appdata/Tarvo/url.txt", c.bytes);
    EXPECT_EQ(WinMain(FakeInstance(), nullptr, nullptr, 1), 0) << c.name;
    std::string launched = g_fake.shellCalls.empty() ? (g_fake.windows.empty() ? "(none)" : "(prompt)") : g_fake.shellCalls[0].parameters.substr(6);
    EXPECT_EQ(launched, c.expected) << c.name;
    EXPECT_EQ(Read("appdata/Tarvo/url.txt"), c.bytes) << c.name << ": a start never rewrites the file";
    std::vector<std::string> effects = {"RestrictDllSearch", "Read"};
    if (c.shiftHeld) effects.pop_back();
    if (!g_fake.shellCalls.empty()) effects.insert(effects.end(), {"LeaveWorkingFolder", "Launch"});
    EXPECT_EQ(g_fake.effects, effects) << c.name << ": the file is read before the working folder is left";
  }
}

TEST_F(SavedFile, FolderInPlaceOfTheFileGivesNoAddress) {
  mkdir("appdata/Tarvo", 0755);
  mkdir("appdata/Tarvo/url.txt", 0755);
  ClearAddress();
  LoadSavedAddress();
  EXPECT_STREQ(g_address, "");
}

TEST_F(SavedFile, SaveReplacesTheWholeFileWithoutLineEnd) {
  CopyToAddress("https://new.example/", kAddressLength);
  SaveAddress();
  EXPECT_EQ(Read("appdata/Tarvo/url.txt"), "https://new.example/");
  Write("appdata/Tarvo/url.txt", "https://old.example/a/much/longer/path\r\n");
  SaveAddress();
  EXPECT_EQ(Read("appdata/Tarvo/url.txt"), "https://new.example/");
  EXPECT_EQ(Entries("appdata/Tarvo"), "url.txt ");
  unsetenv("APPDATA");
  SaveAddress();
  EXPECT_EQ(Read("tarvo.url"), "https://new.example/");
}

TEST_F(SavedFile, FailedSaveLeavesTheOldFileIntact) {
  struct Case { const char* name; void (*script)(); DWORD minimumWaitMs; };
  const Case cases[] = {
    {"temporary file cannot be opened", [] { g_fake.failOpenToWrite = true; }, 0},
    {"write fails", [] { g_fake.failWrite = true; }, 0},
    {"close fails", [] { g_fake.failClose = true; }, 0},
    {"replace fails", [] { g_fake.moveErrors = {ERROR_FILE_NOT_FOUND}; }, 0},
    {"file stays locked", [] { g_fake.moveErrors.assign(100, ERROR_SHARING_VIOLATION); }, 150},
  };
  for (const Case& c : cases) {
    mkdir("appdata/Tarvo", 0755);
    Write("appdata/Tarvo/url.txt", "https://old.example/");
    ResetFakeWin32();
    c.script();
    CopyToAddress("https://new.example/with/a/longer/path", kAddressLength);
    SaveAddress();
    EXPECT_EQ(Read("appdata/Tarvo/url.txt"), "https://old.example/") << c.name;
    EXPECT_EQ(Entries("appdata/Tarvo"), "url.txt ") << c.name << ": temporary file removed";
    EXPECT_GE(g_fake.sleptMs, c.minimumWaitMs) << c.name;
    EXPECT_LE(g_fake.sleptMs, 250u) << c.name;
  }
}

TEST_F(SavedFile, BriefLockIsWaitedOut) {
  g_fake.moveErrors = {ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION};
  CopyToAddress("https://new.example/", kAddressLength);
  SaveAddress();
  EXPECT_EQ(Read("appdata/Tarvo/url.txt"), "https://new.example/");
  EXPECT_EQ(g_fake.moveTargets.size(), 4u);
}

TEST_F(SavedFile, FolderThatCannotBeCreatedWritesNothing) {
  g_fake.failFolder = true;
  CopyToAddress("https://new.example/", kAddressLength);
  SaveAddress();
  EXPECT_EQ(Read("appdata/Tarvo/url.txt"), "(missing)");
}
