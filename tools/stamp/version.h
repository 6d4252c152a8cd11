// The launcher's name in its version block: "FileDescription" and "ProductName".
#pragma once
#include "resources.h"

constexpr size_t kNameCharacters = 64;  // the most a launcher's name may have

// UTF-8 text of 1 to 64 characters without control characters, as UTF-16. Returns an
// error message, or an empty string.
std::string CheckName(const std::string& name, std::u16string* utf16);
// Rewrites the version block with the name; the rest of it stays as it was.
std::string SetVersionName(std::vector<Resource>& resources, const std::u16string& name);
// Reads the code point at *at and moves past it; false for a malformed, overlong or surrogate one.
bool NextCodePoint(const std::string& text, size_t* at, uint32_t* point);
// The name in the version block's "FileDescription", as UTF-8; "" when there is none.
std::string VersionName(const std::vector<Resource>& resources);
// Windows' "File version" as Explorer shows it, the four numbers of the version block's fixed
// part; "" when there is no block or it has no fixed part.
std::string FileVersion(const std::vector<Resource>& resources);
