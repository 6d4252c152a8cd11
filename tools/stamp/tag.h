// Sign once, tag per download: the release is signed with the tag certificate added to its
// signature (osslsigncode sign -ac, signtool /ac), and each download's copy gets a tag written
// into that certificate's field in place. The certificate table lies outside what the
// signature covers, so every copy verifies as the release does, with the release's digest.
#pragma once
#include "../../src/tag/tag_field.h"
#include "pe_image.h"

// The tag certificate as PEM: the same bytes every time.
std::string TagCertificate();
// Returns "" or why TAG is no tag: 1 to 64 ASCII letters, digits, '-' and '_'.
std::string CheckTag(const std::string& tag);
// Writes TAG, padded with spaces, over the signed launcher's one tag field and keeps the
// header checksum right; nothing else changes. Returns "" or why it refused.
std::string TagLauncher(Image& image, const std::string& tag);
// The tag as the launcher reads it, or "" when it would read none. Whether the launcher
// appends it to its built-in address is TakesTag's to say (src/tag/tag_field.h).
std::string LauncherTag(const Image& image, const PeLayout& pe);
