// The tag step of the edge worker, as a WebAssembly module over its own memory. The release
// is copied in once per isolate and checked; each download writes its tag into the release
// in place (only the field and the checksum change), and the worker copies the bytes out.
// Every rule about tags and launchers is tarvo-stamp's own: this file only passes bytes and
// lengths across.
#include <stdint.h>

#include "../tools/stamp/files.h"
#include "../tools/stamp/resources.h"
#include "../tools/stamp/signature.h"
#include "../tools/stamp/tag.h"
#include "../tools/stamp/version.h"

namespace {

constexpr uint32_t kTagCapacity = 4096;  // more than any URL segment a worker is handed

Image g_release;            // the signed release, tagged in place per download
bool g_tooLarge;            // the release was larger than tarvo-stamp reads, and is not here
PeLayout g_layout;          // the release's layout and its tag field's offset, once checked;
size_t g_field;             // 0 until check_release has found the field
char g_tag[kTagCapacity];   // the worker writes a download's tag here
std::string g_text;         // the last refusal, or the last text asked for
std::string g_version;      // the checked release's file version, "" when it has none to read

uint32_t Say(const std::string& text) {
  g_text = text;
  return static_cast<uint32_t>(g_text.size());
}

// The checked release's file version; "" when its resources cannot be read.
std::string ReleaseFileVersion() {
  std::vector<Resource> resources;
  return ReadResources(g_release, g_layout, &resources).empty() ? FileVersion(resources) : "";
}

}  // namespace

// Room for a release of size bytes; the worker copies the release there, and takes each
// tagged download out of the same place, which never moves afterwards. None (0) for a release
// larger than tarvo-stamp reads, which check_release then refuses.
extern "C" __attribute__((export_name("release_buffer"))) unsigned char* ReleaseBuffer(uint32_t size) {
  g_tooLarge = size > kLauncherFileLimit;
  g_release.assign(g_tooLarge ? 0 : size, 0);
  g_field = 0;
  return g_tooLarge ? nullptr : g_release.data();
}

// 0, or the length of the reason why the release takes no tag. The release never changes
// but for its tag, so it is checked and its field found once, not per download.
extern "C" __attribute__((export_name("check_release"))) uint32_t CheckRelease() {
  size_t field = 0;
  const uint32_t refused = Say(g_tooLarge ? "it is " + LargerThan(kLauncherFileLimit) : FindTaggableField(g_release, &g_layout, &field));
  g_field = refused ? 0 : field;
  g_version = refused ? "" : ReleaseFileVersion();
  return refused;
}

// The length of the checked release's file version in the text buffer; 0 when it has none.
extern "C" __attribute__((export_name("release_version"))) uint32_t ReleaseVersion() { return Say(g_version); }

extern "C" __attribute__((export_name("tag_buffer"))) char* TagBuffer() { return g_tag; }
extern "C" __attribute__((export_name("tag_capacity"))) uint32_t TagCapacity() { return kTagCapacity; }

// 0, or the length of the reason why the length bytes in the tag buffer are no tag.
extern "C" __attribute__((export_name("check_tag"))) uint32_t CheckTagBuffer(uint32_t length) {
  return Say(length > kTagCapacity ? "the tag is too long" : CheckTag(std::string(g_tag, length)));
}

// Writes the tag in the tag buffer into the checked release: 0, or the length of the refusal.
extern "C" __attribute__((export_name("tag_release"))) uint32_t TagRelease(uint32_t length) {
  if (g_field == 0) return Say("the release has not been checked, or takes no tag");
  return Say(length > kTagCapacity ? "the tag is too long" : WriteTagAt(g_release, g_layout, g_field, std::string(g_tag, length)));
}

extern "C" __attribute__((export_name("text"))) const char* Text() { return g_text.c_str(); }
