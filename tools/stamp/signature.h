// The Authenticode signature of a launcher: the certificate table, whose directory entry
// holds a file offset. Its hash covers the slot, so a signed input is stamped only once
// its signature is removed, and the output is signed afresh.
#pragma once
#include "pe_image.h"

bool IsSigned(const PeLayout& pe);
// Removes the signature exactly: the table ends the file (ReadPe checked it), so the file is
// cut there, the entry cleared and the checksum kept right.
void StripSignature(Image& image, const PeLayout& pe);
// One DER element of definite length at `at`, within end: its tag and its content's bounds.
struct DerElement {
  unsigned char tag = 0;
  size_t content = 0, end = 0;
};
bool ReadDer(const Image& image, size_t at, size_t end, DerElement* element);
// The PKCS#7 SignedData that one entry of the table holds: ContentInfo, whose type must be
// signedData, and its [0]; signedData receives the SignedData SEQUENCE. false for anything else.
bool ReadSignedData(const Image& image, const CertificateEntry& entry, DerElement* signedData);
// The SignedData's certificates, its [0] IMPLICIT set: the one part of a signature that
// neither its digest nor its authenticated attributes cover. false when it has none.
bool ReadCertificateSet(const Image& image, const DerElement& signedData, DerElement* certificates);
