#include "pe/publisher_resources.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>

#include "pe/image.h"
#include "payload/entry_format.h"

namespace {
using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes* b, std::size_t at, std::uint16_t v) {
  (*b)[at] = static_cast<std::uint8_t>(v);
  (*b)[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// A 16x16 icon image with 16 colours: header, palette, 4-bit pixels and the 1-bit mask.
Bytes Bitmap16() {
  Bytes b(40 + 16 * 4 + 8 * 16 + 4 * 16, 0x11);
  WriteLe32(&b[0], 40);
  WriteLe32(&b[4], 16);
  WriteLe32(&b[8], 32);
  Put16(&b, 12, 1);
  Put16(&b, 14, 4);
  WriteLe32(&b[16], 0);
  WriteLe32(&b[32], 0);
  return b;
}

// A PNG stream as an icon holds it; only what the reader looks at is real.
Bytes Png(std::uint32_t side) {
  Bytes b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  for (int shift : {24, 16, 8, 0}) b.push_back(static_cast<std::uint8_t>(side >> shift));
  for (int shift : {24, 16, 8, 0}) b.push_back(static_cast<std::uint8_t>(side >> shift));
  b.insert(b.end(), {8, 6, 0, 0, 0, 1, 2, 3, 4});  // RGBA, 8 bits; CRC
  b.insert(b.end(), {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82});
  return b;
}

// An .ico of a 16-pixel bitmap (directory fields left 0, as some tools write them) and a
// 256-pixel PNG.
Bytes IconFile() {
  const Bytes bitmap = Bitmap16(), png = Png(256);
  Bytes f(6 + 2 * 16, 0);
  Put16(&f, 2, 1);
  Put16(&f, 4, 2);
  f[6] = 16, f[7] = 16, f[8] = 16;
  WriteLe32(&f[6 + 8], static_cast<std::uint32_t>(bitmap.size()));
  WriteLe32(&f[6 + 12], static_cast<std::uint32_t>(f.size()));
  Put16(&f, 22 + 4, 1);
  Put16(&f, 22 + 6, 32);
  WriteLe32(&f[22 + 8], static_cast<std::uint32_t>(png.size()));
  WriteLe32(&f[22 + 12], static_cast<std::uint32_t>(f.size() + bitmap.size()));
  f.insert(f.end(), bitmap.begin(), bitmap.end());
  f.insert(f.end(), png.begin(), png.end());
  return f;
}

constexpr std::size_t kBitmapAt = 6 + 2 * 16;

TEST(IconFile, ReadsEveryImageAndNamesThemInTheGroup) {
  std::vector<IconImage> images;
  std::string error;
  ASSERT_TRUE(ParseIconFile(IconFile(), &images, &error)) << error;
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(images[0].data, Bitmap16());
  EXPECT_EQ(images[1].data, Png(256));
  // Planes and depth left 0 in the file come from the images themselves.
  EXPECT_EQ(images[0].planes, 1);
  EXPECT_EQ(images[0].bitCount, 4);
  EXPECT_EQ(images[1].width, 0);  // 256
  const std::uint16_t ids[] = {7, 9};
  const Bytes group = MakeIconGroup(images, ids);
  ASSERT_EQ(group.size(), 6u + 2 * 14);
  EXPECT_EQ(ReadLe32(&group[6 + 8]), Bitmap16().size());
  std::vector<std::uint16_t> read;
  ASSERT_TRUE(ReadIconGroupIds(group, &read));
  EXPECT_EQ(read, (std::vector<std::uint16_t>{7, 9}));
}

TEST(IconFile, RefusesMalformedFilesSayingWhatIsWrong) {
  struct Case {
    const char* what;
    std::function<void(Bytes*)> spoil;
    const char* complaint;
  };
  const Case cases[] = {
      {"empty", [](Bytes* f) { f->clear(); }, "too short for its header"},
      {"a PNG file", [](Bytes* f) { *f = Png(32); }, "a PNG image, not an icon file"},
      {"a bitmap file", [](Bytes* f) { (*f)[0] = 'B', (*f)[1] = 'M'; }, "not an icon file"},
      {"a cursor", [](Bytes* f) { (*f)[2] = 2; }, "a cursor file"},
      {"no image", [](Bytes* f) { (*f)[4] = 0; }, "without any image"},
      {"directory cut", [](Bytes* f) { f->resize(20); }, "truncated: its directory"},
      {"last image cut", [](Bytes* f) { f->pop_back(); }, "not all in the file"},
      {"image before the data", [](Bytes* f) { (*f)[6 + 12] = 8; }, "overlaps the directory"},
      {"image of no bytes", [](Bytes* f) { WriteLe32(&(*f)[6 + 8], 0); }, "has no data"},
      {"bitmap height not doubled", [](Bytes* f) { (*f)[kBitmapAt + 8] = 16; }, "twice its height"},
      {"bitmap of other width", [](Bytes* f) { (*f)[kBitmapAt + 4] = 32; },
       "the directory says 16x16"},
      {"bitmap with 2 planes", [](Bytes* f) { (*f)[kBitmapAt + 12] = 2; }, "2 planes"},
      {"bitmap of 5 bits", [](Bytes* f) { (*f)[kBitmapAt + 14] = 5; }, "5 bits per pixel"},
      {"compressed bitmap", [](Bytes* f) { (*f)[kBitmapAt + 16] = 2; }, "compressed"},
      {"palette too large", [](Bytes* f) { (*f)[kBitmapAt + 32] = 17; }, "palette of 17"},
      {"bitmap header size", [](Bytes* f) { (*f)[kBitmapAt] = 12; }, "complete header"},
      {"bitmap cut", [](Bytes* f) { (*f)[6 + 8] -= 1; }, "truncated?"},
      {"PNG without its end", [](Bytes* f) { (*f)[f->size() - 5] = 0; }, "end chunk"},
      {"PNG of another size", [](Bytes* f) { (*f)[22] = (*f)[23] = 48; },
       "the directory says 48x48"},
  };
  for (const Case& c : cases) {
    Bytes file = IconFile();
    c.spoil(&file);
    std::vector<IconImage> images;
    std::string error;
    EXPECT_FALSE(ParseIconFile(file, &images, &error)) << c.what;
    EXPECT_NE(error.find(c.complaint), std::string::npos) << c.what << ": " << error;
  }
}

TEST(VersionNumber, TakesUpToFourPartsOfSixteenBits) {
  const std::pair<const char*, VersionNumber> good[] = {{"1.2.3.4", {1, 2, 3, 4}},
                                                        {"2.1", {2, 1, 0, 0}},
                                                        {"7", {7, 0, 0, 0}},
                                                        {"65535.0.0.65535", {65535, 0, 0, 65535}},
                                                        {"01.002.0.0", {1, 2, 0, 0}}};
  for (const auto& [text, want] : good) {
    VersionNumber n;
    EXPECT_TRUE(ParseVersionNumber(text, &n)) << text;
    EXPECT_EQ(n, want) << text;
  }
  for (const char* bad : {"", "1.", ".1", "1..2", "65536", "1.2.3.4.5", "-1", "+1", "1.2.x", " 1",
                          "1.2 ", "1,2", "99999999999999999999"}) {
    VersionNumber n;
    EXPECT_FALSE(ParseVersionNumber(bad, &n)) << bad;
  }
  EXPECT_EQ(VersionNumberText({2, 10, 0, 7}), "2.10.0.7");
}

TEST(ExecutionLevel, ChangesOnlyTheLevelAttribute) {
  const std::pair<const char*, const char*> cases[] = {
      {R"(<x><requestedExecutionLevel level="requireAdministrator" uiAccess="false"/></x>)",
       R"(<x><requestedExecutionLevel level="asInvoker" uiAccess="false"/></x>)"},
      {"<requestedExecutionLevel uiAccess='false'\n  level = 'highestAvailable'/>",
       "<requestedExecutionLevel uiAccess='false'\n  level = 'asInvoker'/>"},
      {R"(<requestedExecutionLevel xlevel="a" level="b"/><level="c"/>)",
       R"(<requestedExecutionLevel xlevel="a" level="asInvoker"/><level="c"/>)"},
  };
  for (const auto& [in, want] : cases) {
    std::string out;
    EXPECT_TRUE(SetExecutionLevel(in, ExecutionLevel::kAsInvoker, &out)) << in;
    EXPECT_EQ(out, want);
  }
  for (const char* bad :
       {"<assembly/>", R"(<requestedExecutionLevel uiAccess="false"/>)",
        R"(<requestedExecutionLevel level=asInvoker/>)", R"(<requestedExecutionLevel level="x)"}) {
    std::string out;
    EXPECT_FALSE(SetExecutionLevel(bad, ExecutionLevel::kAsInvoker, &out)) << bad;
  }
}

Bytes LoadStub(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The version resource of the real x86 stub.
Bytes StubVersion() {
  const Bytes stub = LoadStub(QUILL_TEST_STUB_X86);
  PeImage image;
  std::string error;
  if (stub.empty() || !ReadPeImage(MemorySource(stub), &image, &error)) return {};
  for (const ResourceItem& r : image.resources) {
    if (!r.type.isName && r.type.id == kRtVersion) {
      return Bytes(stub.begin() + static_cast<std::ptrdiff_t>(r.fileOffset),
                   stub.begin() + static_cast<std::ptrdiff_t>(r.fileOffset + r.size));
    }
  }
  return {};
}

const VersionBlock* Find(const VersionBlock& b, std::u16string_view key) {
  for (const VersionBlock& c : b.children) {
    if (c.key == key) return &c;
  }
  return nullptr;
}

std::u16string Text(const VersionBlock& b) {
  std::u16string t;
  for (std::size_t i = 0; i + 1 < b.value.size(); i += 2) {
    t += static_cast<char16_t>(b.value[i] | b.value[i + 1] << 8);
  }
  return t.substr(0, t.find(u'\0'));
}

TEST(VersionInfo, WritesBackWhatItReadsAndAppliesChanges) {
  const Bytes original = StubVersion();
  if (original.empty()) GTEST_SKIP() << "no stub at " << QUILL_TEST_STUB_X86;
  VersionBlock root;
  std::string error;
  ASSERT_TRUE(ParseVersionInfo(original, &root, &error)) << error;
  Bytes again;
  ASSERT_TRUE(WriteVersionInfo(root, &again, &error));
  EXPECT_EQ(again, original);

  VersionChanges changes;
  changes.strings = {{"CompanyName", "Acme \xE5\x85\xAC\xE5\x8F\xB8"},
                     {"ProductName", ""},
                     {"ProductVersion", "2.0 beta"}};
  changes.fileVersion = VersionNumber{2, 1, 3, 4};
  changes.productVersion = VersionNumber{2, 0, 0, 0};
  changes.language = 1033;
  ASSERT_TRUE(ApplyVersionChanges(changes, &root, &error));
  ASSERT_TRUE(WriteVersionInfo(root, &again, &error));
  ASSERT_TRUE(ParseVersionInfo(again, &root, &error)) << error;
  EXPECT_EQ(ReadLe32(&root.value[8]), 0x20001u);
  EXPECT_EQ(ReadLe32(&root.value[12]), 0x30004u);
  EXPECT_EQ(ReadLe32(&root.value[16]), 0x20000u);
  EXPECT_EQ(ReadLe32(&root.value[20]), 0u);
  const VersionBlock* table = Find(*Find(root, u"StringFileInfo"), u"040904b0");
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(Text(*Find(*table, u"CompanyName")), u"Acme \u516C\u53F8");
  EXPECT_EQ(Find(*table, u"ProductName"), nullptr);
  EXPECT_EQ(Text(*Find(*table, u"FileVersion")), u"2.1.3.4");
  EXPECT_EQ(Text(*Find(*table, u"ProductVersion")), u"2.0 beta");  // the text given wins
  EXPECT_EQ(Text(*Find(*table, u"FileDescription")), u"Quill installer launcher");
  const VersionBlock* translation = Find(*Find(root, u"VarFileInfo"), u"Translation");
  EXPECT_EQ(translation->value, (Bytes{0x09, 0x04, 0xB0, 0x04}));
}

TEST(VersionInfo, RefusesDamageAndTextsTooLong) {
  const Bytes original = StubVersion();
  if (original.empty()) GTEST_SKIP() << "no stub at " << QUILL_TEST_STUB_X86;
  VersionBlock root;
  std::string error;
  for (std::size_t cut : {std::size_t{0}, std::size_t{5}, std::size_t{100}, original.size() - 1}) {
    EXPECT_FALSE(ParseVersionInfo(std::span(original).first(cut), &root, &error)) << cut;
  }
  Bytes spoilt = original;
  spoilt[92] = 0xFF;  // StringFileInfo's length, past the end of its parent
  EXPECT_FALSE(ParseVersionInfo(spoilt, &root, &error));

  ASSERT_TRUE(ParseVersionInfo(original, &root, &error));
  VersionChanges changes;
  changes.strings = {{"Comments", std::string(40000, 'x')}};
  ASSERT_TRUE(ApplyVersionChanges(changes, &root, &error));
  Bytes out;
  EXPECT_FALSE(WriteVersionInfo(root, &out, &error));
  EXPECT_NE(error.find("65535"), std::string::npos);
}
}  // namespace
