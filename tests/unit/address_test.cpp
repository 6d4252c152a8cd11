// The text rules of the address buffer.
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "address/address.h"

static std::string Trimmed(const std::string& text) {
  CopyToAddress(text.c_str(), text.size());
  TrimAddress();
  return g_address;
}

TEST(AddressRules, TrimRemovesLeadingAndTrailingBlankSetsOnly) {
  struct Case { const char* name; const char* input; const char* expected; };
  const Case cases[] = {
    {"both ends", "\t https://a.example/x \r\n", "https://a.example/x"},
    {"trailing tab kept", "https://a.example/x\t", "https://a.example/x\t"},
    {"space after tab lost", "https://a.example/x\t ", "https://a.example/x\t"},
    {"blanks only", " \t\r\n ", ""},
    {"inner blank kept", "https://a.example/x more", "https://a.example/x more"},
    {"empty", "", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(Trimmed(c.input), c.expected) << c.name;
}

TEST(AddressRules, SchemeAndPlaceholderTests) {
  struct Case { const char* text; bool scheme; bool placeholder; };
  const Case cases[] = {
    {"https://a.example/", true, false},
    {"http://", true, false},
    {"HTTPS://a.example/", false, false},
    {"ftp://a.example/", false, false},
    {" https://a.example/", false, false},
    {"https:/", false, false},
    {"https://a.example/?q=.invalid", true, true},
    {"https://tarvo.invalid/", true, true},
    {"https://a.example/.INVALID", true, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HasScheme(c.text), c.scheme) << c.text;
    EXPECT_EQ(IsPlaceholder(c.text, strlen(c.text)), c.placeholder) << c.text;
  }
  EXPECT_FALSE(IsPlaceholder("https://a.invalid", 16)) << "marker cut by the limit";
}

// What a browser's URL parser would find: slashes after the scheme skipped, the host ends at
// '/', '\', '?' or '#', less a user part and a port.
TEST(AddressRules, HostFollowsTheScheme) {
  struct Case { std::string text; bool host; };
  const Case cases[] = {
    {"https://desk.example.org/me", true},
    {"https:///desk.example.org", true},
    {"https://\\desk.example.org", true},
    {"http://x", true},
    {"https://a:b@host:8443/p", true},
    {"https://[::1]/", true},
    {"https://" + std::string(503, 'h'), true},
    {"https://", false},
    {"http://", false},
    {"https:///", false},
    {"https:////", false},
    {"https://?x", false},
    {"https://#a", false},
    {"https://@", false},
    {"https://me@", false},
    {"https://a@b@/x", false},
    {"https://:443", false},
    {"https://me@:443/p", false},
    {"https://" + std::string(503, '/'), false},
    {"desk.example.org", false},
    {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(HasHost(c.text.c_str()), c.host) << c.text.substr(0, 30);
}

TEST(AddressRules, BoundedCopyNeverFillsTheLastByte) {
  std::string longText(700, 'a');
  memset(g_address, 'x', sizeof g_address);
  CopyToAddress(longText.c_str(), longText.size());
  EXPECT_EQ(strlen(g_address), static_cast<size_t>(kAddressLength));
  CopyToAddress("https://a", 3);
  EXPECT_STREQ(g_address, "htt");
  EXPECT_EQ(g_address[kAddressLength], '\0');
}

TEST(AddressRules, CompleteSchemeKeepsAtMost511Characters) {
  struct Case { std::string typed; std::string expected; };
  const Case cases[] = {
    {"", "https://"},
    {"a.example/desk", "https://a.example/desk"},
    {"HTTPS://a.example/", "https://a.example/"},
    {"hTtP:\\/a.example/", "http://a.example/"},
    {"https:", "https://"},
    {"httpx://a.example/", "https://httpx://a.example/"},
    {std::string(511, 'b'), "https://" + std::string(503, 'b')},
  };
  for (const Case& c : cases) {
    CopyToAddress(c.typed.c_str(), c.typed.size());
    CompleteScheme();
    EXPECT_EQ(std::string(g_address), c.expected) << c.typed.substr(0, 20);
    EXPECT_TRUE(HasScheme(g_address));
  }
}

TEST(AddressRules, EncodeLeavesOneArgumentWithinTheBuffer) {
  struct Case { const char* name; std::string text; std::string expected; };
  const std::string nearlyFull(509, 'n');
  const Case cases[] = {
    {"blank and switch", "https://a.example/x --user-agent=I", "https://a.example/x%20--user-agent=I"},
    {"quote", "https://a.example/\"q", "https://a.example/%22q"},
    {"TAB, LF and CR deleted", "https://a.\texample/\r\n.inv\talid", "https://a.example/.invalid"},
    {"controls and DEL", std::string("https://a/\x01\x1f\x7f", 13), "https://a/%01%1F%7F"},
    {"percent and high bytes kept", "https://a/%20\xc3\xa9~", "https://a/%20\xc3\xa9~"},
    {"already encoded is unchanged", "https://a/%22%20", "https://a/%22%20"},
    {"escape that would not fit is dropped whole", nearlyFull + " x", nearlyFull},
    {"byte after a fitting escape is cut", nearlyFull.substr(1) + " xy", nearlyFull.substr(1) + "%20"},
  };
  for (const Case& c : cases) {
    CopyToAddress(c.text.c_str(), c.text.size());
    EncodeAddress();
    EXPECT_EQ(std::string(g_address), c.expected) << c.name;
    EncodeAddress();
    EXPECT_EQ(std::string(g_address), c.expected) << c.name << ": twice";
  }
}

TEST(AddressRules, FormatTextCutsAndReportsIt) {
  char out[8];
  EXPECT_TRUE(FormatText(out, sizeof out, "%s", "1234567"));
  EXPECT_STREQ(out, "1234567");
  EXPECT_FALSE(FormatText(out, sizeof out, "%s", "12345678"));
  EXPECT_STREQ(out, "1234567");
}
