// The process-wide address buffer and the text rules every address passes through.
// Owns g_address; every other module reads or fills it through these procedures.
#pragma once
#include <stddef.h>

constexpr int kAddressSize = 512;            // 511 characters and the NUL
constexpr int kAddressLength = kAddressSize - 1;

// The address being decided on or opened; its last byte is never anything but NUL.
extern char g_address[kAddressSize];

// Copies at most min(maxLength, 511) bytes of text, NUL-filling the rest like strncpy.
void CopyToAddress(const char* text, size_t maxLength);
void ClearAddress();
// Leading blanks are TAB, LF, CR, space; trailing ones only LF, CR, space.
void TrimAddress();
// "https://" or "http://", byte for byte; nothing after the prefix is examined.
bool HasScheme(const char* text);
// Whether a host follows the scheme, as a browser's URL parser finds it: any '/' and '\'
// after the scheme skipped, the host runs up to '/', '\', '?' or '#', less a user part (up to
// the last '@') and a port (from the first ':'). Without one no page can ever open.
bool HasHost(const char* text);
// ".invalid" anywhere within the first maxLength bytes, case-sensitive.
bool IsPlaceholder(const char* text, size_t maxLength);
// For typed entries that lack a scheme; the result is cut to 511 characters.
void AddHttps();
// Makes the address one browser argument, as a URL parser would: deletes TAB, LF and CR,
// writes other controls, the blank, '"' and DEL as %XX. Idempotent; an escape is never cut.
void EncodeAddress();

// Size-limited formatting that always terminates; false when the output was cut.
bool FormatText(char* out, size_t outSize, const char* format, ...);
