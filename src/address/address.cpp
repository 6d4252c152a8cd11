// Text rules for the address buffer: bounded copy, trim, scheme and placeholder tests.
// Everything here works within the sizes it is given; nothing reads past them.
#include "address.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

char g_address[kAddressSize];

static const char kHttps[] = "https://";
static const char kHttp[] = "http://";
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

// strncmp stops at the text's NUL, so a short text is never read past its end.
bool HasScheme(const char* text) {
  return strncmp(text, kHttps, sizeof kHttps - 1) == 0 ||
         strncmp(text, kHttp, sizeof kHttp - 1) == 0;
}

bool HasHost(const char* text) {
  if (!HasScheme(text)) return false;
  const char* authority = text + (text[4] == 's' ? sizeof kHttps : sizeof kHttp) - 1;
  authority += strspn(authority, "/\\");
  const char* end = authority + strcspn(authority, "/\\?#");
  const char* host = authority;
  for (const char* c = authority; c < end; c++)
    if (*c == '@') host = c + 1;
  return host < end && *host != ':';
}

bool IsPlaceholder(const char* text, size_t maxLength) {
  const size_t markerLength = sizeof kPlaceholder - 1;
  for (size_t at = 0; at + markerLength <= maxLength && text[at] != '\0'; at++)
    if (strncmp(text + at, kPlaceholder, markerLength) == 0) return true;
  return false;
}

void AddHttps() {
  char scratch[kAddressSize];
  FormatText(scratch, sizeof scratch, "%s%s", kHttps, g_address);
  CopyToAddress(scratch, sizeof scratch);
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
    if (needed == 1) {
      scratch[out++] = *in;
      continue;
    }
    scratch[out++] = '%';
    scratch[out++] = kHex[c >> 4];
    scratch[out++] = kHex[c & 0xF];
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
