// The download tag's field, as the tag certificate carries it and the launcher finds it: the
// certificate extension's object identifier, 2.25.46088153929513585540399667643032441786 (the
// project's own, from the UUID 22ac416d-42c5-46f3-b865-7a3f2eba93ba), the headers of its value
// (an OCTET STRING holding an IA5String of 64 characters), then those 64 characters: the tag,
// padded with spaces. Shared by the launcher, tarvo-stamp and the edge module, so that what
// one writes is what the other reads.
#pragma once
#include <stddef.h>
#include <string.h>

constexpr unsigned char kTagMarker[] = {
    0x06, 0x13, 0x69, 0xC5, 0xAC, 0xA0, 0xDB, 0xA8, 0xAC, 0xAA, 0x9B, 0xE7, 0xB8,
    0xB2, 0xDE, 0xC7, 0xF2, 0xF5, 0xEA, 0xA7, 0x3A, 0x04, 0x42, 0x16, 0x40};
constexpr int kTagLength = 64;
// The launcher reads at most this much of its certificate table: a signature with its chain,
// a timestamp and the tag certificate. A field beyond it is no field.
constexpr size_t kTagWindow = 32768;

// A tag names one page under the built-in address, so nothing in it may reach a path, a
// query, a fragment or a host: letters, digits, '-' and '_' only. It begins with a letter or
// a digit, so that no tag can read as a command-line option.
constexpr bool IsTagStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }
constexpr bool IsTagCharacter(char c) { return IsTagStart(c) || c == '-' || c == '_'; }

// The tag's length in a field, or 0 when the field holds anything but a tag and spaces.
inline int TagLength(const char* field) {
  if (!IsTagStart(field[0])) return 0;
  int length = 1;
  while (length < kTagLength && IsTagCharacter(field[length])) length++;
  for (int i = length; i < kTagLength; i++)
    if (field[i] != ' ') return 0;
  return length;
}

// How many tag fields lie wholly within size bytes of a certificate table; field receives the
// offset of the last one's 64 characters.
inline int CountTagFields(const char* table, size_t size, size_t* field) {
  int fields = 0;
  for (size_t at = 0; at + sizeof kTagMarker + kTagLength <= size; at++) {
    if (table[at] != static_cast<char>(kTagMarker[0]) || memcmp(table + at, kTagMarker, sizeof kTagMarker) != 0) continue;
    *field = at + sizeof kTagMarker;
    fields++;
  }
  return fields;
}

// The one rule by which the launcher reads its tag: exactly one field within the first
// kTagWindow bytes of the table, holding a tag. Returns the tag's length, 0 for none; the
// tag starts at table + *field.
inline int FindTag(const char* table, size_t size, size_t* field) {
  return CountTagFields(table, size < kTagWindow ? size : kTagWindow, field) == 1 ? TagLength(table + *field) : 0;
}

// Whether a built-in address takes a tag: it closes its host, with a '/' after the "//" of
// its scheme, and ends with a '/', so a tag can only name a page directly under it.
inline bool TakesTag(const char* address) {
  const char* host = strstr(address, "//");
  return host != nullptr && strchr(host + 2, '/') != nullptr && address[strlen(address) - 1] == '/';
}
