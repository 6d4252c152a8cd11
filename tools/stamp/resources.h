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
std::string ReadResources(const Image& image, std::vector<Resource>* resources);
std::string WriteResources(Image& image, const std::vector<Resource>& resources);
