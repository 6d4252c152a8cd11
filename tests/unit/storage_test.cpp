// The saved-address file: where it lives, what a start makes of its bytes, and saving
// that never loses the address already remembered.
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "address/address.h"
#include "startup/startup.h"
#include "storage/storage.h"
#include "temporary_folder.h"

class SavedFile : public InTemporaryFolder {
 protected:
  static std::string Entries(const std::string& path) {
    std::string names;
    for (const char* name : {"url.txt", "url.txt.4d2"})
      if (access((path + "/" + name).c_str(), F_OK) == 0) names += std::string(name) + " ";
    return names;
  }
};

TEST_F(SavedFile, LocationNeverUsesACutPath) {
  struct Case { const char* name; int length; std::string file; std::string folder; };
  const std::string a245(245, 'a'), a246(246, 'a'), a253(253, 'a');
  const Case cases[] = {
    {"missing", -1, "tarvo.url", ".\\Tarvo"},
    {"empty", 0, "tarvo.url", "\\Tarvo"},
    {"one character", 1, "a\\Tarvo\\url.txt", "a\\Tarvo"},
    {"longest file path", 245, a245 + "\\Tarvo\\url.txt", a245 + "\\Tarvo"},
    {"file path would be cut", 246, "tarvo.url", a246 + "\\Tarvo"},
    {"longest folder path", 253, "tarvo.url", a253 + "\\Tarvo"},
    {"folder path would be cut", 254, "tarvo.url", ""},
    {"259", 259, "tarvo.url", ""},
    {"too long for the buffer", 260, "tarvo.url", ""},
    {"300", 300, "tarvo.url", ""},
  };
  for (const Case& c : cases) {
    ResetFakeWin32();
    if (c.length < 0) unsetenv("APPDATA"); else setenv("APPDATA", std::string(c.length, 'a').c_str(), 1);
    LoadSavedAddress();
    CopyToAddress("https://a.example/", kAddressLength);
    SaveAddress();
    ASSERT_EQ(g_fake.openedToRead.size(), 1u) << c.name;
    EXPECT_EQ(g_fake.openedToRead[0], c.file) << c.name;
    EXPECT_EQ(g_fake.folders.empty() ? "" : g_fake.folders[0], c.folder) << c.name;
    for (const std::string& path : g_fake.openedToWrite) {
      EXPECT_LE(path.size(), static_cast<size_t>(kPathSize - 1)) << c.name;
      EXPECT_EQ(path.rfind(c.file, 0), 0u) << c.name << ": saves beside the loaded file";
    }
  }
}

// What a start opens, given the saved file's bytes (the slot holds a placeholder).
TEST_F(SavedFile, StartOpensOnlyAValidFirstLine) {
  struct Case { const char* name; std::string bytes; std::string expected; };
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
    {"TAB deleted before the placeholder test", "https://a.example/.inv\talid", "(prompt)"},
    {"blank and quote opened encoded", "https://a.example/x --a=\"b\"", "https://a.example/x%20--a=%22b%22"},
    {"empty file", "", "(prompt)"},
  };
  memset(g_builtInSlot, ' ', kSlotLength);
  memcpy(g_builtInSlot, "https://tarvo.invalid/", 22);
  for (const Case& c : cases) {
    ResetFakeWin32();
    g_fake.shellResults = {33};
    mkdir("appdata/Tarvo", 0755);
    Write("appdata/Tarvo/url.txt", c.bytes);
    EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 1), 0) << c.name;
    std::string launched = g_fake.shellCalls.empty() ? (g_fake.windows.empty() ? "(none)" : "(prompt)") : g_fake.shellCalls[0].parameters.substr(6);
    EXPECT_EQ(launched, c.expected) << c.name;
    EXPECT_EQ(Read("appdata/Tarvo/url.txt"), c.bytes) << c.name << ": a start never rewrites the file";
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
