// Stamping a launcher, as a function over bytes in memory: the address into the slot, and
// optionally the user's icon and name into the resources. main only parses, reads and writes.
#pragma once
#include "icon.h"

struct Branding {
  bool hasIcon = false, hasName = false;
  std::vector<IconImage> images;  // from ReadIconFile
  std::u16string name;            // from CheckName
};

// Returns "" or why the launcher was refused; on a refusal the image is not to be used.
std::string StampLauncher(Image& image, const std::string& address, const Branding& branding, bool stripSignature);
