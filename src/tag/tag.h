// The download tag: a name of 1 to 64 letters, digits, '-' and '_' that the download server
// wrote into a spare certificate of the launcher's own signature, outside what the signature
// covers. It can only choose a page directly under the built-in address, and is never saved.
#pragma once
#include <windows.h>

// Appends the launcher's tag to g_address, which holds the built-in address, when that ends
// with '/' after its host and the file holds exactly one well-formed tag field; any other
// case, a failed read included, leaves g_address alone.
void AppendDownloadTag(HINSTANCE instance);
