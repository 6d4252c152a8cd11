// Recognising and removing the signature of a PE32+ image.
#include "signature.h"

bool IsSigned(const Image& image) {
  PeLayout pe;
  return ReadPe(image, &pe) && ReadLe(image, DirectoryEntry(pe, kCertificateTable) + 4, 4) != 0;
}

std::string StripSignature(Image& image) {
  PeLayout pe;
  if (!ReadPe(image, &pe)) return "not a PE32+ executable";
  size_t entry = DirectoryEntry(pe, kCertificateTable);
  size_t offset = ReadLe(image, entry, 4), size = ReadLe(image, entry + 4, 4);
  if (offset > image.size() || size != image.size() - offset)
    return "the signature does not end the file, so removing it could cut other data; refusing to strip";
  image.resize(offset);
  WriteLe(image, entry, 0, 4);
  WriteLe(image, entry + 4, 0, 4);
  UpdateChecksum(image);
  return "";
}
