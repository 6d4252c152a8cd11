// PE32+ reading and the slot rules of tarvo-stamp.
#include "stamp.h"

#include <string.h>

namespace {

constexpr uint16_t kPe32Plus = 0x20B;
constexpr uint16_t kExecutableImage = 0x0002, kDll = 0x2000;
constexpr size_t kChecksumField = 64;  // offset inside the optional header

uint32_t Read(const Image& image, size_t at, size_t bytes) {
  uint32_t value = 0;
  for (size_t i = 0; i < bytes; i++) value |= static_cast<uint32_t>(image[at + i]) << (8 * i);
  return value;
}

struct Pe {
  size_t optionalHeader = 0, sectionTable = 0, sections = 0;
};

bool ReadPe(const Image& image, Pe* pe) {
  if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') return false;
  size_t header = Read(image, 0x3C, 4);
  if (header > image.size() || image.size() - header < 24 + 2 || memcmp(&image[header], "PE\0\0", 4) != 0)
    return false;
  uint16_t characteristics = Read(image, header + 22, 2);
  pe->sections = Read(image, header + 6, 2);
  pe->optionalHeader = header + 24;
  pe->sectionTable = pe->optionalHeader + Read(image, header + 20, 2);
  return Read(image, pe->optionalHeader, 2) == kPe32Plus && (characteristics & kExecutableImage) &&
         !(characteristics & kDll) && pe->sectionTable + 40 * pe->sections <= image.size() &&
         pe->optionalHeader + kChecksumField + 4 <= image.size();
}

bool IsSlotAt(const Image& image, size_t at, size_t end) {
  if (end - at < kSlotLength + 1 || image[at + kSlotLength] != '\0') return false;
  const char* text = reinterpret_cast<const char*>(&image[at]);
  if (strncmp(text, "https://", 8) != 0 && strncmp(text, "http://", 7) != 0) return false;
  size_t i = 0;
  while (i < kSlotLength && text[i] > ' ' && text[i] < 0x7F) i++;
  while (i < kSlotLength && text[i] == ' ') i++;
  return i == kSlotLength;
}

}  // namespace

std::string FindSlot(const Image& image, size_t* slotOffset) {
  Pe pe;
  if (!ReadPe(image, &pe)) return "not a PE32+ executable";
  int found = 0;
  for (size_t s = 0; s < pe.sections; s++) {
    size_t entry = pe.sectionTable + 40 * s;
    if (strncmp(reinterpret_cast<const char*>(&image[entry]), ".data", 8) != 0) continue;
    size_t start = Read(image, entry + 20, 4), size = Read(image, entry + 16, 4);
    size_t end = start > image.size() ? start : (size > image.size() - start ? image.size() : start + size);
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

std::string CheckAddress(const std::string& address) {
  if (address.size() > kSlotLength)
    return "the address is " + std::to_string(address.size()) + " bytes long; the slot holds at most 180";
  if (address.compare(0, 8, "https://") != 0) return "the address must begin with \"https://\"";
  // A browser drops a double quote from its command line and would open another page.
  for (unsigned char c : address)
    if (c <= ' ' || c >= 0x7F || c == '"')
      return "the address holds a blank, a double quote, a control character or a non-ASCII byte; "
             "percent-encode it (%20 for a blank, %22 for a quote)";
  return "";
}

std::string SlotAddress(const Image& image, size_t slotOffset) {
  std::string text(reinterpret_cast<const char*>(&image[slotOffset]), kSlotLength);
  return text.substr(0, text.find(' '));
}

// The launcher passes over a slot that contains ".invalid" anywhere.
bool LauncherUsesAddress(const std::string& address) { return address.find(".invalid") == std::string::npos; }

void StampSlot(Image& image, size_t slotOffset, const std::string& address) {
  memset(&image[slotOffset], ' ', kSlotLength);
  memcpy(&image[slotOffset], address.data(), address.size());
  Pe pe;
  ReadPe(image, &pe);
  size_t field = pe.optionalHeader + kChecksumField;
  if (Read(image, field, 4) == 0) return;
  uint32_t checksum = PeChecksum(image);
  for (int i = 0; i < 4; i++) image[field + i] = static_cast<unsigned char>(checksum >> (8 * i));
}

// The image checksum: a folded 16-bit sum of the file, its own field counted as zero, plus
// the file's length.
uint32_t PeChecksum(const Image& image) {
  Pe pe;
  ReadPe(image, &pe);
  size_t field = pe.optionalHeader + kChecksumField;
  uint64_t sum = 0;
  for (size_t at = 0; at < image.size(); at += 2) {
    if (at >= field && at < field + 4) continue;
    sum += image[at] | (at + 1 < image.size() ? image[at + 1] << 8 : 0);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + image.size());
}
