#include "pe/version_info.h"

#include <algorithm>
#include <charconv>

#include "pe/little_endian.h"
#include "pe/utf16.h"

namespace {
constexpr std::uint32_t kFixedSignature = 0xFEEF04BDu;
constexpr std::size_t kFixedSize = 52;
constexpr std::size_t kFixedFileVersion = 8;      // dwFileVersionMS, then LS
constexpr std::size_t kFixedProductVersion = 16;  // dwProductVersionMS, then LS
constexpr std::size_t kBlockHeaderSize = 6;
constexpr int kMaxDepth = 8;  // real resources nest four deep
constexpr std::uint16_t kUnicodeCodePage = 1200;

constexpr std::u16string_view kStringFileInfo = u"StringFileInfo";
constexpr std::u16string_view kVarFileInfo = u"VarFileInfo";
constexpr std::u16string_view kTranslation = u"Translation";

constexpr std::string_view kStandardKeys[] = {
    "Comments",     "CompanyName",    "FileDescription", "FileVersion",
    "InternalName", "LegalCopyright", "LegalTrademarks", "OriginalFilename",
    "PrivateBuild", "ProductName",    "ProductVersion",  "SpecialBuild"};

std::size_t Align4(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

bool ParseBlock(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t end, int depth,
                VersionBlock* block, std::string* error) {
  if (depth > kMaxDepth) {
    *error = "the version information is nested too deeply";
    return false;
  }
  if (end - at < kBlockHeaderSize || Le16(&bytes[at]) < kBlockHeaderSize ||
      Le16(&bytes[at]) > end - at) {
    *error = "a block of the version information runs past its parent";
    return false;
  }
  const std::size_t blockEnd = at + Le16(&bytes[at]);
  const std::size_t valueLength = Le16(&bytes[at + 2]);
  block->type = Le16(&bytes[at + 4]);
  std::size_t p = at + kBlockHeaderSize;
  block->key.clear();
  for (; p + 2 <= blockEnd && Le16(&bytes[p]); p += 2)
    block->key += static_cast<char16_t>(Le16(&bytes[p]));
  if (p + 2 > blockEnd) {
    *error = "a key of the version information lacks its terminator";
    return false;
  }
  p = std::min(Align4(p + 2), blockEnd);
  std::size_t valueBytes = block->type == 1 ? 2 * valueLength : valueLength;
  // Some compilers count a text value in bytes rather than in characters; a text is whole
  // UTF-16 units either way.
  if (valueBytes > blockEnd - p && block->type == 1 && valueLength <= blockEnd - p) {
    valueBytes = valueLength & ~std::size_t{1};
  }
  if (valueBytes > blockEnd - p) {
    *error = "a value of the version information runs past its block";
    return false;
  }
  block->value.assign(bytes.begin() + static_cast<std::ptrdiff_t>(p),
                      bytes.begin() + static_cast<std::ptrdiff_t>(p + valueBytes));
  block->children.clear();
  for (p = Align4(p + valueBytes); p < blockEnd; p = Align4(p)) {
    VersionBlock child;
    if (!ParseBlock(bytes, p, blockEnd, depth + 1, &child, error)) return false;
    p += Le16(&bytes[p]);
    block->children.push_back(std::move(child));
  }
  return true;
}

bool WriteBlock(const VersionBlock& block, std::vector<std::uint8_t>* out, std::string* error) {
  const std::size_t start = out->size();
  out->resize(start + kBlockHeaderSize);
  for (char16_t c : block.key) {
    out->push_back(static_cast<std::uint8_t>(c));
    out->push_back(static_cast<std::uint8_t>(c >> 8));
  }
  out->resize(Align4(out->size() + 2));
  out->insert(out->end(), block.value.begin(), block.value.end());
  for (const VersionBlock& child : block.children) {
    out->resize(Align4(out->size()));
    if (!WriteBlock(child, out, error)) return false;
  }
  const std::size_t length = out->size() - start;
  const std::size_t valueLength = block.type == 1 ? block.value.size() / 2 : block.value.size();
  if (length > 0xFFFF) {
    *error = "its texts would make it longer than 65535 bytes";
    return false;
  }
  Put16(&(*out)[start], static_cast<std::uint16_t>(length));
  Put16(&(*out)[start + 2], static_cast<std::uint16_t>(valueLength));
  Put16(&(*out)[start + 4], block.type);
  return true;
}

VersionBlock* Child(VersionBlock* block, std::u16string_view key) {
  for (VersionBlock& c : block->children) {
    if (c.key == key) return &c;
  }
  return nullptr;
}

std::vector<std::uint8_t> TextValue(std::u16string_view text) {
  std::vector<std::uint8_t> value;
  for (char16_t c : text) {
    value.push_back(static_cast<std::uint8_t>(c));
    value.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  value.insert(value.end(), {0, 0});
  return value;
}

std::u16string Ascii16(std::string_view text) { return std::u16string(text.begin(), text.end()); }

// "080404b0": the language and the code page in hex, as string tables are keyed.
std::u16string TableKey(std::uint16_t language, std::uint16_t codePage) {
  static const char digits[] = "0123456789abcdef";
  std::u16string key;
  for (std::uint16_t v : {language, codePage}) {
    for (int shift = 12; shift >= 0; shift -= 4)
      key += static_cast<char16_t>(digits[v >> shift & 15]);
  }
  return key;
}

void SetText(VersionBlock* table, std::u16string_view key, std::u16string_view text) {
  VersionBlock* b = Child(table, key);
  if (!b) {
    table->children.push_back(VersionBlock{std::u16string(key), 1, {}, {}});
    b = &table->children.back();
  }
  b->type = 1;
  b->value = TextValue(text);
}

void SetNumber(VersionBlock* root, std::size_t offset, const VersionNumber& n) {
  Put32(&root->value[offset], std::uint32_t{n[0]} << 16 | n[1]);
  Put32(&root->value[offset + 4], std::uint32_t{n[2]} << 16 | n[3]);
}
}  // namespace

bool ParseVersionNumber(std::string_view text, VersionNumber* number) {
  *number = {};
  std::size_t part = 0;
  const char* p = text.data();
  const char* end = text.data() + text.size();
  while (true) {
    if (part == number->size() || p == end || *p < '0' || *p > '9') return false;
    unsigned value = 0;
    const auto [next, ec] = std::from_chars(p, end, value);
    if (ec != std::errc() || value > 0xFFFF) return false;
    (*number)[part++] = static_cast<std::uint16_t>(value);
    p = next;
    if (p == end) return true;
    if (*p++ != '.') return false;
  }
}

std::string VersionNumberText(const VersionNumber& n) {
  return std::to_string(n[0]) + "." + std::to_string(n[1]) + "." + std::to_string(n[2]) + "." +
         std::to_string(n[3]);
}

bool ParseVersionInfo(std::span<const std::uint8_t> bytes, VersionBlock* root, std::string* error) {
  if (!ParseBlock(bytes, 0, bytes.size(), 0, root, error)) return false;
  if (root->key != u"VS_VERSION_INFO" || root->value.size() != kFixedSize ||
      Le32(root->value.data()) != kFixedSignature) {
    *error = "the version information does not start with its fixed record";
    return false;
  }
  return true;
}

bool WriteVersionInfo(const VersionBlock& root, std::vector<std::uint8_t>* bytes,
                      std::string* error) {
  bytes->clear();
  return WriteBlock(root, bytes, error);
}

std::string_view StandardVersionKeyFor(std::string_view key) {
  for (std::string_view standard : kStandardKeys) {
    if (standard.size() == key.size() && standard != key &&
        std::equal(key.begin(), key.end(), standard.begin(),
                   [](char a, char b) { return (a | 0x20) == (b | 0x20); })) {
      return standard;
    }
  }
  return {};
}

VersionBlock EmptyVersionInfo(std::uint16_t language) {
  VersionBlock root{u"VS_VERSION_INFO", 0, std::vector<std::uint8_t>(kFixedSize), {}};
  Put32(&root.value[0], kFixedSignature);
  Put32(&root.value[4], 0x10000);   // structure version 1.0
  Put32(&root.value[32], 0x40004);  // VOS_NT_WINDOWS32
  Put32(&root.value[36], 1);        // VFT_APP
  VersionBlock table{TableKey(language, kUnicodeCodePage), 1, {}, {}};
  root.children.push_back(VersionBlock{std::u16string(kStringFileInfo), 1, {}, {table}});
  std::vector<std::uint8_t> pair(4);
  Put16(&pair[0], language);
  Put16(&pair[2], kUnicodeCodePage);
  VersionBlock translation{std::u16string(kTranslation), 0, pair, {}};
  root.children.push_back(VersionBlock{std::u16string(kVarFileInfo), 1, {}, {translation}});
  return root;
}

bool ApplyVersionChanges(const VersionChanges& changes, VersionBlock* root, std::string* error) {
  std::vector<std::pair<std::u16string, std::u16string>> texts;
  auto given = [&](std::string_view key) {
    return std::any_of(changes.strings.begin(), changes.strings.end(),
                       [&](const auto& s) { return s.first == key; });
  };
  if (changes.fileVersion && !given("FileVersion")) {
    texts.emplace_back(u"FileVersion", Ascii16(VersionNumberText(*changes.fileVersion)));
  }
  if (changes.productVersion && !given("ProductVersion")) {
    texts.emplace_back(u"ProductVersion", Ascii16(VersionNumberText(*changes.productVersion)));
  }
  for (const auto& [key, value] : changes.strings) {
    std::u16string k, v;
    if (!Utf8ToUtf16(key, &k) || !Utf8ToUtf16(value, &v)) {
      *error = "version text " + key + " is not valid UTF-8";
      return false;
    }
    texts.emplace_back(std::move(k), std::move(v));
  }

  if (changes.fileVersion) SetNumber(root, kFixedFileVersion, *changes.fileVersion);
  if (changes.productVersion) SetNumber(root, kFixedProductVersion, *changes.productVersion);

  VersionBlock* strings = Child(root, kStringFileInfo);
  if (!strings && !texts.empty()) {
    root->children.insert(root->children.begin(),
                          VersionBlock{std::u16string(kStringFileInfo), 1, {}, {}});
    strings = &root->children.front();
  }
  if (strings && strings->children.empty() && !texts.empty()) {
    strings->children.push_back(
        VersionBlock{TableKey(changes.language.value_or(0x0409), kUnicodeCodePage), 1, {}, {}});
  }
  if (strings) {
    for (VersionBlock& table : strings->children) {
      for (const auto& text : texts) {
        if (text.second.empty()) {
          std::erase_if(table.children, [&](const VersionBlock& b) { return b.key == text.first; });
        } else {
          SetText(&table, text.first, text.second);
        }
      }
      if (changes.language && table.key.size() == 8) {
        table.key.replace(0, 4, TableKey(*changes.language, 0).substr(0, 4));
      }
    }
  }
  if (changes.language) {
    if (VersionBlock* vars = Child(root, kVarFileInfo)) {
      if (VersionBlock* translation = Child(vars, kTranslation)) {
        for (std::size_t i = 0; i + 4 <= translation->value.size(); i += 4) {
          Put16(&translation->value[i], *changes.language);
        }
      }
    }
  }
  return true;
}
