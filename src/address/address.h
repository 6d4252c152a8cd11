// The process-wide address buffer and the text rules every address passes through.
// Owns g_address; every other module reads or fills it through these procedures. HasScheme
// and HasHost (host.cpp) need neither the buffer nor the platform: tarvo-stamp and the
// build's address check compile them too.
#pragma once
#include <stddef.h>

constexpr int kAddressSize = 512;            // 511 characters and the NUL
constexpr int kAddressLength = kAddressSize - 1;
constexpr char kHttps[] = "https://";
constexpr char kHttp[] = "http://";

// The address being decided on or opened; its last byte is never anything but NUL.
extern char g_address[kAddressSize];

// Copies at most min(maxLength, 511) bytes of text, NUL-filling the rest like strncpy.
void CopyToAddress(const char* text, size_t maxLength);
void ClearAddress();
// Leading blanks are TAB, LF, CR, space; trailing ones only LF, CR, space.
void TrimAddress();
// "https://" or "http://", byte for byte; nothing after the prefix is examined.
bool HasScheme(const char* text);
// Whether a host that a browser can open follows the scheme, by the URL Standard's parsing
// for http and https: '/' and '\' after the scheme skipped, a user part and a port (digits, at
// most 65535) taken away; a name percent-decoded and free of the characters no host may hold,
// a number read as an IPv4 address, an IPv6 literal in brackets. Bytes outside ASCII are left
// to the browser. Without such a host no page can ever open.
bool HasHost(const char* text);
// ".invalid" anywhere within the first maxLength bytes, case-sensitive.
bool IsPlaceholder(const char* text, size_t maxLength);
// For typed entries: "https:" or "http:" in any case, then any slashes or backslashes,
// becomes "https://" or "http://"; any other text gets "https://" in front. Cut to 511
// characters. False when the text began with another scheme and a slash or backslash
// ("ftp://", "file:///", a drive's "C:" and a backslash), which names no web page.
bool CompleteScheme();
// Copies UTF-16 text, each character outside ASCII as its UTF-8 bytes in %XX escapes (a lone
// surrogate as U+FFFD's), at most 511 bytes and never part of a character, NUL-filling the rest.
void CopyWideToAddress(const wchar_t* text);
// Makes the address one browser argument, as a URL parser would: deletes TAB, LF and CR,
// writes other controls, the blank, '"' and DEL as %XX. Idempotent; an escape is never cut.
void EncodeAddress();

// Size-limited formatting that always terminates; false when the output was cut.
bool FormatText(char* out, size_t outSize, const char* format, ...);
