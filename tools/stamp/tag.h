// Sign once, tag per download: the release is signed with the tag certificate added to its
// signature (osslsigncode sign -ac, signtool /ac), and each download's copy gets a tag written
// into that certificate's field in place. The certificate table lies outside what the
// signature covers, so every copy verifies as the release does, with the release's digest.
#pragma once
#include "../../src/tag/tag_field.h"
#include "pe_image.h"

// The tag certificate as PEM: the same bytes every time.
std::string TagCertificate();
// Returns "" or why TAG is no tag: 1 to 64 ASCII letters, digits, '-' and '_', the first a
// letter or a digit.
std::string CheckTag(const std::string& tag);
// Returns "" or why the launcher takes no tag: it must pass the structural check, be signed
// with exactly one tag field where the launcher reads it, and have a built-in address that
// closes its host and ends with '/'. pe receives the layout, field the field's offset.
std::string FindTaggableField(const Image& image, PeLayout* pe, size_t* field);
// Writes TAG, padded with spaces, over the signed launcher's one tag field and keeps the
// header checksum right; nothing else changes. Returns "" or why it refused.
std::string WriteTag(Image& image, const std::string& tag);
// The same over a field that FindTaggableField found in this image before, for a server that
// tags one release many times: only TAG is checked. Returns "" or why TAG is no tag.
std::string WriteTagAt(Image& image, const PeLayout& pe, size_t field, const std::string& tag);
// The tag as the launcher reads it, or "" when it would read none. Whether the launcher
// appends it to its built-in address is TakesTag's to say (src/tag/tag_field.h).
std::string ReadTag(const Image& image, const PeLayout& pe);
