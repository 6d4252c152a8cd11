// tarvo-stamp's readers on arbitrary bytes: the structural check, the slot, the resource tree,
// the icon file, the version block, stripping and tagging (which changes only the field and
// keeps a right checksum right). Nothing may be read or written outside a
// buffer (the sanitizers watch), nor take longer or allocate more than the test's limits (an
// amplification); and what the checks accept survives being written back: a stripped or
// rebuilt image passes the check again and reads back with the same resources.
#include <stdint.h>
#include <stdlib.h>

#include <algorithm>
#include <vector>

#include "../../tools/stamp/icon.h"
#include "../../tools/stamp/signature.h"
#include "../../tools/stamp/slot.h"
#include "../../tools/stamp/tag.h"
#include "../../tools/stamp/version.h"

static void Require(bool condition) {
  if (!condition) abort();
}

static bool Same(const std::vector<Resource>& a, const std::vector<Resource>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++)
    if (a[i].type != b[i].type || a[i].id != b[i].id || a[i].language != b[i].language || a[i].data != b[i].data)
      return false;
  return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Image input(data, data + size);
  const std::u16string name = u"A desk of 64 characters, as long as a name may be: 0123456789ab";
  std::vector<IconImage> images;
  if (ReadIconFile(input, &images).empty()) {
    size_t bytes = 0;
    for (const IconImage& image : images) bytes += image.data.size();
    Require(images.size() <= kIconImageLimit && bytes <= kIconFileLimit);
  }
  std::vector<Resource> block{{kRtVersion, 1, 1033, input}};
  if (SetVersionName(block, name).empty()) Require(block[0].data.size() <= 0xFFFF);

  Image image = input;
  PeLayout pe;
  if (!ReadPe(image, &pe).empty()) return 0;
  Image tagged = input;
  if (WriteTag(tagged, "fuzzed-tag_1").empty()) {
    PeLayout after;
    Require(tagged.size() == input.size() && ReadPe(tagged, &after).empty() && ReadTag(tagged, after) == "fuzzed-tag_1");
    const uint32_t checksum = ReadLe(tagged, after.optionalHeader + kChecksumField, 4);
    Require(checksum == 0 || ReadLe(input, pe.optionalHeader + kChecksumField, 4) != PeChecksum(input, pe) ||
            checksum == PeChecksum(tagged, after));
  }
  if (IsSigned(pe)) {
    StripSignature(image, pe);
    Require(ReadPe(image, &pe).empty() && !IsSigned(pe));
  }
  size_t slot = 0;
  if (FindSlot(image, pe, &slot).empty()) StampSlot(image, pe, slot, "https://example.org/fuzzed");
  std::vector<Resource> resources;
  if (!ReadResources(image, pe, &resources).empty()) return 0;
  SetVersionName(resources, name);
  if (!images.empty()) ReplaceIcon(resources, images);
  if (!WriteResources(image, pe, resources).empty()) return 0;
  PeLayout rebuilt;
  std::vector<Resource> readBack;
  Require(ReadPe(image, &rebuilt).empty() && ReadResources(image, rebuilt, &readBack).empty());
  // Written in the directory's order: by type, then id, then language.
  std::stable_sort(resources.begin(), resources.end(), [](const Resource& a, const Resource& b) {
    return a.type != b.type ? a.type < b.type : a.id != b.id ? a.id < b.id : a.language < b.language;
  });
  Require(Same(resources, readBack));
  return 0;
}
