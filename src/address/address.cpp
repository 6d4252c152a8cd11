// Text rules for the address buffer: bounded copy, trim, scheme and placeholder tests.
// Everything here works within the sizes it is given; nothing reads past them.
#include "address.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

char g_address[kAddressSize];

static const char kPlaceholder[] = ".invalid";
static const char kHex[] = "0123456789ABCDEF";

void CopyToAddress(const char* text, size_t maxLength) {
  size_t limit = maxLength < kAddressLength ? maxLength : kAddressLength;
  strncpy(g_address, text, limit);
  memset(g_address + limit, 0, kAddressSize - limit);
}

void ClearAddress() { g_address[0] = '\0'; }

static bool IsLeadingBlank(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }
static bool IsTrailingBlank(char c) { return c == '\n' || c == '\r' || c == ' '; }

void TrimAddress() {
  size_t lead = 0;
  while (IsLeadingBlank(g_address[lead])) lead++;
  if (lead != 0) memmove(g_address, g_address + lead, strlen(g_address + lead) + 1);
  size_t length = strlen(g_address);
  while (length != 0 && IsTrailingBlank(g_address[length - 1])) g_address[--length] = '\0';
}

bool IsPlaceholder(const char* text, size_t maxLength) {
  const size_t markerLength = sizeof kPlaceholder - 1;
  for (size_t at = 0; at + markerLength <= maxLength && text[at] != '\0'; at++)
    if (strncmp(text + at, kPlaceholder, markerLength) == 0) return true;
  return false;
}

// As a browser's address bar reads a typed scheme: "http" or "https" in any case, then ':' and
// any number of slashes or backslashes, so a mistyped "HTTPS://" or "https:/" is never taken
// for a host. Another scheme followed by a slash ("ftp://", "file:///", a drive's "C:\")
// names no web page: it too gets "https://", and false says it is not to be remembered.
bool CompleteScheme() {
  const size_t scheme = strspn(g_address, "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-.");
  const bool named = scheme != 0 && g_address[scheme] == ':';
  bool web = named && (scheme == 4 || scheme == 5);
  // Within the scheme's characters, only 'H' and 'h' give 'h' with the lower-case bit set.
  for (size_t i = 0; web && i < scheme; i++) web = (g_address[i] | 0x20) == kHttps[i];
  const size_t slashes = strspn(g_address + scheme + named, "/\\");
  char scratch[kAddressSize];
  FormatText(scratch, sizeof scratch, "%s%s", scheme == 4 && web ? kHttp : kHttps,
             web ? g_address + scheme + 1 + slashes : g_address);
  CopyToAddress(scratch, sizeof scratch);
  return web || !named || slashes == 0;
}

static size_t PutEscape(unsigned char byte, char* out, size_t at) {
  out[at] = '%';
  out[at + 1] = kHex[byte >> 4];
  out[at + 2] = kHex[byte & 0xF];
  return at + 3;
}

// A character outside ASCII goes in as the %XX escapes of all its UTF-8 bytes, or, when they
// would not all fit, not at all.
void CopyWideToAddress(const wchar_t* text) {
  size_t at = 0;
  for (unsigned unit; (unit = static_cast<unsigned>(*text)) != 0; text++) {
    unsigned next = static_cast<unsigned>(text[1]);
    if (unit >= 0xD800 && unit < 0xDC00 && next >= 0xDC00 && next < 0xE000)
      unit = 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00), text++;
    else if (unit >= 0xD800 && unit < 0xE000)
      unit = 0xFFFD;
    const size_t count = unit < 0x80 ? 1 : unit < 0x800 ? 2 : unit < 0x10000 ? 3 : 4;
    if (at + (count == 1 ? 1 : 3 * count) > kAddressLength) break;
    if (count == 1) g_address[at++] = static_cast<char>(unit);
    for (size_t i = 0; count > 1 && i < count; i++) {
      const unsigned bits = unit >> 6 * (count - 1 - i);
      at = PutEscape(static_cast<unsigned char>(i == 0 ? 0xF0 << (4 - count) | bits : 0x80 | (bits & 0x3F)), g_address, at);
    }
  }
  memset(g_address + at, 0, kAddressSize - at);
}

static bool IsDeleted(unsigned char c) { return c == '\t' || c == '\n' || c == '\r'; }
static bool IsEscaped(unsigned char c) { return c <= ' ' || c == '"' || c == 0x7F; }

// A blank or a quote would end the address's argument and start a browser switch.
void EncodeAddress() {
  char scratch[kAddressSize];
  size_t out = 0;
  for (const char* in = g_address; *in != '\0'; in++) {
    unsigned char c = static_cast<unsigned char>(*in);
    if (IsDeleted(c)) continue;
    size_t needed = IsEscaped(c) ? 3 : 1;
    if (out + needed > kAddressLength) break;
    if (needed == 1) scratch[out++] = *in;
    else out = PutEscape(c, scratch, out);
  }
  scratch[out] = '\0';
  CopyToAddress(scratch, sizeof scratch);
}

// msvcrt's _vsnprintf leaves the text unterminated when it fills the buffer, so the
// last byte is kept back for the NUL; mingw's own C99 printf would add 25 KiB.
bool FormatText(char* out, size_t outSize, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int written = _vsnprintf(out, outSize - 1, format, arguments);
  va_end(arguments);
  out[outSize - 1] = '\0';
  return written >= 0;
}
