// Reading and rebuilding .rsrc. The layout is the one windres and ld give: the root
// directory, then per type its id directory and the language directories of its ids, then
// the data entries, then the data, each item on an 8-byte boundary.
#include "resources.h"

#include <algorithm>
#include <set>

namespace {

constexpr uint32_t kSubdirectory = 0x80000000u;
constexpr size_t kDirectorySize = 16, kDirectoryEntrySize = 8, kDataEntrySize = 16;
// A launcher has 7 resources; a branded one at most 64 images, their group and the version.
constexpr size_t kResourceLimit = 128;

size_t AlignUp(size_t value, size_t alignment) { return (value + alignment - 1) / alignment * alignment; }

struct Place {
  const Section* resources;
  const Section* relocations;  // null when the image has none
};

// Rebuilding moves everything after .rsrc, so only .reloc may follow it, in the file and in
// memory, and nothing may follow .reloc. ReadPe has put every section within the file.
std::string FindPlace(const Image& image, const PeLayout& pe, Place* place) {
  const std::vector<Section>& s = pe.sections;
  size_t count = s.size();
  bool endsWithReloc = count >= 2 && s[count - 1].name == ".reloc" && s[count - 2].name == ".rsrc";
  if (!endsWithReloc && !(count >= 1 && s[count - 1].name == ".rsrc"))
    return "the resource section is not the last section but for .reloc; tarvo-stamp cannot rebuild it";
  place->resources = &s[count - (endsWithReloc ? 2 : 1)];
  place->relocations = endsWithReloc ? &s[count - 1] : nullptr;
  const Section& rsrc = *place->resources;
  const Section& last = s[count - 1];
  bool packed = !endsWithReloc || size_t{rsrc.rawOffset} + rsrc.rawSize == last.rawOffset;
  const size_t end = pe.certificateSize != 0 ? pe.certificateOffset : image.size();  // --show reads signed ones
  if (!packed || size_t{last.rawOffset} + last.rawSize != end || rsrc.rawSize < rsrc.virtualSize)
    return "the resource section is not laid out where tarvo-stamp can rebuild it";
  size_t table = DirectoryEntry(pe, kResourceTable);
  if (ReadLe(image, table, 4) != rsrc.virtualAddress || ReadLe(image, table + 4, 4) > rsrc.virtualSize)
    return "the resource table does not lie at the start of .rsrc";
  return "";
}

// The tree is read only in the shape a launcher's has, so that nothing in it can be reached
// twice and no crafted count can make the output larger than the input.
struct Reader {
  const Image& image;
  size_t base, size;
  uint32_t virtualAddress;
  std::vector<Resource>* out;
  std::set<size_t> reached{};  // directories and data entries
  size_t dataBytes = 0;

  bool Within(size_t at, size_t bytes) const { return at <= size && bytes <= size - at; }

  // Levels: 0 type, 1 id, 2 language; ids only, ascending, as a launcher's resources have no names.
  std::string Walk(size_t directory, int level, Resource resource) {
    if (!Within(directory, kDirectorySize)) return "a resource directory lies outside .rsrc";
    if (!reached.insert(directory).second) return "a resource directory is reached twice";
    size_t named = ReadLe(image, base + directory + 12, 2), ids = ReadLe(image, base + directory + 14, 2);
    if (named != 0) return "named resources, which a launcher never has";
    if (!Within(directory + kDirectorySize, kDirectoryEntrySize * ids)) return "a resource directory lies outside .rsrc";
    if (level == 2 && ids != 1) return "a resource in more than one language, or in none";
    for (size_t i = 0; i < ids; i++) {
      size_t entry = base + directory + kDirectorySize + kDirectoryEntrySize * i;
      uint32_t id = ReadLe(image, entry, 4), target = ReadLe(image, entry + 4, 4);
      if (id & kSubdirectory) return "a resource id with the name bit set";
      if (i > 0 && id <= ReadLe(image, entry - kDirectoryEntrySize, 4)) return "resource ids repeated or out of order";
      if (level == 0 && id != kRtIcon && id != kRtGroupIcon && id != kRtVersion)
        return "resources of type " + std::to_string(id) + ", which a launcher never has";
      if (level == 1 && resource.type != kRtIcon && id != 1) return "an icon group or version block numbered other than 1";
      (level == 0 ? resource.type : level == 1 ? resource.id : resource.language) = id;
      bool subdirectory = (target & kSubdirectory) != 0;
      if (subdirectory != (level < 2)) return "resource directories nested unlike a launcher's";
      std::string error = subdirectory ? Walk(target & ~kSubdirectory, level + 1, resource) : Leaf(target, resource);
      if (!error.empty()) return error;
    }
    return "";
  }

  std::string Leaf(size_t entry, Resource resource) {
    if (!Within(entry, kDataEntrySize)) return "a resource data entry lies outside .rsrc";
    if (!reached.insert(entry).second) return "a resource data entry is reached twice";
    if (out->size() == kResourceLimit) return "more than " + std::to_string(kResourceLimit) + " resources";
    uint32_t rva = ReadLe(image, base + entry, 4), bytes = ReadLe(image, base + entry + 4, 4);
    if (rva < virtualAddress || !Within(rva - virtualAddress, bytes)) return "resource data lies outside .rsrc";
    // More data than the section holds means that some of it is shared.
    if ((dataBytes += bytes) > size) return "resources share their data";
    size_t at = base + rva - virtualAddress;
    resource.data.assign(image.begin() + at, image.begin() + at + bytes);
    out->push_back(resource);
    return "";
  }
};

Image BuildSection(const std::vector<Resource>& resources, uint32_t virtualAddress) {
  std::vector<uint32_t> types;
  for (const Resource& r : resources)
    if (types.empty() || types.back() != r.type) types.push_back(r.type);
  auto ofType = [&](uint32_t type) {
    std::vector<const Resource*> found;
    for (const Resource& r : resources)
      if (r.type == type) found.push_back(&r);
    return found;
  };
  // The root, then per type an id directory and a one-entry language directory per id.
  size_t directories = kDirectorySize + kDirectoryEntrySize * types.size();
  for (uint32_t type : types)
    directories += kDirectorySize + ofType(type).size() * (kDirectoryEntrySize + kDirectorySize + kDirectoryEntrySize);
  size_t dataEntries = directories, data = dataEntries + kDataEntrySize * resources.size(), size = data;
  for (const Resource& r : resources) size = AlignUp(size + r.data.size(), 8);
  Image out(size, 0);

  auto directory = [&](size_t at, size_t entries) { WriteLe(out, at + 14, static_cast<uint32_t>(entries), 2); };
  directory(0, types.size());
  size_t next = kDirectorySize + kDirectoryEntrySize * types.size(), leaf = 0;
  for (size_t t = 0; t < types.size(); t++) {
    std::vector<const Resource*> found = ofType(types[t]);
    WriteLe(out, kDirectorySize + kDirectoryEntrySize * t, types[t], 4);
    WriteLe(out, kDirectorySize + kDirectoryEntrySize * t + 4, static_cast<uint32_t>(next) | kSubdirectory, 4);
    size_t ids = next;
    directory(ids, found.size());
    next += kDirectorySize + kDirectoryEntrySize * found.size();
    for (size_t i = 0; i < found.size(); i++, leaf++) {
      WriteLe(out, ids + kDirectorySize + kDirectoryEntrySize * i, found[i]->id, 4);
      WriteLe(out, ids + kDirectorySize + kDirectoryEntrySize * i + 4, static_cast<uint32_t>(next) | kSubdirectory, 4);
      directory(next, 1);
      WriteLe(out, next + kDirectorySize, found[i]->language, 4);
      WriteLe(out, next + kDirectorySize + 4, static_cast<uint32_t>(dataEntries + kDataEntrySize * leaf), 4);
      next += kDirectorySize + kDirectoryEntrySize;
    }
  }
  for (size_t i = 0; i < resources.size(); i++) {
    WriteLe(out, dataEntries + kDataEntrySize * i, static_cast<uint32_t>(virtualAddress + data), 4);
    WriteLe(out, dataEntries + kDataEntrySize * i + 4, static_cast<uint32_t>(resources[i].data.size()), 4);
    std::copy(resources[i].data.begin(), resources[i].data.end(), out.begin() + data);
    data = AlignUp(data + resources[i].data.size(), 8);
  }
  return out;
}

}  // namespace

std::string ReadResources(const Image& image, const PeLayout& pe, std::vector<Resource>* resources) {
  Place place;
  std::string error = FindPlace(image, pe, &place);
  if (!error.empty()) return error;
  resources->clear();
  Reader reader{image, place.resources->rawOffset, place.resources->virtualSize, place.resources->virtualAddress,
                resources};
  return reader.Walk(0, 0, Resource{});
}

std::string WriteResources(Image& image, const PeLayout& pe, const std::vector<Resource>& unordered) {
  // The signature covers the resources, and the table that follows them would be cut off.
  if (pe.certificateSize != 0) return "it is signed: its resources are rebuilt only once its signature is removed";
  Place place;
  std::string error = FindPlace(image, pe, &place);
  if (!error.empty()) return error;
  std::vector<Resource> resources = unordered;
  std::stable_sort(resources.begin(), resources.end(), [](const Resource& a, const Resource& b) {
    return a.type != b.type ? a.type < b.type : a.id != b.id ? a.id < b.id : a.language < b.language;
  });
  const Section rsrc = *place.resources;
  const size_t fileAlignment = ReadLe(image, pe.optionalHeader + kFileAlignment, 4);
  const size_t sectionAlignment = ReadLe(image, pe.optionalHeader + kSectionAlignment, 4);
  Image section = BuildSection(resources, rsrc.virtualAddress);
  const uint32_t virtualSize = static_cast<uint32_t>(section.size());
  const uint32_t rawSize = static_cast<uint32_t>(AlignUp(virtualSize, fileAlignment));
  section.resize(rawSize, 0);

  Image relocations;
  if (place.relocations)
    relocations.assign(image.begin() + place.relocations->rawOffset, image.end());
  image.resize(rsrc.rawOffset);
  image.insert(image.end(), section.begin(), section.end());
  image.insert(image.end(), relocations.begin(), relocations.end());

  WriteLe(image, rsrc.header + 8, virtualSize, 4);
  WriteLe(image, rsrc.header + 16, rawSize, 4);
  WriteLe(image, DirectoryEntry(pe, kResourceTable) + 4, virtualSize, 4);
  uint32_t end = static_cast<uint32_t>(AlignUp(rsrc.virtualAddress + virtualSize, sectionAlignment));
  if (place.relocations) {
    const Section& reloc = *place.relocations;
    WriteLe(image, reloc.header + 12, end, 4);
    WriteLe(image, reloc.header + 20, static_cast<uint32_t>(rsrc.rawOffset + rawSize), 4);
    size_t entry = DirectoryEntry(pe, kBaseRelocationTable);
    uint32_t relocationTable = ReadLe(image, entry, 4);
    if (relocationTable >= reloc.virtualAddress) WriteLe(image, entry, relocationTable - reloc.virtualAddress + end, 4);
    // The loader maps the raw size of a section that gives no virtual size.
    end = static_cast<uint32_t>(AlignUp(end + (reloc.virtualSize ? reloc.virtualSize : reloc.rawSize), sectionAlignment));
  }
  WriteLe(image, pe.optionalHeader + kSizeOfImage, end, 4);
  size_t initialized = pe.optionalHeader + kSizeOfInitializedData;
  WriteLe(image, initialized, ReadLe(image, initialized, 4) - rsrc.rawSize + rawSize, 4);
  UpdateChecksum(image, pe);
  return "";
}
