// The PE32+ image that tarvo-stamp edits: one structural check of the whole file, header
// fields, the section table, the data directories and the header checksum, shared by the
// slot, signature, resource and tag code.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

using Image = std::vector<unsigned char>;

// Data directory entries that tarvo-stamp reads or rewrites.
enum DataDirectory { kResourceTable = 2, kCertificateTable = 4, kBaseRelocationTable = 5 };

struct Section {
  std::string name;
  size_t header;  // offset of its entry in the section table
  uint32_t virtualSize, virtualAddress, rawSize, rawOffset, characteristics;
};

struct PeLayout {
  size_t optionalHeader = 0, sectionTable = 0, directories = 0;
  std::vector<Section> sections;
  size_t certificateOffset = 0, certificateSize = 0;  // both 0 when the image is unsigned
};

uint32_t ReadLe(const Image& image, size_t at, size_t bytes);
void WriteLe(Image& image, size_t at, uint32_t value, size_t bytes);

// Every mode works on what this accepted: a PE32+ executable (not a DLL) whose alignments,
// headers, sections and certificate table are each where a linker and a signer put them,
// checked in 64-bit arithmetic. Returns "" or the rule that failed.
std::string ReadPe(const Image& image, PeLayout* pe);

// The offset of a data directory entry's address field; its size field follows.
size_t DirectoryEntry(const PeLayout& pe, DataDirectory entry);

// One WIN_CERTIFICATE entry of the certificate table: its header at `at`, its bytes (the
// header's length, the header included) up to end, its revision and its type.
struct CertificateEntry {
  size_t at = 0, end = 0;
  uint32_t revision = 0, type = 0;
};
// The entry at `at` of a table that ends at tableEnd; false when no whole entry lies there.
// ReadPe has checked every entry of the table it accepted.
bool ReadCertificateEntry(const Image& image, size_t at, size_t tableEnd, CertificateEntry* entry);
// Where the next entry begins: on the 8-byte boundary after this one, or at the table's end.
size_t NextCertificateEntry(const CertificateEntry& entry, size_t tableEnd);

// The header checksum: a folded 16-bit sum of the file, its own field counted as zero, plus
// the file's length. Kept right after any change, unless the image carries none (zero).
uint32_t PeChecksum(const Image& image, const PeLayout& pe);
void UpdateChecksum(Image& image, const PeLayout& pe);
// Overwrites bytes past the headers in place and keeps a non-zero checksum right from the
// changed bytes alone, without summing the file again.
void PatchBytes(Image& image, const PeLayout& pe, size_t at, const Image& bytes);

// Optional header fields, as offsets from its start.
constexpr size_t kSizeOfInitializedData = 8, kSectionAlignment = 32, kFileAlignment = 36,
                 kSizeOfImage = 56, kSizeOfHeaders = 60, kChecksumField = 64;
constexpr size_t kSectionLimit = 96;
