// Reading and keeping right the headers of a PE32+ image.
#include "pe_image.h"

#include <string.h>

namespace {

constexpr uint16_t kPe32Plus = 0x20B;
constexpr uint16_t kExecutableImage = 0x0002, kDll = 0x2000;
constexpr size_t kSectionEntrySize = 40, kDirectoryCount = 108, kFirstDirectory = 112;

}  // namespace

uint32_t ReadLe(const Image& image, size_t at, size_t bytes) {
  uint32_t value = 0;
  for (size_t i = 0; i < bytes; i++) value |= static_cast<uint32_t>(image[at + i]) << (8 * i);
  return value;
}

void WriteLe(Image& image, size_t at, uint32_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; i++) image[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

bool ReadPe(const Image& image, PeLayout* pe) {
  if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') return false;
  size_t header = ReadLe(image, 0x3C, 4);
  if (header > image.size() || image.size() - header < 24 + 2 || memcmp(&image[header], "PE\0\0", 4) != 0)
    return false;
  uint16_t characteristics = ReadLe(image, header + 22, 2);
  size_t sections = ReadLe(image, header + 6, 2), optionalSize = ReadLe(image, header + 20, 2);
  pe->optionalHeader = header + 24;
  pe->sectionTable = pe->optionalHeader + optionalSize;
  pe->directories = pe->optionalHeader + kFirstDirectory;
  if (pe->sectionTable + kSectionEntrySize * sections > image.size() || optionalSize < kFirstDirectory ||
      ReadLe(image, pe->optionalHeader, 2) != kPe32Plus || !(characteristics & kExecutableImage) ||
      (characteristics & kDll))
    return false;
  size_t directories = ReadLe(image, pe->optionalHeader + kDirectoryCount, 4);
  if (directories <= kBaseRelocationTable || kFirstDirectory + 8 * directories > optionalSize) return false;
  pe->sections.clear();
  for (size_t s = 0; s < sections; s++) {
    size_t entry = pe->sectionTable + kSectionEntrySize * s;
    const char* name = reinterpret_cast<const char*>(&image[entry]);
    pe->sections.push_back({std::string(name, strnlen(name, 8)), entry, ReadLe(image, entry + 8, 4),
                            ReadLe(image, entry + 12, 4), ReadLe(image, entry + 16, 4),
                            ReadLe(image, entry + 20, 4), ReadLe(image, entry + 36, 4)});
  }
  return true;
}

size_t DirectoryEntry(const PeLayout& pe, DataDirectory entry) { return pe.directories + 8 * entry; }

const Section* FindSection(const PeLayout& pe, const char* name) {
  for (const Section& section : pe.sections)
    if (section.name == name) return &section;
  return nullptr;
}

uint32_t PeChecksum(const Image& image) {
  PeLayout pe;
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

void UpdateChecksum(Image& image) {
  PeLayout pe;
  if (!ReadPe(image, &pe)) return;
  size_t field = pe.optionalHeader + kChecksumField;
  if (ReadLe(image, field, 4) != 0) WriteLe(image, field, PeChecksum(image), 4);
}
