// The Authenticode signature of a launcher: the certificate table, whose directory entry
// holds a file offset. Its hash covers the slot, so a signed input is stamped only once
// its signature is removed, and the output is signed afresh.
#pragma once
#include "pe_image.h"

bool IsSigned(const PeLayout& pe);
// Removes the signature exactly: the table ends the file (ReadPe checked it), so the file is
// cut there, the entry cleared and the checksum kept right.
void StripSignature(Image& image, const PeLayout& pe);
