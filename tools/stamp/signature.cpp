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

// A path through nested DER elements from [at, end): each step's tag must come next, and is
// entered or passed over. element receives the last one.
struct DerStep {
  unsigned char tag;
  bool enter;
};

template <size_t kCount>
bool FollowDer(const Image& image, const DerStep (&steps)[kCount], size_t at, size_t end, DerElement* element) {
  for (const DerStep& step : steps) {
    if (!ReadDer(image, at, end, element) || element->tag != step.tag) return false;
    if (step.enter) at = element->content, end = element->end;
    else at = element->end;
  }
  return true;
}

}  // namespace

bool ReadSignedData(const Image& image, const CertificateEntry& entry, DerElement* signedData) {
  static const DerStep kContentInfo[] = {{0x30, true}};
  static const DerStep kType[] = {{0x06, false}};
  static const DerStep kContent[] = {{0xA0, true}, {0x30, false}};
  DerElement contentInfo, type;
  return FollowDer(image, kContentInfo, entry.at + 8, entry.end, &contentInfo) &&
         FollowDer(image, kType, contentInfo.content, contentInfo.end, &type) &&
         type.end - type.content == sizeof kSignedDataType &&
         std::equal(kSignedDataType, kSignedDataType + sizeof kSignedDataType, image.begin() + type.content) &&
         FollowDer(image, kContent, type.end, contentInfo.end, signedData);
}

// SignedData: version, digest algorithms and content info passed over; the set follows.
bool ReadCertificateSet(const Image& image, const DerElement& signedData, DerElement* certificates) {
  static const DerStep kCertificates[] = {{0x02, false}, {0x31, false}, {0x30, false}, {0xA0, false}};
  return FollowDer(image, kCertificates, signedData.content, signedData.end, certificates);
}
