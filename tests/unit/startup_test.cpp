// The start-up decisions, source by source, observed through the launch chain's first call.
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "address/address.h"
#include "fake_win32.h"
#include "startup/startup.h"


static void SetSlot(const std::string& text) {
  memset(g_builtInSlot, ' ', kSlotLength);
  memcpy(g_builtInSlot, text.data(), text.size() < kSlotLength ? text.size() : kSlotLength);
  g_builtInSlot[kSlotLength] = '\0';
}

// Returns the address handed to the first browser, or "(prompt)" when the prompt was shown.
static std::string Start(const char* tail, const std::string& slot) {
  ResetFakeWin32();
  g_fake.shellResults = {33};
  SetSlot(slot);
  memset(g_address, 'x', kAddressLength);
  EXPECT_EQ(WinMain(nullptr, nullptr, const_cast<char*>(tail), 1), 0);
  EXPECT_EQ(g_fake.effects.at(0), "RestrictDllSearch") << "before anything else";
  EXPECT_EQ(g_fake.dllSearch, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (g_fake.shellCalls.empty()) return g_fake.windows.empty() ? "(none)" : "(prompt)";
  EXPECT_EQ(g_fake.shellCalls.size(), 1u);
  return g_fake.shellCalls[0].parameters.substr(strlen("--app="));
}

TEST(StartUp, ChoosesTheFirstSourceThatYieldsAnAddress) {
  const std::string placeholder = "https://tarvo.invalid/";
  const std::string longTail = "https://a.example/" + std::string(600, 'z');
  struct Case { const char* name; const char* tail; std::string slot; std::string expected; };
  const Case cases[] = {
    {"other text uses slot", " https://a.example/", placeholder, "(prompt)"},
    {"tail with blanks", "https://a.example/d \r\n", placeholder, "https://a.example/d"},
    {"tail keeps .invalid", "https://x.invalid/", "https://slot.example/", "https://x.invalid/"},
    {"exactly http://", "http://", placeholder, "http://"},
    {"two arguments", "https://a.example/d second", placeholder, "https://a.example/d second"},
    {"511-byte cut", longTail.c_str(), placeholder, longTail.substr(0, 511)},
    {"null tail uses slot", nullptr, "https://slot.example/", "https://slot.example/"},
    {"upper-case scheme uses slot", "HTTPS://a.example/", "https://slot.example/", "https://slot.example/"},
    {"leading quote uses slot", "\"https://a.example/\"", "https://slot.example/", "https://slot.example/"},
    {"http slot", "", "http://slot.example/", "http://slot.example/"},
    {"slot with leading blank", "", " https://slot.example/", "(prompt)"},
    {"slot placeholder", "", placeholder, "(prompt)"},
    {"marker in the padding", "", std::string("https://slot.example/") + std::string(150, ' ') + ".invalid", "(prompt)"},
    {"full slot", "", "https://" + std::string(172, 's'), "https://" + std::string(172, 's')},
  };
  for (const Case& c : cases) EXPECT_EQ(Start(c.tail, c.slot), c.expected) << c.name;
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
    WinMain(nullptr, nullptr, nullptr, 1);
    size_t launched = g_fake.shellCalls.empty() ? 0 : g_fake.shellCalls[0].parameters.size() - 6;
    EXPECT_EQ(launched, c.launchedLength) << c.name;
  }
}
