// Whether an address has a host a browser can open: the URL Standard's host parsing for
// http and https, as far as ASCII goes. No platform calls and no heap, so that the launcher,
// tarvo-stamp and the build's address check all compile this one source.
#include "address.h"

#include <stdint.h>
#include <string.h>

// strncmp stops at the text's NUL, so a short text is never read past its end.
bool HasScheme(const char* text) {
  return strncmp(text, kHttps, sizeof kHttps - 1) == 0 || strncmp(text, kHttp, sizeof kHttp - 1) == 0;
}

static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
static int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A host keeps none of these once decoded; every control byte is among them.
static bool IsForbiddenInDomain(unsigned char c) {
  return c <= ' ' || c == 0x7F || (c != '\0' && strchr("#%/:<>?@[\\]^|", c) != nullptr);
}

// One part of an IPv4 address, in decimal, octal ("0" first) or hex ("0x" first). Values are
// held at 2^32 once past it: no address can be that large, so the size alone then refuses it.
static bool ParseIpv4Number(const char* part, size_t length, uint64_t* value) {
  int radix = 10;
  if (length >= 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) radix = 16, part += 2, length -= 2;
  else if (length >= 2 && part[0] == '0') radix = 8, part += 1, length -= 1;
  *value = 0;
  for (size_t i = 0; i < length; i++) {
    int digit = HexValue(part[i]);
    if (digit < 0 || digit >= radix) return false;
    *value = *value > UINT32_MAX ? *value : *value * radix + digit;
  }
  return true;
}

// A name, unless its last label is a number: then an IPv4 address, up to four numbers between
// dots, each a byte but the last, which fills what the others leave.
static bool IsNameOrIpv4(const char* host, size_t length) {
  if (length != 0 && host[length - 1] == '.') length--;
  const char* end = host + length;
  uint64_t value = 0;
  bool bytesSoFar = true;  // every label before this one a number up to 255
  for (size_t parts = 1;; parts++) {
    const char* dot = host;
    bool digits = true;
    while (dot < end && *dot != '.') digits = IsDigit(*dot++) && digits;
    const bool parsed = host < dot && ParseIpv4Number(host, static_cast<size_t>(dot - host), &value);
    const bool lastIsNumber = host < dot && (digits || parsed);
    if (dot == end)
      return !lastIsNumber || (bytesSoFar && parsed && parts <= 4 && value < uint64_t{1} << 8 * (5 - parts));
    bytesSoFar = bytesSoFar && parsed && value <= 255;
    host = dot + 1;
  }
}

// Four numbers from 0 to 255 without leading zeros, as the last 32 bits of an IPv6 literal.
static bool IsEmbeddedIpv4(const char* c, const char* end) {
  for (int numbers = 0; numbers < 4; numbers++) {
    if (numbers > 0 && (c == end || *c++ != '.')) return false;
    if (c == end || !IsDigit(*c) || (*c == '0' && c + 1 < end && IsDigit(c[1]))) return false;
    int value = 0;
    while (c < end && IsDigit(*c) && value <= 255) value = value * 10 + (*c++ - '0');
    if (value > 255) return false;
  }
  return c == end;
}

// The text between an IPv6 literal's brackets: eight pieces of up to four hex digits, where
// one "::" stands for the zero pieces left out, and an IPv4 address may give the last two.
static bool IsIpv6(const char* c, const char* end) {
  int pieces = 0;
  bool compressed = false;
  if (c < end && *c == ':') {
    if (end - c < 2 || c[1] != ':') return false;
    c += 2, pieces = 1, compressed = true;
  }
  while (c < end) {
    if (pieces == 8) return false;
    if (*c == ':') {
      if (compressed) return false;
      c++, pieces++, compressed = true;
      continue;
    }
    int digits = 0;
    while (digits < 4 && c < end && HexValue(*c) >= 0) c++, digits++;
    if (c < end && *c == '.')
      return digits != 0 && pieces <= 6 && IsEmbeddedIpv4(c - digits, end) && (compressed || pieces + 2 == 8);
    // A piece ends the text, or a ':' that another piece follows.
    if (c < end && (*c != ':' || c + 1 == end)) return false;
    if (c < end) c++;
    pieces++;
  }
  return compressed || pieces == 8;
}

// A name is percent-decoded first, so an escape can hide nothing the browser would refuse.
// Bytes outside ASCII are left to the browser's international-name rules; a last label that
// is a number still makes the host an IPv4 address.
static bool IsDomain(const char* host, size_t length) {
  char decoded[kAddressSize];
  size_t out = 0;
  for (size_t i = 0; i < length; i++, out++) {
    if (out == sizeof decoded) return false;
    // Negative unless both digits are hex: -16 | low and high * 16 | -1 both are.
    const int escaped = host[i] == '%' && i + 2 < length ? HexValue(host[i + 1]) * 16 | HexValue(host[i + 2]) : -1;
    decoded[out] = escaped >= 0 ? static_cast<char>(escaped) : host[i];
    if (escaped >= 0) i += 2;
    if (IsForbiddenInDomain(static_cast<unsigned char>(decoded[out]))) return false;
  }
  return IsNameOrIpv4(decoded, out);
}

bool HasHost(const char* text) {
  if (!HasScheme(text)) return false;
  const char* authority = text + (text[4] == 's' ? sizeof kHttps : sizeof kHttp) - 1;
  authority += strspn(authority, "/\\");
  const char* end = authority + strcspn(authority, "/\\?#");
  const char* host = authority;
  for (const char* c = authority; c < end; c++)
    if (*c == '@') host = c + 1;
  // The host runs to the first ':' outside brackets; a port after it is digits, at most 65535.
  const char* hostEnd = host;
  for (bool bracketed = false; hostEnd < end && (bracketed || *hostEnd != ':'); hostEnd++)
    bracketed = *hostEnd == '[' ? true : *hostEnd == ']' ? false : bracketed;
  uint32_t port = 0;
  for (const char* c = hostEnd + 1; c < end; c++) {
    port = port * 10 + (*c - '0');
    if (!IsDigit(*c) || port > 65535) return false;
  }
  size_t length = static_cast<size_t>(hostEnd - host);
  if (length == 0) return false;
  if (*host == '[') return length >= 2 && host[length - 1] == ']' && IsIpv6(host + 1, host + length - 1);
  return IsDomain(host, length);
}
