// Checking the structure of a PE32+ image once, and keeping its headers right.
#include "pe_image.h"

#include <string.h>

namespace {

constexpr uint16_t kPe32Plus = 0x20B;
constexpr uint16_t kExecutableImage = 0x0002, kDll = 0x2000;
constexpr size_t kSectionEntrySize = 40, kDirectoryCount = 108, kFirstDirectory = 112, kDirectoryLimit = 16;
constexpr uint64_t kSmallestFileAlignment = 512, kLargestFileAlignment = 64 * 1024;
constexpr uint64_t kImageSizeLimit = 1u << 30;  // a launcher maps 64 KiB; this keeps every RVA far from 2^32
constexpr uint16_t kCertificateRevision1 = 0x0100, kCertificateRevision2 = 0x0200, kPkcsSignedData = 2;
const char kNotPe[] = "not a PE32+ executable";

bool IsPowerOfTwo(uint64_t value) { return value != 0 && (value & (value - 1)) == 0; }
uint64_t AlignUp(uint64_t value, uint64_t alignment) { return (value + alignment - 1) / alignment * alignment; }

// Crafted names reach messages, so only printable ASCII is kept.
std::string SectionName(const Image& image, size_t entry) {
  std::string name(reinterpret_cast<const char*>(&image[entry]), strnlen(reinterpret_cast<const char*>(&image[entry]), 8));
  for (char& c : name) c = c > ' ' && c < 0x7F ? c : '?';
  return name;
}

// Each entry is a WIN_CERTIFICATE holding an Authenticode signature.
bool IsCertificateTable(const Image& image, size_t at) {
  CertificateEntry entry;
  for (; at != image.size(); at = NextCertificateEntry(entry, image.size()))
    if (!ReadCertificateEntry(image, at, image.size(), &entry) ||
        (entry.revision != kCertificateRevision1 && entry.revision != kCertificateRevision2) || entry.type != kPkcsSignedData)
      return false;
  return true;
}

std::string ReadSections(const Image& image, uint64_t count, PeLayout* pe) {
  const uint64_t sectionAlignment = ReadLe(image, pe->optionalHeader + kSectionAlignment, 4);
  const uint64_t fileAlignment = ReadLe(image, pe->optionalHeader + kFileAlignment, 4);
  const uint64_t headersSize = ReadLe(image, pe->optionalHeader + kSizeOfHeaders, 4);
  const uint64_t imageSize = ReadLe(image, pe->optionalHeader + kSizeOfImage, 4);
  if (pe->sectionTable + kSectionEntrySize * count > headersSize || headersSize > image.size())
    return "the headers do not hold the section table, or run past the end of the file";
  uint64_t fileEnd = headersSize, memoryEnd = AlignUp(headersSize, sectionAlignment);
  for (size_t s = 0; s < count; s++) {
    size_t entry = pe->sectionTable + kSectionEntrySize * s;
    Section section{SectionName(image, entry), entry, ReadLe(image, entry + 8, 4), ReadLe(image, entry + 12, 4),
                    ReadLe(image, entry + 16, 4), ReadLe(image, entry + 20, 4), ReadLe(image, entry + 36, 4)};
    auto label = [&] { return "section " + std::to_string(s + 1) + " (" + section.name + ")"; };
    // A section without file data (.bss) has no place in the file to check.
    if (section.rawSize != 0) {
      if (section.rawOffset % fileAlignment != 0 || section.rawOffset < fileEnd)
        return label() + " overlaps the headers or the section before it in the file";
      if (uint64_t{section.rawOffset} + section.rawSize > image.size()) return label() + " runs past the end of the file";
      fileEnd = uint64_t{section.rawOffset} + section.rawSize;
    }
    uint64_t mapped = section.virtualSize != 0 ? section.virtualSize : section.rawSize;
    if (section.virtualAddress % sectionAlignment != 0 || section.virtualAddress < memoryEnd)
      return label() + " overlaps the headers or the section before it in memory";
    memoryEnd = section.virtualAddress + AlignUp(mapped, sectionAlignment);
    pe->sections.push_back(section);
  }
  if (memoryEnd > imageSize || imageSize > kImageSizeLimit) return "the sections do not fit the image size";

  size_t certificates = DirectoryEntry(*pe, kCertificateTable);
  uint64_t offset = ReadLe(image, certificates, 4), size = ReadLe(image, certificates + 4, 4);
  if (size == 0) return "";
  if (offset < fileEnd || offset % 8 != 0 || offset + size != image.size())
    return "the certificate table does not lie between the last section and the end of the file";
  if (!IsCertificateTable(image, offset)) return "the certificate table holds a malformed signature entry";
  pe->certificateOffset = offset;
  pe->certificateSize = size;
  return "";
}

}  // namespace

uint32_t ReadLe(const Image& image, size_t at, size_t bytes) {
  uint32_t value = 0;
  for (size_t i = 0; i < bytes; i++) value |= static_cast<uint32_t>(image[at + i]) << (8 * i);
  return value;
}

void WriteLe(Image& image, size_t at, uint32_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; i++) image[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

std::string ReadPe(const Image& image, PeLayout* pe) {
  *pe = PeLayout();
  if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') return kNotPe;
  const uint64_t header = ReadLe(image, 0x3C, 4);
  if (header + 24 > image.size() || memcmp(&image[header], "PE\0\0", 4) != 0) return kNotPe;
  const uint32_t characteristics = ReadLe(image, header + 22, 2);
  const uint64_t sections = ReadLe(image, header + 6, 2), optionalSize = ReadLe(image, header + 20, 2);
  pe->optionalHeader = header + 24;
  pe->sectionTable = pe->optionalHeader + optionalSize;
  pe->directories = pe->optionalHeader + kFirstDirectory;
  if (optionalSize < kFirstDirectory || pe->sectionTable > image.size() ||
      ReadLe(image, pe->optionalHeader, 2) != kPe32Plus || !(characteristics & kExecutableImage) ||
      (characteristics & kDll))
    return kNotPe;
  const uint64_t directories = ReadLe(image, pe->optionalHeader + kDirectoryCount, 4);
  if (directories <= kBaseRelocationTable || directories > kDirectoryLimit ||
      kFirstDirectory + 8 * directories > optionalSize)
    return kNotPe;
  const uint64_t fileAlignment = ReadLe(image, pe->optionalHeader + kFileAlignment, 4);
  const uint64_t sectionAlignment = ReadLe(image, pe->optionalHeader + kSectionAlignment, 4);
  if (!IsPowerOfTwo(fileAlignment) || fileAlignment < kSmallestFileAlignment || fileAlignment > kLargestFileAlignment)
    return "the file alignment is not a power of two from 512 to 64 KiB";
  if (!IsPowerOfTwo(sectionAlignment) || sectionAlignment < fileAlignment)
    return "the section alignment is not a power of two at least as large as the file alignment";
  if (sections == 0 || sections > kSectionLimit)
    return "it has " + std::to_string(sections) + " sections; a launcher has 1 to " + std::to_string(kSectionLimit);
  return ReadSections(image, sections, pe);
}

size_t DirectoryEntry(const PeLayout& pe, DataDirectory entry) { return pe.directories + 8 * entry; }

bool ReadCertificateEntry(const Image& image, size_t at, size_t tableEnd, CertificateEntry* entry) {
  if (at > tableEnd || tableEnd - at < 8 || tableEnd > image.size()) return false;
  const size_t length = ReadLe(image, at, 4);
  if (length < 8 || length > tableEnd - at) return false;
  *entry = {at, at + length, ReadLe(image, at + 4, 2), ReadLe(image, at + 6, 2)};
  return true;
}

size_t NextCertificateEntry(const CertificateEntry& entry, size_t tableEnd) {
  const uint64_t next = AlignUp(entry.end, 8);
  return next < tableEnd ? static_cast<size_t>(next) : tableEnd;
}

uint32_t PeChecksum(const Image& image, const PeLayout& pe) {
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

void UpdateChecksum(Image& image, const PeLayout& pe) {
  size_t field = pe.optionalHeader + kChecksumField;
  if (ReadLe(image, field, 4) != 0) WriteLe(image, field, PeChecksum(image, pe), 4);
}

// The sum is taken modulo 0xFFFF (the carries fold back in), so each changed byte moves it by
// its difference, times 256 at an odd offset; a non-empty file never sums to 0, but to 0xFFFF.
void PatchBytes(Image& image, const PeLayout& pe, size_t at, const Image& bytes) {
  size_t field = pe.optionalHeader + kChecksumField;
  int64_t sum = static_cast<int64_t>(ReadLe(image, field, 4)) - static_cast<int64_t>(image.size());
  for (size_t i = 0; i < bytes.size(); i++) {
    sum += (static_cast<int64_t>(bytes[i]) - image[at + i]) * ((at + i) % 2 ? 256 : 1);
    image[at + i] = bytes[i];
  }
  sum %= 0xFFFF;
  if (sum <= 0) sum += 0xFFFF;
  if (ReadLe(image, field, 4) != 0) WriteLe(image, field, static_cast<uint32_t>(sum + image.size()), 4);
}
