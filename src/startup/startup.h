// The launcher's entry: decides which address to open, in a fixed order of sources.
#pragma once

constexpr int kSlotLength = 180;  // characters of the built-in address, blank-padded

// The built-in address slot, filled by the build (or a stamp tool) and only ever read here.
extern char g_builtInSlot[kSlotLength + 1];
