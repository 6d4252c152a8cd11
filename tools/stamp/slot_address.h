// What may be built into a launcher's address slot: the one rule for tarvo-stamp and for the
// build's check of TARVO_ADDRESS, which compiles this file on its own.
#pragma once
#include <stddef.h>

#include <string>

constexpr size_t kSlotLength = 180;

// An error message, or an empty string when the slot may hold the address.
std::string CheckAddress(const std::string& address);
