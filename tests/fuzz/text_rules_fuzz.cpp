// The text rules on arbitrary bytes, checked against plain reference definitions.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "address/address.h"

static void Require(bool condition) {
  if (!condition) abort();
}

static bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The host rule read plainly: slashes skipped, the authority cut at '/', '\\', '?' or '#',
// the user part and the port taken away.
static bool HasHostByReference(const std::string& text) {
  if (!StartsWith(text, "https://") && !StartsWith(text, "http://")) return false;
  std::string rest = text.substr(StartsWith(text, "https://") ? 8 : 7);
  rest.erase(0, rest.find_first_not_of("/\\"));
  std::string authority = rest.substr(0, rest.find_first_of("/\\?#"));
  if (authority.rfind('@') != std::string::npos) authority.erase(0, authority.rfind('@') + 1);
  return !authority.substr(0, authority.find(':')).empty();
}

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
  Require(HasHost(g_address) == HasHostByReference(trimmed));

  AddHttps();
  Require(strlen(g_address) <= static_cast<size_t>(kAddressLength));
  Require(HasScheme(g_address));
  Require(g_address == ("https://" + trimmed).substr(0, kAddressLength));

  EncodeAddress();
  const std::string encoded = g_address;
  for (unsigned char c : encoded) Require(c > ' ' && c != '"' && c != 0x7F);
  Require(HasScheme(g_address));
  EncodeAddress();
  Require(encoded == g_address);
  return 0;
}
