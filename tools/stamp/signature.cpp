// Recognising and removing the signature of a PE32+ image.
#include "signature.h"

#include <algorithm>

bool IsSigned(const PeLayout& pe) { return pe.certificateSize != 0; }

void StripSignature(Image& image, const PeLayout& pe) {
  size_t entry = DirectoryEntry(pe, kCertificateTable);
  image.resize(pe.certificateOffset);
  WriteLe(image, entry, 0, 4);
  WriteLe(image, entry + 4, 0, 4);
  UpdateChecksum(image, pe);
}

bool ReadDer(const Image& image, size_t at, size_t end, DerElement* element) {
  if (at >= end || end - at < 2) return false;
  size_t length = image[at + 1], header = 2;
  if (length > 0x84 || length == 0x80) return false;
  if (length > 0x80) {
    header += length - 0x80;
    if (end - at < header) return false;
    length = 0;
    for (size_t i = 2; i < header; i++) length = length << 8 | image[at + i];
  }
  if (length > end - at - header) return false;
  *element = {image[at], at + header, at + header + length};
  return true;
}

namespace {

const unsigned char kSignedDataType[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};  // 1.2.840.113549.1.7.2

bool ReadDerOf(unsigned char tag, const Image& image, size_t at, size_t end, DerElement* element) {
  return ReadDer(image, at, end, element) && element->tag == tag;
}

}  // namespace

// ContentInfo: its type, then [0] holding the SignedData.
bool ReadSignedData(const Image& image, const CertificateEntry& entry, DerElement* signedData) {
  DerElement contentInfo, type, content;
  return ReadDerOf(0x30, image, entry.at + 8, entry.end, &contentInfo) &&
         ReadDerOf(0x06, image, contentInfo.content, contentInfo.end, &type) &&
         type.end - type.content == sizeof kSignedDataType &&
         std::equal(kSignedDataType, kSignedDataType + sizeof kSignedDataType, image.begin() + type.content) &&
         ReadDerOf(0xA0, image, type.end, contentInfo.end, &content) &&
         ReadDerOf(0x30, image, content.content, content.end, signedData);
}

// SignedData: version, digest algorithms and content info passed over; the set follows.
bool ReadCertificateSet(const Image& image, const DerElement& signedData, DerElement* certificates) {
  size_t at = signedData.content;
  for (unsigned char tag : {0x02, 0x31, 0x30}) {
    if (!ReadDerOf(tag, image, at, signedData.end, certificates)) return false;
    at = certificates->end;
  }
  return ReadDerOf(0xA0, image, at, signedData.end, certificates);
}
