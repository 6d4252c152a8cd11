// The version block as a tree of nodes (length, value length, type, key, value, children,
// each on a 4-byte boundary), read and written back as the resource compiler writes it.
#include "version.h"

namespace {

struct Node {
  std::u16string key;
  uint16_t valueLength = 0, type = 0;  // type 1: the value is text, its length in characters
  Image value;
  std::vector<Node> children;
};

size_t Align4(size_t value) { return (value + 3) & ~static_cast<size_t>(3); }

// A launcher's block nests four deep (root, StringFileInfo, table, string); a crafted one
// could nest thousands deep and exhaust the stack.
constexpr int kDepthLimit = 8;
constexpr size_t kNodeLimit = 0xFFFF;  // the length field's 16 bits

bool ParseNode(const Image& block, size_t at, size_t end, Node* node, int depth = 1) {
  if (at + 6 > end || depth > kDepthLimit) return false;
  size_t length = ReadLe(block, at, 2);
  node->valueLength = static_cast<uint16_t>(ReadLe(block, at + 2, 2));
  node->type = static_cast<uint16_t>(ReadLe(block, at + 4, 2));
  if (length < 6 || length > end - at) return false;
  end = at + length;
  size_t key = at + 6;
  for (; key + 2 <= end && ReadLe(block, key, 2) != 0; key += 2) node->key += static_cast<char16_t>(ReadLe(block, key, 2));
  if (key + 2 > end) return false;
  size_t value = Align4(key + 2), valueBytes = node->valueLength * (node->type == 1 ? 2u : 1u);
  if (valueBytes == 0 && value >= end) return true;  // a bare key, its padding not counted
  if (value > end || valueBytes > end - value) return false;
  node->value.assign(block.begin() + value, block.begin() + value + valueBytes);
  for (size_t child = Align4(value + valueBytes); child < end; child = Align4(child + ReadLe(block, child, 2))) {
    node->children.emplace_back();
    if (child + 2 > end || !ParseNode(block, child, end, &node->children.back(), depth + 1)) return false;
  }
  return true;
}

// False when a node would be longer than its 16-bit length can say.
bool WriteNode(const Node& node, Image& out) {
  size_t at = out.size();
  out.resize(at + 6);
  WriteLe(out, at + 2, node.valueLength, 2);
  WriteLe(out, at + 4, node.type, 2);
  for (char16_t c : node.key) out.push_back(c & 0xFF), out.push_back(c >> 8);
  out.push_back(0), out.push_back(0);
  out.resize(at + Align4(out.size() - at), 0);
  out.insert(out.end(), node.value.begin(), node.value.end());
  for (const Node& child : node.children) {
    out.resize(at + Align4(out.size() - at), 0);
    if (!WriteNode(child, out)) return false;
  }
  if (out.size() - at > kNodeLimit) return false;
  WriteLe(out, at, static_cast<uint32_t>(out.size() - at), 2);
  return true;
}

const Node* FindString(const Node& node, const std::u16string& key) {
  if (node.type == 1 && node.key == key) return &node;
  for (const Node& child : node.children)
    if (const Node* found = FindString(child, key)) return found;
  return nullptr;
}

void AppendUtf8(uint32_t point, std::string* text) {
  if (point < 0x80) {
    *text += static_cast<char>(point);
    return;
  }
  const int extra = point < 0x800 ? 1 : point < 0x10000 ? 2 : 3;
  static const unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
  *text += static_cast<char>(kLead[extra] | point >> (6 * extra));
  for (int i = extra - 1; i >= 0; i--) *text += static_cast<char>(0x80 | ((point >> (6 * i)) & 0x3F));
}

void SetStrings(Node& node, const std::u16string& name) {
  if (node.type == 1 && (node.key == u"FileDescription" || node.key == u"ProductName")) {
    node.valueLength = static_cast<uint16_t>(name.size() + 1);
    node.value.clear();
    for (char16_t c : name) node.value.push_back(c & 0xFF), node.value.push_back(c >> 8);
    node.value.push_back(0), node.value.push_back(0);
  }
  for (Node& child : node.children) SetStrings(child, name);
}

}  // namespace

// The next code point of UTF-8 text, or false for a malformed, overlong or surrogate one.
bool NextCodePoint(const std::string& text, size_t* at, uint32_t* point) {
  static const uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  unsigned char lead = text[*at];
  size_t extra = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : (lead & 0xF8) == 0xF0 ? 3 : 4;
  if (extra == 4 || text.size() - *at <= extra) return false;
  *point = extra == 0 ? lead : lead & (0x3F >> extra);
  for (size_t i = 1; i <= extra; i++) {
    unsigned char next = text[*at + i];
    if ((next & 0xC0) != 0x80) return false;
    *point = *point << 6 | (next & 0x3F);
  }
  *at += extra + 1;
  return *point >= kSmallest[extra] && *point <= 0x10FFFF && !(*point >= 0xD800 && *point <= 0xDFFF);
}

std::string CheckName(const std::string& name, std::u16string* utf16) {
  utf16->clear();
  size_t characters = 0;
  for (size_t at = 0; at < name.size(); characters++) {
    uint32_t point = 0;
    if (!NextCodePoint(name, &at, &point)) return "the name is not UTF-8 text";
    if (point < 0x20 || (point >= 0x7F && point <= 0x9F)) return "the name holds a control character";
    if (point < 0x10000) {
      *utf16 += static_cast<char16_t>(point);
    } else {
      *utf16 += static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10));
      *utf16 += static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF));
    }
  }
  if (characters == 0 || characters > kNameCharacters)
    return "the name is " + std::to_string(characters) + " characters long; it must have 1 to 64";
  return "";
}

std::string SetVersionName(std::vector<Resource>& resources, const std::u16string& name) {
  for (Resource& r : resources) {
    if (r.type != kRtVersion || r.id != 1) continue;
    Node root;
    if (!ParseNode(r.data, 0, r.data.size(), &root) || root.key != u"VS_VERSION_INFO")
      return "the version block cannot be read";
    SetStrings(root, name);
    Image block;
    if (!WriteNode(root, block)) return "the version block would be longer than 65,535 bytes with this name";
    r.data = block;
    return "";
  }
  return "the launcher has no version block";
}

std::string VersionName(const std::vector<Resource>& resources) {
  std::string text;
  for (const Resource& r : resources) {
    Node root;
    const Node* name = nullptr;
    if (r.type != kRtVersion || r.id != 1 || !ParseNode(r.data, 0, r.data.size(), &root) ||
        (name = FindString(root, u"FileDescription")) == nullptr)
      continue;
    // A lone surrogate, which a crafted block may hold, is shown as U+FFFD.
    for (size_t at = 0; at + 1 < name->value.size(); at += 2) {
      uint32_t unit = ReadLe(name->value, at, 2), next = at + 3 < name->value.size() ? ReadLe(name->value, at + 2, 2) : 0;
      if (unit == 0) break;
      if (unit >= 0xD800 && unit < 0xDC00 && next >= 0xDC00 && next < 0xE000) {
        AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00), &text);
        at += 2;
      } else {
        AppendUtf8(unit >= 0xD800 && unit < 0xE000 ? 0xFFFD : unit, &text);
      }
    }
  }
  return text;
}

std::string FileVersion(const std::vector<Resource>& resources) {
  constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;
  for (const Resource& r : resources) {
    Node root;
    if (r.type != kRtVersion || r.id != 1 || !ParseNode(r.data, 0, r.data.size(), &root) || root.key != u"VS_VERSION_INFO" ||
        root.value.size() < 16 || ReadLe(root.value, 0, 4) != kFixedInfoSignature)
      continue;
    const uint32_t high = ReadLe(root.value, 8, 4), low = ReadLe(root.value, 12, 4);
    return std::to_string(high >> 16) + "." + std::to_string(high & 0xFFFF) + "." + std::to_string(low >> 16) + "." +
           std::to_string(low & 0xFFFF);
  }
  return "";
}
