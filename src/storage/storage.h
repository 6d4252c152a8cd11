// The saved-address file: the address a user typed, remembered per user.
// "%APPDATA%\Tarvo\url.txt", or "tarvo.url" in the working directory when APPDATA is
// missing, empty or too long; the address alone, no line end.
#pragma once

constexpr int kPathSize = 260;  // MAX_PATH: the narrow file functions take no longer path

// Fills g_address from the file's first line, trimmed; leaves it untouched when the file
// cannot be read or is empty. The caller judges what it got.
void LoadSavedAddress();
// Replaces the file with g_address in one step; on any failure the old file stays as it was.
void SaveAddress();
