// The launch chain's shell calls, against scripted shell results.
#include <string.h>

#include <gtest/gtest.h>

#include "address/address.h"
#include "fake_win32.h"
#include "launch/launch.h"

TEST(LaunchChain, StopsAtTheFirstResultAbove32) {
  struct Case { const char* name; std::vector<INT_PTR> results; std::vector<std::string> files; };
  const Case cases[] = {
    {"edge starts", {33}, {"msedge"}},
    {"32 is a failure", {32, 42}, {"msedge", "chrome"}},
    {"below 32", {2, 2, 2}, {"msedge", "chrome", "https://a.example/x y"}},
    {"negative", {-5, -1, 0}, {"msedge", "chrome", "https://a.example/x y"}},
  };
  for (const Case& c : cases) {
    ResetFakeWin32();
    g_fake.shellResults = c.results;
    CopyToAddress("https://a.example/x y", kAddressLength);
    LaunchAddress();
    ASSERT_EQ(g_fake.shellCalls.size(), c.files.size()) << c.name;
    for (size_t i = 0; i < c.files.size(); i++) {
      const ShellCall& call = g_fake.shellCalls[i];
      EXPECT_EQ(call.file, c.files[i]) << c.name;
      EXPECT_EQ(call.verb, "open") << c.name;
      EXPECT_EQ(call.showCommand, SW_SHOWNORMAL) << c.name;
      EXPECT_FALSE(call.hasOwner || call.hasDirectory) << c.name;
      bool browser = i < 2;
      EXPECT_EQ(call.hasParameters, browser) << c.name;
      if (browser) {
        EXPECT_EQ(call.parameters, "--app=https://a.example/x y") << c.name;
      }
    }
    EXPECT_STREQ(g_address, "https://a.example/x y") << c.name;
  }
}

TEST(LaunchChain, LongestAddressIsNeverCut) {
  ResetFakeWin32();
  std::string address = "http://" + std::string(504, 'p');
  CopyToAddress(address.c_str(), address.size());
  LaunchAddress();
  ASSERT_FALSE(g_fake.shellCalls.empty());
  EXPECT_EQ(g_fake.shellCalls[0].parameters, "--app=" + address);
}

// A planted msedge.exe in the working folder (Downloads) must never be found by the shell.
TEST(LaunchChain, LeavesTheWorkingFolderForTheSystemFolderFirst) {
  for (bool systemFolderKnown : {true, false}) {
    ResetFakeWin32();
    g_fake.failSystemFolder = !systemFolderKnown;
    g_fake.shellResults = {33};
    CopyToAddress("https://a.example/", kAddressLength);
    LaunchAddress();
    std::vector<std::string> effects = {"LeaveWorkingFolder", "Launch"};
    if (!systemFolderKnown) effects.erase(effects.begin());
    EXPECT_EQ(g_fake.effects, effects) << systemFolderKnown;
    EXPECT_EQ(g_fake.workingFolder, systemFolderKnown ? "C:\\Windows\\system32" : "") << systemFolderKnown;
    EXPECT_EQ(g_fake.shellCalls.size(), 1u) << systemFolderKnown;
  }
}
