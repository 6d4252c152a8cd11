// The slot rules of tarvo-stamp.
#include "slot.h"

#include <string.h>

#include <algorithm>

#include "../../src/address/address.h"

namespace {

bool IsSlotAt(const Image& image, size_t at, size_t end) {
  if (end - at < kSlotLength + 1 || image[at] != 'h' || image[at + kSlotLength] != '\0') return false;
  const char* text = reinterpret_cast<const char*>(&image[at]);
  if (!HasScheme(text)) return false;
  size_t i = 0;
  while (i < kSlotLength && text[i] > ' ' && text[i] < 0x7F) i++;
  while (i < kSlotLength && text[i] == ' ') i++;
  return i == kSlotLength;
}

}  // namespace

// Only the bytes the loader maps from the file count: those within both sizes.
std::string FindSlot(const Image& image, const PeLayout& pe, size_t* slotOffset) {
  int found = 0;
  for (const Section& section : pe.sections) {
    if (section.name != ".data") continue;
    size_t mapped = section.virtualSize != 0 ? section.virtualSize : section.rawSize;
    size_t start = section.rawOffset, end = start + std::min<size_t>(section.rawSize, mapped);
    for (size_t at = start; at < end; at++) {
      if (IsSlotAt(image, at, end)) {
        found++;
        *slotOffset = at;
      }
    }
  }
  if (found == 0) return "no address slot in the .data section";
  if (found > 1) return "more than one address slot (" + std::to_string(found) + "); refusing to guess";
  return "";
}

std::string SlotAddress(const Image& image, size_t slotOffset) {
  std::string text(reinterpret_cast<const char*>(&image[slotOffset]), kSlotLength);
  return text.substr(0, text.find(' '));
}

// The launcher passes over a slot that contains ".invalid" anywhere.
bool LauncherUsesAddress(const std::string& address) { return address.find(".invalid") == std::string::npos; }

void StampSlot(Image& image, const PeLayout& pe, size_t slotOffset, const std::string& address) {
  memset(&image[slotOffset], ' ', kSlotLength);
  memcpy(&image[slotOffset], address.data(), address.size());
  UpdateChecksum(image, pe);
}
