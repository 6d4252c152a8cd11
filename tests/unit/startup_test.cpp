// The start-up decisions, source by source, observed through the launch chain's first call.
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "address/address.h"
#include "fake_win32.h"
#include "startup/startup.h"
#include "tag/tag_field.h"
#include "temporary_folder.h"
#include "../../tools/stamp/tag.h"


static void SetSlot(const std::string& text) {
  memset(g_builtInSlot, ' ', kSlotLength);
  memcpy(g_builtInSlot, text.data(), text.size() < kSlotLength ? text.size() : kSlotLength);
  g_builtInSlot[kSlotLength] = '\0';
}

// Returns the address handed to the first browser, or "(prompt)" when the prompt was shown.
// The tail follows a quoted program name and blanks, as the C runtime cuts them off.
static std::string Start(const std::u16string& tail, const std::string& slot, bool shiftHeld = false) {
  ResetFakeWin32();
  g_fake.shellResults = {33};
  g_fake.shiftHeld = shiftHeld;
  g_fake.commandLine = u"\"C:\\Program Files\\Tar\"vo.exe \t " + tail;
  SetSlot(slot);
  memset(g_address, 'x', kAddressLength);
  EXPECT_EQ(WinMain(FakeInstance(), nullptr, nullptr, 1), 0);
  EXPECT_EQ(g_fake.effects.at(0), "RestrictDllSearch") << "before anything else";
  EXPECT_EQ(g_fake.dllSearch, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (g_fake.shellCalls.empty()) return g_fake.windows.empty() ? "(none)" : "(prompt)";
  EXPECT_EQ(g_fake.shellCalls.size(), 1u);
  return g_fake.shellCalls[0].parameters.substr(strlen("--app="));
}

TEST(StartUp, ChoosesTheFirstSourceThatYieldsAnAddress) {
  const std::string placeholder = "https://tarvo.invalid/";
  const std::string longTail = "https://a.example/" + std::string(600, 'z');
  struct Case { const char* name; const char* tail; std::string slot; std::string expected; bool shiftHeld = false; };
  const Case cases[] = {
    {"blanks after the name are skipped", " https://a.example/", placeholder, "https://a.example/"},
    {"tail with blanks", "https://a.example/d \r\n", placeholder, "https://a.example/d"},
    {"tail keeps .invalid", "https://x.invalid/", "https://slot.example/", "https://x.invalid/"},
    {"exactly http://", "http://", placeholder, "http://"},
    {"two arguments", "https://a.example/d second", placeholder, "https://a.example/d second"},
    {"511-byte cut", longTail.c_str(), placeholder, longTail.substr(0, 511)},
    {"null tail uses slot", "", "https://slot.example/", "https://slot.example/"},
    {"upper-case scheme uses slot", "HTTPS://a.example/", "https://slot.example/", "https://slot.example/"},
    {"leading quote uses slot", "\"https://a.example/\"", "https://slot.example/", "https://slot.example/"},
    {"http slot", "", "http://slot.example/", "http://slot.example/"},
    {"slot with leading blank", "", " https://slot.example/", "(prompt)"},
    {"slot placeholder", "", placeholder, "(prompt)"},
    {"marker in the padding", "", std::string("https://slot.example/") + std::string(150, ' ') + ".invalid", "(prompt)"},
    {"full slot", "", "https://" + std::string(172, 's'), "https://" + std::string(172, 's')},
    {"Shift leaves a command-line address alone", "https://a.example/", placeholder, "https://a.example/", true},
    {"Shift leaves a built-in address alone", "", "https://slot.example/", "https://slot.example/", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Start(std::u16string(c.tail, c.tail + strlen(c.tail)), c.slot, c.shiftHeld), c.expected) << c.name;
  // Outside ASCII, escapes of UTF-8, whole or not at all: never a best-fit blank, quote or slash.
  const std::u16string nearlyFull = u"https://a.example/" + std::u16string(490, u'z');
  const std::pair<std::u16string, std::string> wide[] = {
    {u"https://a.example/a\x3000--x=\xFF02y\x2215", "https://a.example/a%E3%80%80--x=%EF%BC%82y%E2%88%95"},
    {u"https://a.example/\U0001F600" + std::u16string(1, u'\xD800') + u"x", "https://a.example/%F0%9F%98%80%EF%BF%BDx"},
    {nearlyFull + u"\x3000", std::string(nearlyFull.begin(), nearlyFull.end())},
  };
  for (const auto& [tail, expected] : wide) EXPECT_EQ(Start(tail, placeholder), expected);
}

// A stamped slot is trusted only as far as its 180 characters.
TEST(StartUp, SlotIsReadWithinItsField) {
  struct Case { const char* name; std::string slot; size_t launchedLength; };
  const Case cases[] = {
    {"marker in the last characters", "https://" + std::string(164, 'q') + ".invalid", 0},
    {"marker straddling the end", "https://" + std::string(168, 'q') + ".inv", 180},
  };
  for (const Case& c : cases) {
    SetSlot(c.slot);
    g_builtInSlot[kSlotLength] = 'a';  // an unterminated field must not be read past
    ResetFakeWin32();
    g_fake.shellResults = {33};
    WinMain(FakeInstance(), nullptr, nullptr, 1);
    size_t launched = g_fake.shellCalls.empty() ? 0 : g_fake.shellCalls[0].parameters.size() - 6;
    EXPECT_EQ(launched, c.launchedLength) << c.name;
  }
}

// The download tag: read from the launcher's own file, at the certificate table its headers
// name, and appended only when it is well formed and the built-in address closes its host.
class DownloadTag : public InTemporaryFolder {};

TEST_F(DownloadTag, AppendsOnlyAWellFormedTagToAClosedHost) {
  const std::string marker(reinterpret_cast<const char*>(kTagMarker), sizeof kTagMarker);
  auto field = [&](const std::string& text) { return marker + text + std::string(kTagLength - text.size(), ' '); };
  const std::string desk = "https://desk.example.org/", longest(kTagLength, 'x');
  const uint32_t kOffset = 0x400, kOwnSize = 0, kAbsent = 0xFFFFFFFF;
  struct Case { const char* name; std::string slot, table; uint32_t size; std::string launched; bool readsFile; };
  const Case cases[] = {
    {"a tag", desk, "signature" + field("mia") + "more", kOwnSize, desk + "mia", true},
    {"64 characters of every kind", desk + "app/", field(longest.substr(0, 60) + "Z9-_"), kOwnSize,
     desk + "app/" + longest.substr(0, 60) + "Z9-_", true},
    {"a blank field", desk, field(""), kOwnSize, desk, true},
    {"a '/' in the field", desk, field("mi/a"), kOwnSize, desk, true},
    {"a byte after the padding", desk, marker + "mia" + std::string(kTagLength - 4, ' ') + "x", kOwnSize, desk, true},
    {"two fields", desk, field("mia") + field("bob"), kOwnSize, desk, true},
    {"a tag in an option's shape", desk, field("-h"), kOwnSize, desk, true},
    {"a field beyond the first 32 KiB", desk, std::string(kTagWindow, 's') + field("mia"), kOwnSize, desk, true},
    {"a field ending exactly at 32 KiB", desk, std::string(kTagWindow - field("").size(), 's') + field("mia"), kOwnSize,
     desk + "mia", true},
    {"a field ending a byte past 32 KiB", desk, std::string(kTagWindow - field("").size() + 1, 's') + field("mia"),
     kOwnSize, desk, true},
    {"one field within 32 KiB, one beyond", desk, field("mia") + std::string(kTagWindow, 's') + field("bob"), kOwnSize,
     desk + "mia", true},
    {"the host left open", "https://desk.example.org", field("mia"), kOwnSize, "https://desk.example.org", false},
    {"a page, not a folder", desk + "me", field("mia"), kOwnSize, desk + "me", false},
    {"no certificate table", desk, field("mia"), kAbsent, desk, false},
    {"a table cut short by the file's end", desk, field("mia"), 4096, desk, true},
  };
  for (const Case& c : cases) {
    ResetFakeWin32();
    g_fake.shellResults = {33};
    g_fake.moduleFile = "Tarvo.exe";
    Write("Tarvo.exe", std::string(kOffset, 'Z') + c.table);
    SetSlot(c.slot);
    const uint32_t size = c.size == kOwnSize ? static_cast<uint32_t>(c.table.size()) : c.size == kAbsent ? 0 : c.size;
    EXPECT_EQ(WinMain(FakeInstance(size ? kOffset : 0, size), nullptr, nullptr, 1), 0);
    ASSERT_EQ(g_fake.shellCalls.size(), 1u) << c.name;
    EXPECT_EQ(g_fake.shellCalls[0].parameters, "--app=" + c.launched) << c.name;
    EXPECT_EQ(g_fake.openedToRead.size(), c.readsFile ? 1u : 0u) << c.name;
    // tarvo-stamp's --show reads by the same rule; it never sees a table its check refuses.
    if (size > c.table.size()) continue;
    const std::string file = std::string(kOffset, 'Z') + c.table;
    PeLayout pe;
    pe.certificateOffset = kOffset, pe.certificateSize = size;
    const std::string tag = ReadTag(Image(file.begin(), file.end()), pe);
    EXPECT_EQ(TakesTag(c.slot.c_str()) ? c.slot + tag : c.slot, c.launched) << c.name << ": tarvo-stamp";
  }
}
