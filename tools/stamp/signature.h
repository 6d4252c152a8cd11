// The Authenticode signature of a launcher: the certificate table, whose directory entry
// holds a file offset. Its hash covers the slot, so a signed input is stamped only once
// its signature is removed, and the output is signed afresh.
#pragma once
#include "pe_image.h"

bool IsSigned(const Image& image);
// Removes the signature exactly: refuses, with a message, unless the certificate table ends
// the file; cuts the file there, clears the entry and keeps the checksum right.
std::string StripSignature(Image& image);
