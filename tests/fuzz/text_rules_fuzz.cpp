// The text rules on arbitrary bytes, checked against plain reference definitions.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>
#include <vector>

#include "address/address.h"

static void Require(bool condition) {
  if (!condition) abort();
}

static bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');  // a heap copy, so reading past the text is caught
  CopyToAddress(text.data(), size);
  Require(memchr(g_address, '\0', kAddressSize) != nullptr);
  TrimAddress();
  const std::string trimmed = g_address;
  TrimAddress();
  Require(trimmed == g_address);
  Require(trimmed.empty() || !strchr("\t\n\r ", trimmed.front()));
  Require(trimmed.empty() || !strchr("\n\r ", trimmed.back()));

  const bool scheme = StartsWith(trimmed, "https://") || StartsWith(trimmed, "http://");
  Require(HasScheme(g_address) == scheme);
  Require(IsPlaceholder(g_address, kAddressSize) == (trimmed.find(".invalid") != std::string::npos));
  HasHost(g_address);  // judged against a browser's parser by the address rule's own test; here the sanitizers watch

  CompleteScheme();
  Require(strlen(g_address) <= static_cast<size_t>(kAddressLength));
  Require(HasScheme(g_address));
  const bool typedScheme = strncasecmp(trimmed.c_str(), "https:", 6) == 0 || strncasecmp(trimmed.c_str(), "http:", 5) == 0;
  if (!typedScheme) Require(g_address == ("https://" + trimmed).substr(0, kAddressLength));

  EncodeAddress();
  const std::string encoded = g_address;
  for (unsigned char c : encoded) Require(c > ' ' && c != '"' && c != 0x7F);
  Require(HasScheme(g_address));
  EncodeAddress();
  Require(encoded == g_address);
  return 0;
}
