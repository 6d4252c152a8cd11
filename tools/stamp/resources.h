// The resource section of a launcher: read into a flat list, and rebuilt at its own address
// in the linker's layout, with .reloc moved after it and the headers that follow it.
#pragma once
#include "pe_image.h"

enum ResourceType { kRtIcon = 3, kRtGroupIcon = 14, kRtVersion = 16 };

struct Resource {
  uint32_t type, id, language;
  Image data;
};

// In the directory's order: by type, then id, then language. Each returns an error message,
// or an empty string on success.
// Both work on the layout that ReadPe accepted; after WriteResources it is out of date but
// for the headers, which stay where they were. ReadResources reads a signed image too;
// WriteResources refuses one.
std::string ReadResources(const Image& image, const PeLayout& pe, std::vector<Resource>* resources);
std::string WriteResources(Image& image, const PeLayout& pe, const std::vector<Resource>& resources);
