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
