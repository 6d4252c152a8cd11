// A Windows .ico file made into icon group 1 and its images, as the resource compiler
// makes them from the same file.
#pragma once
#include "resources.h"

constexpr size_t kIconFileLimit = 1 << 20;
constexpr size_t kIconImageLimit = 64;

struct IconImage {
  uint8_t width, height, colours;
  uint16_t planes, bits;
  Image data;  // a PNG, or a bitmap without its file header
};

// Returns an error message, or an empty string when the file is a sound .ico: at most 1 MiB
// and 64 images that share no bytes, so the images too come to at most 1 MiB.
std::string ReadIconFile(const Image& file, std::vector<IconImage>* images);
// Every RT_ICON and group 1 give way to the images, numbered from 1 in the file's order.
void ReplaceIcon(std::vector<Resource>& resources, const std::vector<IconImage>& images);
// The pixel sizes that icon group 1 lists, in its order; empty without a group.
std::vector<unsigned> IconSizes(const std::vector<Resource>& resources);
