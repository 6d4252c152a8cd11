// tarvo-stamp's slot finding and address rules, on small PE32+ images made here.
#include <string.h>

#include <algorithm>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "../../tools/stamp/files.h"
#include "../../tools/stamp/signature.h"
#include "../../tools/stamp/slot.h"
#include "../../tools/stamp/stamp.h"
#include "../../tools/stamp/tag.h"
#include "../../tools/stamp/version.h"
#include "tag/tag_field.h"

namespace {

const std::string kPlaceholder = "https://tarvo.invalid/" + std::string(158, ' ') + std::string(1, '\0');

// A row's verdict: accepted when it names no refusal, else refused with a reason that holds it.
bool AsExpected(const std::string& error, const std::string& refusal) {
  return refusal.empty() ? error.empty() : error.find(refusal) != std::string::npos;
}

void Put(Image& image, size_t at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; i++) image[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

// MZ header, PE header, a PE32+ optional header and one section holding data, laid out as a
// linker would: 512-byte file alignment, 4 KiB pages.
Image MakePe(const std::string& data, const char* section = ".data", uint32_t sectionSize = 0,
             uint16_t magic = 0x20B, uint16_t characteristics = 0x0022, uint32_t checksum = 0) {
  const size_t pe = 0x40, optional = pe + 24, table = optional + 240, raw = 0x200;
  const uint32_t size = sectionSize ? sectionSize : static_cast<uint32_t>(data.size());
  Image image(raw + data.size(), 0);
  image[0] = 'M', image[1] = 'Z';
  Put(image, 0x3C, pe, 4);
  memcpy(&image[pe], "PE\0\0", 4);
  Put(image, pe + 4, 0x8664, 2);
  Put(image, pe + 6, 1, 2);
  Put(image, pe + 20, 240, 2);
  Put(image, pe + 22, characteristics, 2);
  Put(image, optional, magic, 2);
  Put(image, optional + 32, 0x1000, 4);  // section alignment
  Put(image, optional + 36, 0x200, 4);   // file alignment
  Put(image, optional + 56, 0x1000 + (size + 0xFFF) / 0x1000 * 0x1000, 4);  // size of image
  Put(image, optional + 60, raw, 4);     // size of headers
  Put(image, optional + 64, checksum, 4);
  Put(image, optional + 108, 16, 4);     // data directories
  strncpy(reinterpret_cast<char*>(&image[table]), section, 8);
  Put(image, table + 8, size, 4);
  Put(image, table + 12, 0x1000, 4);
  Put(image, table + 16, size, 4);
  Put(image, table + 20, raw, 4);
  memcpy(&image[raw], data.data(), data.size());
  return image;
}

Image Release() {
  Image release;
  unsigned mode = 0;
  EXPECT_EQ(ReadInput(TARVO_RELEASE_EXE, kLauncherFileLimit, &release, &mode), "");
  return release;
}

std::string FindSlotIn(const Image& image, size_t* offset) {
  PeLayout pe;
  std::string error = ReadPe(image, &pe);
  return error.empty() ? FindSlot(image, pe, offset) : error;
}

}  // namespace

TEST(StampSlot, FindsExactlyOneSlotOrRefuses) {
  const std::string before(40, 'x'), slot = kPlaceholder;
  const std::string full = "https://" + std::string(172, 'f') + std::string(1, '\0');
  struct Case { const char* name; Image image; std::string error; size_t offset; };
  const Case cases[] = {
    {"placeholder slot", MakePe(before + slot + "tail"), "", 0x200 + 40},
    {"address filling all 180", MakePe(full), "", 0x200},
    {"no slot", MakePe(before), "no address slot", 0},
    {"two slots", MakePe(slot + slot), "more than one", 0},
    {"cut by the section's end", MakePe(slot, ".data", 180), "no address slot", 0},
    {"cut by the file's end", MakePe(slot.substr(0, 170), ".data", 181), "section 1 (.data) runs past the end", 0},
    {"in another section", MakePe(slot, ".rdata"), "no address slot", 0},
    {"no NUL after 180", MakePe(slot.substr(0, 180) + "x"), "no address slot", 0},
    {"blank inside the text", MakePe("https://a b" + slot.substr(11)), "no address slot", 0},
    {"text after the padding", MakePe(slot.substr(0, 170) + "x" + slot.substr(171)), "no address slot", 0},
    {"PE32, not PE32+", MakePe(slot, ".data", 0, 0x10B), "not a PE32+", 0},
    {"a DLL", MakePe(slot, ".data", 0, 0x20B, 0x2022), "not a PE32+", 0},
    {"not PE at all", Image(1000, 'M'), "not a PE32+", 0},
    {"empty file", Image(), "not a PE32+", 0},
  };
  for (const Case& c : cases) {
    size_t offset = 0;
    std::string error = FindSlotIn(c.image, &offset);
    EXPECT_EQ(error.substr(0, c.error.size()), c.error) << c.name << ": " << error;
    if (c.error.empty()) {
      EXPECT_EQ(offset, c.offset) << c.name;
    }
  }
}

TEST(StampSlot, AddressRules) {
  struct Case { std::string address; bool accepted; };
  const Case cases[] = {
    {"https://example.org/desk?x=%20y", true},
    {"https://" + std::string(172, 'a'), true},
    {"https://" + std::string(173, 'a'), false},
    {"http://example.org/", false},
    {"HTTPS://example.org/", false},
    {"https://example.org/a b", false},
    {"https://example.org/a\"b", false},
    {"https://example.org/\t", false},
    {"https://example.org/\x7f", false},
    {"https://example.org/\xc3\xa9", false},
    {"https://?x", false},
    {"https://example.org:65536/", false},
  };
  for (const Case& c : cases) EXPECT_EQ(CheckAddress(c.address).empty(), c.accepted) << c.address;
}

TEST(StampSlot, StampPadsAndKeepsTheChecksumRight) {
  for (uint32_t checksum : {0u, 0x1234u}) {
    Image image = MakePe("ab" + kPlaceholder, ".data", 0, 0x20B, 0x0022, checksum);
    size_t offset = 0;
    PeLayout pe;
    ASSERT_EQ(ReadPe(image, &pe), "");
    ASSERT_EQ(FindSlot(image, pe, &offset), "");
    StampSlot(image, pe, offset, "https://example.org/desk");
    EXPECT_EQ(SlotAddress(image, offset), "https://example.org/desk");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&image[offset + 24]), 157), std::string(156, ' ') + '\0');
    uint32_t stored = image[0x40 + 24 + 64] | image[0x40 + 24 + 65] << 8 | image[0x40 + 24 + 66] << 16 |
                      static_cast<uint32_t>(image[0x40 + 24 + 67]) << 24;
    EXPECT_EQ(stored, checksum ? PeChecksum(image, pe) : 0u) << checksum;
    EXPECT_EQ(LauncherUsesAddress(SlotAddress(image, offset)), true);
    StampSlot(image, pe, offset, "https://tarvo.invalid/");
    EXPECT_FALSE(LauncherUsesAddress(SlotAddress(image, offset)));
  }
}

TEST(StampSignature, StripsOnlyAWellFormedTableThatEndsTheFile) {
  const size_t entry = 0x40 + 24 + 112 + 8 * 4;  // the certificate table's directory entry
  struct Case { const char* name; uint32_t offset, size; size_t extra; uint32_t revisionAndType; bool stripped; };
  const Case cases[] = {
    {"ends the file", 0x400, 0x40, 0x40, 0x00020200, true},
    {"bytes after it", 0x400, 0x40, 0x48, 0x00020200, false},
    {"offset past the end", 0x900, 0x40, 0x40, 0x00020200, false},
    {"size past the end", 0x400, 0xFFFFFFF0u, 0x40, 0x00020200, false},
    {"not an Authenticode entry", 0x400, 0x40, 0x40, 0x00010200, false},
    {"starts inside the section", 0x3F8, 0x48, 0x40, 0x00020200, false},
  };
  for (const Case& c : cases) {
    Image image = MakePe(kPlaceholder + std::string(0x400 - 0x200 - kPlaceholder.size(), 'x'), ".data", 0, 0x20B,
                         0x0022, 1);
    PeLayout pe;
    ASSERT_EQ(ReadPe(image, &pe), "");
    UpdateChecksum(image, pe);
    const Image unsigned_ = image;
    image.resize(image.size() + c.extra, 0xAB);
    Put(image, c.offset < image.size() ? c.offset : 0x400, 0x40, 4);
    Put(image, (c.offset < image.size() ? c.offset : 0x400) + 4, c.revisionAndType, 4);
    Put(image, entry, c.offset, 4);
    Put(image, entry + 4, c.size, 4);
    std::string error = ReadPe(image, &pe);
    EXPECT_EQ(error.empty(), c.stripped) << c.name << ": " << error;
    if (!error.empty()) continue;
    EXPECT_TRUE(IsSigned(pe)) << c.name;
    StripSignature(image, pe);
    EXPECT_TRUE(image == unsigned_) << c.name;
  }
}

TEST(StampName, UtfEightOfOneTo64CharactersWithoutControls) {
  struct Case { const char* name; std::string text; std::string error; size_t utf16Length; };
  std::string longest;
  for (int i = 0; i < 64; i++) longest += "\xc3\xa9";
  const Case cases[] = {
    {"plain", "Tarvo", "", 5},
    {"64 two-byte characters", longest, "", 64},
    {"outside the BMP: one character, two UTF-16 units", "\xf0\x9f\x98\x80", "", 2},
    {"empty", "", "1 to 64", 0},
    {"65 characters", std::string(65, 'a'), "1 to 64", 0},
    {"TAB", "a\tb", "control character", 0},
    {"DEL", "a\x7f", "control character", 0},
    {"C1 control", "a\xc2\x85", "control character", 0},
    {"cut sequence", "a\xc3", "not UTF-8", 0},
    {"overlong slash", "\xc0\xaf", "not UTF-8", 0},
    {"surrogate", "\xed\xa0\x80", "not UTF-8", 0},
    {"past U+10FFFF", "\xf4\x90\x80\x80", "not UTF-8", 0},
  };
  for (const Case& c : cases) {
    std::u16string utf16;
    std::string error = CheckName(c.text, &utf16);
    EXPECT_EQ(error.find(c.error) != std::string::npos && error.empty() == c.error.empty(), true) << c.name << ": " << error;
    if (c.error.empty()) {
      EXPECT_EQ(utf16.size(), c.utf16Length) << c.name;
    }
  }
}

// Crafted launchers, each a few bytes patched into the release build, refused before anything
// is written: alignments, sections, the certificate table and the resource tree; and those
// accepted give a launcher that passes the same check.
TEST(StampStructure, CraftedLaunchers) {
  const Image release = Release();
  PeLayout pe;
  ASSERT_EQ(ReadPe(release, &pe), "");
  auto section = [&](const char* name) {
    for (const Section& s : pe.sections)
      if (s.name == name) return s;
    ADD_FAILURE() << "no section " << name;
    return Section{};
  };
  const Section data = section(".data"), rsrc = section(".rsrc"), reloc = section(".reloc");
  const size_t optional = pe.optionalHeader, root = rsrc.rawOffset + 16;  // the root's first entry
  const uint32_t size = static_cast<uint32_t>(release.size());
  size_t slot = 0;
  ASSERT_EQ(FindSlot(release, pe, &slot), "");
  Branding longest;
  longest.hasName = true;
  longest.name = std::u16string(kNameCharacters, u'n');

  struct Case { const char* name; std::function<void(Image&)> patch; const char* refusal; };
  const Case cases[] = {
    {"file alignment 0", [&](Image& i) { Put(i, optional + 36, 0, 4); }, "file alignment"},
    {"file alignment 1 GiB", [&](Image& i) { Put(i, optional + 36, 0x40000000, 4); }, "file alignment"},
    {"section alignment 0", [&](Image& i) { Put(i, optional + 32, 0, 4); }, "section alignment"},
    {"65,535 sections", [&](Image& i) { Put(i, optional - 18, 0xFFFF, 2); }, "65535 sections"},
    {".rsrc offset and size wrap in 32 bits", [&](Image& i) {
       Put(i, rsrc.header + 20, 0x40000000, 4);
       Put(i, rsrc.header + 16, 0xC0006E00, 4);
     }, "(.rsrc) runs past the end of the file"},
    {"slot spoilt, .data stretched over .rsrc", [&](Image& i) {
       i[slot + kSlotLength] = 'x';
       Put(i, data.header + 8, size - data.rawOffset, 4);
       Put(i, data.header + 16, size - data.rawOffset, 4);
     }, "overlaps the headers or the section before it"},
    {"certificate table over .rsrc and .reloc", [&](Image& i) {
       Put(i, optional + 112 + 32, rsrc.rawOffset, 4);
       Put(i, optional + 112 + 36, size - rsrc.rawOffset, 4);
     }, "certificate table does not lie"},
    {"certificate table from inside the headers", [&](Image& i) {
       Put(i, optional + 112 + 32, 0x200, 4);
       Put(i, optional + 112 + 36, size - 0x200, 4);
     }, "certificate table does not lie"},
    {"resource table outside .rsrc", [&](Image& i) { Put(i, optional + 112 + 16, data.virtualAddress, 4); },
     "resource table does not lie"},
    {"repeated resource type", [&](Image& i) { memcpy(&i[root + 8], &i[root], 8); }, "repeated or out of order"},
    {"two types share one directory", [&](Image& i) { memcpy(&i[root + 12], &i[root + 4], 4); }, "reached twice"},
    {"type id with the name bit", [&](Image& i) { i[root + 3] |= 0x80; }, "name bit"},
    {"a type a launcher never has", [&](Image& i) { Put(i, root + 16, 24, 4); }, "type 24"},
    {"accepted: a .reloc that gives no virtual size", [&](Image& i) { Put(i, reloc.header + 8, 0, 4); }, ""},
  };
  for (const Case& c : cases) {
    Image image = release;
    c.patch(image);
    std::string error = StampLauncher(image, "https://example.org/desk", longest, true);
    EXPECT_TRUE(AsExpected(error, c.refusal)) << c.name << ": " << error;
    if (error.empty()) {
      EXPECT_EQ(ReadPe(image, &pe), "") << c.name;
    }
  }
  for (size_t cut = 0x2C00; cut <= 0x6E00; cut += 0x200) {
    Image image(release.begin(), release.begin() + cut);
    EXPECT_NE(StampLauncher(image, "https://example.org/desk", Branding(), false), "") << "cut at " << cut;
  }

  // A version block that a 64-character name would take past its 16-bit length.
  std::vector<Resource> resources;
  ASSERT_EQ(ReadResources(release, pe, &resources), "");
  for (Resource& r : resources) {
    if (r.type != kRtVersion) continue;
    const size_t rootLength = ((r.data[0] | r.data[1] << 8) + 3u) & ~3u, padding = 65480 - rootLength;
    r.data.resize(65480, 0);
    Put(r.data, 0, 65480, 2);
    Put(r.data, rootLength, static_cast<uint32_t>(padding), 2);
    Put(r.data, rootLength + 2, static_cast<uint32_t>(padding - 12), 2);
    Put(r.data, rootLength + 6, 'P', 2);
  }
  EXPECT_NE(SetVersionName(resources, longest.name).find("longer than 65,535"), std::string::npos);
}

// A DER element of the given tag around content.
std::string Der(unsigned char tag, const std::string& content) {
  const size_t size = content.size();
  std::string header(1, static_cast<char>(tag));
  if (size >= 0x100) header += {'\x82', static_cast<char>(size >> 8), static_cast<char>(size)};
  else if (size >= 0x80) header += {'\x81', static_cast<char>(size)};
  else header += static_cast<char>(size);
  return header + content;
}

// A PKCS#7 SignedData as a signer writes it, of the given content type: SEQUENCEs of the
// given bytes as its certificates (none: no set at all), and a signer info holding signerInfo.
std::string Pkcs7(std::initializer_list<std::string> certificates, const std::string& signerInfo = "",
                  const std::string& type = "\x2A\x86\x48\x86\xF7\x0D\x01\x07\x02") {
  std::string set;
  for (const std::string& certificate : certificates) set += Der(0x30, certificate);
  const std::string content = Der(0x30, Der(0x06, "\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x04") + Der(0xA0, "data"));
  const std::string signedData = Der(0x02, "\x01") + Der(0x31, "") + content + (set.empty() ? "" : Der(0xA0, set)) +
                                 Der(0x31, Der(0x30, signerInfo));
  return Der(0x30, Der(0x06, type) + Der(0xA0, Der(0x30, signedData)));
}

// der with the first occurrence of from replaced by to: a signature spoilt in one element.
std::string Retagged(std::string der, const std::string& from, const std::string& to) {
  return der.replace(der.find(from), from.size(), to);
}

// The release stamped with an address and given a certificate table of WIN_CERTIFICATE
// entries, as a signer would append it, each holding the given bytes.
Image SignedRelease(const std::string& address, std::initializer_list<std::string> entries) {
  Image image = Release();
  PeLayout pe;
  size_t slot = 0;
  EXPECT_EQ(ReadPe(image, &pe), "");
  EXPECT_EQ(FindSlot(image, pe, &slot), "");
  StampSlot(image, pe, slot, address);
  const size_t table = image.size();
  for (const std::string& entry : entries) {
    const size_t offset = image.size(), length = 8 + entry.size();
    image.resize(offset + (length + 7) / 8 * 8, 0);
    Put(image, offset, static_cast<uint32_t>(length), 4);
    Put(image, offset + 4, 0x00020200, 4);  // revision 2, an Authenticode signature
    memcpy(&image[offset + 8], entry.data(), entry.size());
  }
  Put(image, DirectoryEntry(pe, kCertificateTable), static_cast<uint32_t>(table), 4);
  Put(image, DirectoryEntry(pe, kCertificateTable) + 4, static_cast<uint32_t>(image.size() - table), 4);
  UpdateChecksum(image, pe);
  return image;
}
Image SignedRelease(const std::string& address, const std::string& certificate) {
  return SignedRelease(address, {Pkcs7({"ordinary certificate", certificate})});
}

// Where the field ends in the certificate table, and the bytes of filler before it in its
// certificate that make it end exactly at the launcher's window.
size_t FieldEnd(const Image& image, const std::string& field) {
  PeLayout pe;
  EXPECT_EQ(ReadPe(image, &pe), "");
  const Image bytes(field.begin(), field.end());
  const auto at = std::search(image.begin(), image.end(), bytes.begin(), bytes.end());
  return static_cast<size_t>(at - image.begin()) + field.size() - pe.certificateOffset;
}

TEST(StampTag, WritesOnlyTheFieldOfASignedReleaseUnderAClosedHost) {
  const std::string marker(reinterpret_cast<const char*>(kTagMarker), sizeof kTagMarker);
  const std::string field = marker + std::string(kTagLength, ' '), cut = marker + std::string(kTagLength - 1, ' ');
  const std::string desk = "https://desk.example.org/", longest(kTagLength, 'T');
  auto filled = [&](size_t filler) { return SignedRelease(desk, std::string(filler, 'c') + field); };
  size_t atTheWindow = kTagWindow - FieldEnd(filled(0), field);
  atTheWindow = atTheWindow + kTagWindow - FieldEnd(filled(atTheWindow), field);  // the DER lengths grew on the way
  struct Case { const char* name; Image image; std::string tag, refusal; };
  const Case cases[] = {
    {"a short tag", SignedRelease(desk, "head" + field + "tail"), "mia", ""},
    {"64 characters, all kinds", SignedRelease(desk + "app/", field), longest.substr(0, 60) + "a9-_", ""},
    {"a field ending exactly at the 32 KiB the launcher reads", filled(atTheWindow), "mia", ""},
    {"a field ending a byte past it", filled(atTheWindow + 1), "mia", "beyond the 32 KiB"},
    {"a field far beyond it", filled(34726), "mia", "beyond the 32 KiB"},
    {"unsigned", Release(), "mia", "unsigned"},
    {"no field", SignedRelease(desk, "an ordinary certificate"), "mia", "no tag field"},
    {"a field cut by its certificate's end", SignedRelease(desk, {Pkcs7({cut}, std::string(80, 's'))}), "mia",
     "inside one certificate"},
    {"a field across two certificates", SignedRelease(desk, {Pkcs7({"head" + marker, std::string(80, 's')})}), "mia",
     "inside one certificate"},
    {"a field in the signer's authenticated attributes", SignedRelease(desk, {Pkcs7({"certificate"}, field)}), "mia",
     "inside one certificate"},
    {"a bare field in a second entry", SignedRelease(desk, {Pkcs7({"certificate"}), Der(0x30, field)}), "mia",
     "inside one certificate"},
    {"a signature without certificates", SignedRelease(desk, {Pkcs7({}, "x"), Pkcs7({}, field)}), "mia",
     "inside one certificate"},
    {"a field in the certificates of another content type", SignedRelease(desk, {Pkcs7({field}, "", "\x2A\x86\x48\x86\xF7\x0D\x01\x07\x01")}),
     "mia", "inside one certificate"},
    {"the next entry's header inside the field", SignedRelease(desk, {Pkcs7({"x"}, "head" + marker), std::string(80, 's')}),
     "mia", "inside one certificate"},
    {"a field in another kind of certificate ([1])", SignedRelease(desk, {Retagged(Pkcs7({field}), Der(0x30, field), Der(0xA1, field))}),
     "mia", "inside one certificate"},
    {"a SignedData whose version is no INTEGER", SignedRelease(desk, {Retagged(Pkcs7({field}), Der(0x02, "\x01"), Der(0x04, "\x01"))}),
     "mia", "inside one certificate"},
    {"a SignedData whose digest algorithms are no SET", SignedRelease(desk, {Retagged(Pkcs7({field}), Der(0x31, ""), Der(0x30, ""))}),
     "mia", "inside one certificate"},
    {"two fields", SignedRelease(desk, field + field), "mia", "2 tag fields"},
    {"a page, not a folder", SignedRelease("https://desk.example.org/me", field), "mia", "does not end with '/'"},
    {"the host left open", SignedRelease("https://desk.example.org", field), "mia", "does not end with '/'"},
    {"a placeholder", SignedRelease("https://tarvo.invalid/", field), "mia", "placeholder"},
    {"empty tag", SignedRelease(desk, field), "", "1 to 64"},
    {"an option's shape", SignedRelease(desk, field), "-h", "begin with an ASCII letter or digit"},
    {"'_' first", SignedRelease(desk, field), "_a", "begin with an ASCII letter or digit"},
    {"65 characters", SignedRelease(desk, field), longest + "T", "65 characters"},
  };
  EXPECT_EQ(FieldEnd(cases[2].image, field), kTagWindow);
  for (const Case& c : cases) {
    Image image = c.image;
    std::string error = WriteTag(image, c.tag);
    EXPECT_TRUE(AsExpected(error, c.refusal)) << c.name << ": " << error;
    if (!error.empty()) continue;
    PeLayout pe;
    ASSERT_EQ(ReadPe(image, &pe), "") << c.name;
    EXPECT_EQ(ReadTag(image, pe), c.tag) << c.name;
    EXPECT_EQ(ReadLe(image, pe.optionalHeader + kChecksumField, 4), PeChecksum(image, pe)) << c.name;
    size_t changed = 0;
    for (size_t i = 0; i < image.size(); i++) changed += image[i] != c.image[i];
    EXPECT_EQ(image.size(), c.image.size()) << c.name;
    EXPECT_LE(changed, c.tag.size() + 4) << c.name << ": only the field and the checksum";
  }
  Image once = SignedRelease(desk, "head" + field + "tail"), twice = once;
  ASSERT_EQ(WriteTag(once, "mia"), "");
  ASSERT_EQ(WriteTag(twice, "bob-the-longer"), "");
  ASSERT_EQ(WriteTag(twice, "mia"), "");
  EXPECT_TRUE(once == twice) << "a tag replaces the one before";
  for (const char* bad : {"a/b", "a.b", "a%2e", "a?b", "a#b", "a@b", "a b", "a\"b", "caf\xc3\xa9", "a\\b"}) {
    Image image = SignedRelease(desk, field);
    EXPECT_NE(WriteTag(image, bad).find("only ASCII letters, digits"), std::string::npos) << bad;
  }
}
