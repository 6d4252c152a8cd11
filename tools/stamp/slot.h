// Finding and filling the built-in address slot of a built Tarvo.exe, without a compiler.
// The slot is the one 181-byte field in the .data section that holds "https://" or
// "http://", printable text, spaces up to 180 characters, and a NUL.
#pragma once
#include "pe_image.h"
#include "slot_address.h"

// An error message, or an empty string when the one slot was found.
std::string FindSlot(const Image& image, const PeLayout& pe, size_t* slotOffset);

// The slot's text without its padding, and whether the launcher would open it.
std::string SlotAddress(const Image& image, size_t slotOffset);
bool LauncherUsesAddress(const std::string& address);

// Writes the address padded with spaces and keeps a non-zero header checksum right.
void StampSlot(Image& image, const PeLayout& pe, size_t slotOffset, const std::string& address);
