// Recognising and removing the signature of a PE32+ image.
#include "signature.h"

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

std::string AuthenticodeDigest(const Image& image, const PeLayout& pe) {
  if (pe.certificateSize == 0) return "";
  // ContentInfo, [0], SignedData (version, digest algorithms), its content info (type, [0]),
  // SpcIndirectDataContent (data), DigestInfo (algorithm), and the digest: enter or pass over.
  struct Step { unsigned char tag; bool enter; };
  static const Step kPath[] = {{0x30, true}, {0x06, false}, {0xA0, true}, {0x30, true}, {0x02, false}, {0x31, false},
                               {0x30, true}, {0x06, false}, {0xA0, true}, {0x30, true}, {0x30, false}, {0x30, true},
                               {0x30, false}, {0x04, true}};
  size_t at = pe.certificateOffset + 8, end = pe.certificateOffset + ReadLe(image, pe.certificateOffset, 4);
  DerElement element;
  for (const Step& step : kPath) {
    if (!ReadDer(image, at, end, &element) || element.tag != step.tag) return "";
    if (step.enter) at = element.content, end = element.end;
    else at = element.end;
  }
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = element.content; i < element.end; i++) hex += {kHex[image[i] >> 4], kHex[image[i] & 15]};
  return hex;
}
