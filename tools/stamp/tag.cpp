// The tag certificate, and finding and filling its field in a signed launcher.
#include "tag.h"

#include <string.h>

#include <algorithm>

#include "signature.h"
#include "slot.h"

namespace {

Image Tlv(unsigned char type, const Image& content) {
  Image out{type};
  size_t size = content.size();
  if (size >= 0x100) out.insert(out.end(), {0x82, static_cast<unsigned char>(size >> 8), static_cast<unsigned char>(size)});
  else if (size >= 0x80) out.insert(out.end(), {0x81, static_cast<unsigned char>(size)});
  else out.push_back(static_cast<unsigned char>(size));
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

Image Join(std::initializer_list<Image> parts) {
  Image out;
  for (const Image& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Image Text(const char* text) { return Image(text, text + strlen(text)); }

// A certificate only so that every verifier can parse the signature that carries it. Nobody
// checks its own signature or trusts it, so it needs no key of ours: its public key is a
// dummy (an all-ones 2048-bit modulus) and its signature zeros.
Image TagCertificateDer() {
  const Image sha256WithRsa = Tlv(0x30, Join({Tlv(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0B}), Tlv(0x05, {})}));
  const Image rsa = Tlv(0x30, Join({Tlv(0x06, {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01}), Tlv(0x05, {})}));
  const Image name = Tlv(0x30, Tlv(0x31, Tlv(0x30, Join({Tlv(0x06, {0x55, 0x04, 0x03}), Tlv(0x0C, Text("Tarvo download tag"))}))));
  const Image validity = Tlv(0x30, Join({Tlv(0x17, Text("260101000000Z")), Tlv(0x17, Text("491231235959Z"))}));
  Image modulus(257, 0xFF);
  modulus[0] = 0;  // positive
  const Image key = Tlv(0x30, Join({rsa, Tlv(0x03, Join({{0}, Tlv(0x30, Join({Tlv(0x02, modulus), Tlv(0x02, {1, 0, 1})}))}))}));
  const Image field = Join({Image(kTagMarker, kTagMarker + sizeof kTagMarker), Image(kTagLength, ' ')});
  const Image extensions = Tlv(0xA3, Tlv(0x30, Tlv(0x30, field)));
  const Image tbs = Tlv(0x30, Join({Tlv(0xA0, Tlv(0x02, {2})), Tlv(0x02, {1}), sha256WithRsa, name, validity, name, key, extensions}));
  return Tlv(0x30, Join({tbs, sha256WithRsa, Tlv(0x03, Image(257, 0))}));
}

std::string Base64Lines(const Image& data) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out, line;
  for (size_t at = 0; at < data.size(); at += 3) {
    size_t left = data.size() - at;
    uint32_t group = data[at] << 16 | (left > 1 ? data[at + 1] << 8 : 0) | (left > 2 ? data[at + 2] : 0);
    for (size_t i = 0; i < 4; i++) line += i <= left ? kDigits[group >> (18 - 6 * i) & 63] : '=';
    if (line.size() == 64) out += line + "\n", line.clear();
  }
  return line.empty() ? out : out + line + "\n";
}

// Whether [start, end) lies wholly inside one certificate of the SignedData of the entry that
// holds start: the one part of a signature that neither its digest nor its authenticated
// attributes cover, so that writing there changes nothing that a verifier checks.
bool InsideOneCertificate(const Image& image, const PeLayout& pe, size_t start, size_t end) {
  const size_t tableEnd = pe.certificateOffset + pe.certificateSize;
  CertificateEntry entry;
  for (size_t at = pe.certificateOffset; at != tableEnd; at = NextCertificateEntry(entry, tableEnd)) {
    if (!ReadCertificateEntry(image, at, tableEnd, &entry)) return false;
    if (start >= entry.end) continue;
    DerElement signedData, certificates, certificate;
    if (!ReadSignedData(image, entry, &signedData) || !ReadCertificateSet(image, signedData, &certificates)) return false;
    for (size_t next = certificates.content; next < certificates.end && next <= start; next = certificate.end) {
      if (!ReadDer(image, next, certificates.end, &certificate)) return false;
      if (certificate.tag == 0x30 && start >= certificate.content && end <= certificate.end) return true;
    }
    return false;
  }
  return false;
}

// The offset of the field the launcher reads, or why there is none to write.
std::string FindField(const Image& image, const PeLayout& pe, size_t* field) {
  const char* table = reinterpret_cast<const char*>(image.data() + pe.certificateOffset);
  const size_t window = std::min(pe.certificateSize, kTagWindow);
  const int found = CountTagFields(table, window, field);
  if (found == 0 && CountTagFields(table, pe.certificateSize, field) != 0)
    return "the tag field lies beyond the " + std::to_string(kTagWindow >> 10) +
           " KiB of the certificate table that the launcher reads";
  if (found == 0) return "its signature holds no tag field: sign the release with the tag certificate added (-ac)";
  if (found > 1) return "its signature holds " + std::to_string(found) + " tag fields; refusing to guess";
  *field += pe.certificateOffset;
  if (!InsideOneCertificate(image, pe, *field - sizeof kTagMarker, *field + kTagLength))
    return "its tag field does not lie wholly inside one certificate of its signature, the only part that no "
           "signature covers; sign the release with the tag certificate added (-ac)";
  return "";
}

}  // namespace

std::string TagCertificate() {
  return "-----BEGIN CERTIFICATE-----\n" + Base64Lines(TagCertificateDer()) + "-----END CERTIFICATE-----\n";
}

std::string CheckTag(const std::string& tag) {
  if (tag.empty() || tag.size() > static_cast<size_t>(kTagLength))
    return "the tag is " + std::to_string(tag.size()) + " characters long; it must have 1 to 64";
  if (!IsTagStart(tag[0])) return "the tag must begin with an ASCII letter or digit, so that it never reads as an option";
  const std::string field = tag + std::string(kTagLength - tag.size(), ' ');
  if (TagLength(field.c_str()) != static_cast<int>(tag.size()))
    return "the tag may hold only ASCII letters, digits, '-' and '_': it names one page under the built-in address";
  return "";
}

std::string FindTaggableField(const Image& image, PeLayout* pe, size_t* field) {
  size_t slot = 0;
  std::string error = ReadPe(image, pe);
  if (!error.empty()) return error;
  if (pe->certificateSize == 0) return "it is unsigned: sign the release with the tag certificate added (-ac), then tag copies of it";
  if (!(error = FindSlot(image, *pe, &slot)).empty()) return error;
  const std::string address = SlotAddress(image, slot);
  if (!LauncherUsesAddress(address)) return "its built-in address " + address + " is a placeholder, which the launcher passes over";
  if (!TakesTag(address.c_str()))
    return "its built-in address " + address + " does not end with '/' after its host, so a tag could not choose a page under it";
  return FindField(image, *pe, field);
}

std::string WriteTag(Image& image, const std::string& tag) {
  PeLayout pe;
  size_t field = 0;
  const std::string error = FindTaggableField(image, &pe, &field);
  return error.empty() ? WriteTagAt(image, pe, field, tag) : error;
}

std::string WriteTagAt(Image& image, const PeLayout& pe, size_t field, const std::string& tag) {
  std::string error = CheckTag(tag);
  if (!error.empty()) return error;
  Image padded(kTagLength, ' ');
  std::copy(tag.begin(), tag.end(), padded.begin());
  PatchBytes(image, pe, field, padded);
  return "";
}

std::string ReadTag(const Image& image, const PeLayout& pe) {
  const char* table = reinterpret_cast<const char*>(image.data() + pe.certificateOffset);
  size_t field = 0;
  const int length = FindTag(table, pe.certificateSize, &field);
  return std::string(table + field, length);
}
