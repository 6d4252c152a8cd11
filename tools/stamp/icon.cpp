// Reading and checking .ico files, and the icon group that points at their images.
#include "icon.h"

#include <algorithm>

namespace {

constexpr size_t kHeaderSize = 6, kEntrySize = 16, kGroupEntrySize = 14;
constexpr uint32_t kEnglishUs = 1033;

uint32_t ReadBe(const Image& data, size_t at) {
  return static_cast<uint32_t>(data[at]) << 24 | data[at + 1] << 16 | data[at + 2] << 8 | data[at + 3];
}

// The pixel size an image really has, from its PNG header or its bitmap header.
bool ImageSize(const Image& data, uint32_t* width, uint32_t* height) {
  static const unsigned char kPng[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (data.size() >= 24 && std::equal(kPng, kPng + 8, data.begin()) && ReadBe(data, 12) == 0x49484452) {
    *width = ReadBe(data, 16);
    *height = ReadBe(data, 20);
    return true;
  }
  if (data.size() < 40 || ReadLe(data, 0, 4) < 40) return false;
  *width = ReadLe(data, 4, 4);
  *height = ReadLe(data, 8, 4) / 2;  // the colour rows and the mask rows
  return true;
}

}  // namespace

std::string ReadIconFile(const Image& file, std::vector<IconImage>* images) {
  if (file.size() > kIconFileLimit) return "the icon file is larger than 1 MiB";
  if (file.size() < kHeaderSize || ReadLe(file, 0, 2) != 0 || ReadLe(file, 2, 2) != 1 || ReadLe(file, 4, 2) == 0)
    return "not a Windows .ico file (bad header)";
  size_t count = ReadLe(file, 4, 2);
  if (count > kIconImageLimit) return "the icon file has more than " + std::to_string(kIconImageLimit) + " images";
  if (kHeaderSize + kEntrySize * count > file.size()) return "the icon file's entries run past its end";
  images->clear();
  // Each image is copied into the launcher, so entries that share bytes would multiply them.
  std::vector<std::pair<size_t, size_t>> ranges{{0, kHeaderSize + kEntrySize * count}};
  for (size_t i = 0; i < count; i++) {
    size_t entry = kHeaderSize + kEntrySize * i, number = i + 1;
    size_t bytes = ReadLe(file, entry + 8, 4), offset = ReadLe(file, entry + 12, 4);
    if (bytes == 0 || offset > file.size() || bytes > file.size() - offset)
      return "icon image " + std::to_string(number) + " lies outside the file";
    ranges.push_back({offset, offset + bytes});
    IconImage image{file[entry], file[entry + 1], file[entry + 2], static_cast<uint16_t>(ReadLe(file, entry + 4, 2)),
                    static_cast<uint16_t>(ReadLe(file, entry + 6, 2)),
                    Image(file.begin() + offset, file.begin() + offset + bytes)};
    uint32_t width = 0, height = 0, saidWidth = image.width ? image.width : 256, saidHeight = image.height ? image.height : 256;
    if (!ImageSize(image.data, &width, &height))
      return "icon image " + std::to_string(number) + " is neither a PNG nor a bitmap";
    if (width != saidWidth || height != saidHeight)
      return "icon image " + std::to_string(number) + " is " + std::to_string(width) + "x" + std::to_string(height) +
             " pixels, but its entry says " + std::to_string(saidWidth) + "x" + std::to_string(saidHeight);
    images->push_back(image);
  }
  std::sort(ranges.begin(), ranges.end());
  for (size_t i = 1; i < ranges.size(); i++)
    if (ranges[i].first < ranges[i - 1].second) return "icon images overlap each other or the entries";
  return "";
}

void ReplaceIcon(std::vector<Resource>& resources, const std::vector<IconImage>& images) {
  uint32_t language = kEnglishUs;
  for (const Resource& r : resources)
    if (r.type == kRtGroupIcon && r.id == 1) language = r.language;
  resources.erase(std::remove_if(resources.begin(), resources.end(), [](const Resource& r) {
                    return r.type == kRtIcon || (r.type == kRtGroupIcon && r.id == 1);
                  }), resources.end());
  Image group(kHeaderSize + kGroupEntrySize * images.size(), 0);
  WriteLe(group, 2, 1, 2);
  WriteLe(group, 4, static_cast<uint32_t>(images.size()), 2);
  for (size_t i = 0; i < images.size(); i++) {
    const IconImage& image = images[i];
    size_t entry = kHeaderSize + kGroupEntrySize * i;
    // The resource compiler's defaults for an entry that leaves planes or bit count at 0.
    uint16_t bits = image.bits;
    if (bits == 0)
      while ((1u << bits) < image.colours) bits++;
    group[entry] = image.width;
    group[entry + 1] = image.height;
    group[entry + 2] = image.colours;
    WriteLe(group, entry + 4, image.planes ? image.planes : 1, 2);
    WriteLe(group, entry + 6, bits, 2);
    WriteLe(group, entry + 8, static_cast<uint32_t>(image.data.size()), 4);
    WriteLe(group, entry + 12, static_cast<uint32_t>(i + 1), 2);
    resources.push_back({kRtIcon, static_cast<uint32_t>(i + 1), language, image.data});
  }
  resources.push_back({kRtGroupIcon, 1, language, group});
}

std::vector<unsigned> IconSizes(const std::vector<Resource>& resources) {
  std::vector<unsigned> sizes;
  for (const Resource& r : resources) {
    if (r.type != kRtGroupIcon || r.id != 1 || r.data.size() < kHeaderSize) continue;
    for (size_t entry = kHeaderSize; entry + kGroupEntrySize <= r.data.size() && sizes.size() < ReadLe(r.data, 4, 2);
         entry += kGroupEntrySize)
      sizes.push_back(r.data[entry] ? r.data[entry] : 256);
  }
  return sizes;
}
