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

TEST(AddressRules, BoundedCopyNeverFillsTheLastByte) {
  std::string longText(700, 'a');
  memset(g_address, 'x', sizeof g_address);
  CopyToAddress(longText.c_str(), longText.size());
  EXPECT_EQ(strlen(g_address), static_cast<size_t>(kAddressLength));
  CopyToAddress("https://a", 3);
  EXPECT_STREQ(g_address, "htt");
  EXPECT_EQ(g_address[kAddressLength], '\0');
}

TEST(AddressRules, AddHttpsKeepsAtMost511Characters) {
  struct Case { std::string typed; std::string expected; };
  const Case cases[] = {
    {"", "https://"},
    {"a.example/desk", "https://a.example/desk"},
    {"HTTPS://a.example/", "https://HTTPS://a.example/"},
    {std::string(511, 'b'), "https://" + std::string(503, 'b')},
  };
  for (const Case& c : cases) {
    CopyToAddress(c.typed.c_str(), c.typed.size());
    AddHttps();
    EXPECT_EQ(std::string(g_address), c.expected) << c.typed.substr(0, 20);
    EXPECT_TRUE(HasScheme(g_address));
  }
}

TEST(AddressRules, FormatTextCutsAndReportsIt) {
  char out[8];
  EXPECT_TRUE(FormatText(out, sizeof out, "%s", "1234567"));
  EXPECT_STREQ(out, "1234567");
  EXPECT_FALSE(FormatText(out, sizeof out, "%s", "12345678"));
  EXPECT_STREQ(out, "1234567");
}
