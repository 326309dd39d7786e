#include "pe/resource_writer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>

#include "payload/entry_format.h"

namespace {
std::vector<std::uint8_t> LoadStub(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

PeImage Parse(const std::vector<std::uint8_t>& bytes) {
  PeImage image;
  std::string error;
  EXPECT_TRUE(ReadPeImage(MemorySource(bytes), &image, &error)) << error;
  return image;
}

// Writes `stub` with one "FILE" entry per map item (contents stored as they are).
std::vector<std::uint8_t> Build(const std::vector<std::uint8_t>& stub,
                                const std::map<std::u16string, std::string>& entries) {
  const PeImage image = Parse(stub);
  std::vector<OutputResource> resources;
  for (const ResourceItem& item : image.resources) {
    if (item.type.isName && item.type.name == u"FILE" && entries.count(item.name.name)) continue;
    resources.push_back(KeptResource(item));
  }
  std::vector<std::string> contents;
  for (const auto& [name, content] : entries) {
    OutputResource r;
    r.type = NamedKey(u"FILE");
    r.name = NamedKey(name);
    r.language = 1033;
    r.size = static_cast<std::uint32_t>(content.size());
    r.payload = static_cast<std::int64_t>(contents.size());
    contents.push_back(content);
    resources.push_back(r);
  }
  std::FILE* out = std::tmpfile();
  std::string error;
  const bool ok = WriteInstallerImage(
      stub, image, resources,
      [&](const OutputResource& r, const ByteWriter& write, std::string*) {
        const std::string& c = contents[static_cast<std::size_t>(r.payload)];
        return write(reinterpret_cast<const std::uint8_t*>(c.data()), c.size());
      },
      out, &error);
  EXPECT_TRUE(ok) << error;
  std::rewind(out);
  std::vector<std::uint8_t> bytes;
  for (int c; (c = std::fgetc(out)) != EOF;) bytes.push_back(static_cast<std::uint8_t>(c));
  std::fclose(out);
  return bytes;
}

std::string Bytes(const std::vector<std::uint8_t>& file, const ResourceItem& item) {
  return std::string(file.begin() + static_cast<std::ptrdiff_t>(item.fileOffset),
                     file.begin() + static_cast<std::ptrdiff_t>(item.fileOffset + item.size));
}

// Every test runs on both stubs: x86 (PE32) and x64 (PE32+).
class ResourceWriter : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    stub_ = LoadStub(GetParam());
    if (stub_.empty()) GTEST_SKIP() << "no stub at " << GetParam();
    expectedArch_ =
        std::string(GetParam()).find("win64") == std::string::npos ? PeArch::kX86 : PeArch::kX64;
  }
  std::vector<std::uint8_t> stub_;
  PeArch expectedArch_ = PeArch::kX86;
};
INSTANTIATE_TEST_SUITE_P(Stub, ResourceWriter,
                         ::testing::Values(QUILL_TEST_STUB_X86, QUILL_TEST_STUB_X64),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param).find("win64") == std::string::npos
                                      ? "x86"
                                      : "x64";
                         });

TEST_P(ResourceWriter, KeepsTheStubsResourcesAndAddsSortedEntries) {
  const std::map<std::u16string, std::string> entries = {
      {u"SETUP.EXE", "setup"}, {u"A\\B.TXT", std::string(5000, 'b')}, {u"A_", ""}, {u"AB", "x"}};
  const std::vector<std::uint8_t> out = Build(stub_, entries);
  const PeImage before = Parse(stub_), after = Parse(out);

  // Keyed by language too: the string table and the dialog are there in two.
  auto keyOf = [](const ResourceItem& i) {
    return KeyText(i.type) + "/" + KeyText(i.name) + "/" + std::to_string(i.language);
  };
  std::map<std::string, std::string> kept;
  for (const ResourceItem& i : before.resources) kept[keyOf(i)] = Bytes(stub_, i);
  std::vector<std::u16string> order;
  for (const ResourceItem& i : after.resources) {
    const std::string key = keyOf(i);
    if (i.type.isName && i.type.name == u"FILE") {
      order.push_back(i.name.name);
      EXPECT_EQ(Bytes(out, i), entries.at(i.name.name));
      EXPECT_EQ(i.language, 1033);
    } else {
      EXPECT_EQ(Bytes(out, i), kept.at(key)) << key;
      kept.erase(key);
    }
  }
  EXPECT_TRUE(kept.empty());
  // Upper-case code-unit order: 'B' (0x42) < '\' (0x5C) < '_' (0x5F).
  EXPECT_EQ(order, (std::vector<std::u16string>{u"AB", u"A\\B.TXT", u"A_", u"SETUP.EXE"}));
}

TEST_P(ResourceWriter, FixesTheHeadersAndLeavesOtherSectionsAlone) {
  const std::vector<std::uint8_t> out = Build(stub_, {{u"X", std::string(100000, 'x')}});
  const PeImage before = Parse(stub_), image = Parse(out);
  EXPECT_EQ(image.arch, expectedArch_);
  const PeSection& rsrc = image.sections[static_cast<std::size_t>(image.resourceSection)];
  EXPECT_EQ(rsrc.rawPointer % kResourceRawAlignment, 0u);
  EXPECT_EQ(rsrc.rawSize % image.fileAlignment, 0u);
  EXPECT_EQ(image.directories[kResourceDirectoryIndex].address, rsrc.virtualAddress);
  EXPECT_EQ(image.directories[kResourceDirectoryIndex].size, rsrc.virtualSize);
  EXPECT_EQ(out.size(), std::uint64_t{rsrc.rawPointer} + rsrc.rawSize);
  std::uint32_t end = 0;
  for (const PeSection& s : image.sections) {
    end = std::max(
        end, (s.virtualAddress + std::max(s.virtualSize, s.rawSize) + image.sectionAlignment - 1) /
                 image.sectionAlignment * image.sectionAlignment);
  }
  EXPECT_EQ(image.sizeOfImage, end);
  EXPECT_EQ(image.trailingBytes, 0u);
  for (std::size_t i = 0; i < before.sections.size(); ++i) {
    if (static_cast<int>(i) == before.resourceSection) continue;
    const PeSection& s = before.sections[i];
    EXPECT_TRUE(std::equal(stub_.begin() + s.rawPointer, stub_.begin() + s.rawPointer + s.rawSize,
                           out.begin() + s.rawPointer))
        << i;
  }
  PeChecksum sum(image.optionalHeaderOffset + kOptCheckSum);
  sum.Add(out.data(), 3);  // pieces of any length
  sum.Add(out.data() + 3, out.size() - 3);
  EXPECT_EQ(sum.Finish(), image.checkSum);
}

TEST_P(ResourceWriter, RebuildingAnInstallerReplacesItsLastSection) {
  const std::vector<std::uint8_t> first = Build(stub_, {{u"A", "old"}, {u"B", "kept"}});
  const std::vector<std::uint8_t> second = Build(first, {{u"A", "new"}, {u"C", "added"}});
  const PeImage a = Parse(first), b = Parse(second);
  EXPECT_EQ(a.sections.size(), b.sections.size());
  std::map<std::u16string, std::string> files;
  for (const ResourceItem& i : b.resources) {
    if (i.type.isName && i.type.name == u"FILE") files[i.name.name] = Bytes(second, i);
  }
  EXPECT_EQ(files, (std::map<std::u16string, std::string>{
                       {u"A", "new"}, {u"B", "kept"}, {u"C", "added"}}));
}

TEST_P(ResourceWriter, ReaderSurvivesEveryTruncationAndCorruption) {
  const std::vector<std::uint8_t> out = Build(stub_, {{u"X", "x"}, {u"Y", "y"}});
  const PeImage image = Parse(out);
  std::vector<std::uint64_t> cuts;
  for (std::uint64_t n = 0; n < 0x400; n += 3) cuts.push_back(n);
  for (std::uint64_t n = 0; n < out.size(); n += 509) cuts.push_back(n);
  for (std::uint64_t n : cuts) {
    std::vector<std::uint8_t> part(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
    PeImage p;
    std::string error;
    if (ReadPeImage(MemorySource(part), &p, &error)) {
      for (const ResourceItem& i : p.resources) EXPECT_LE(i.fileOffset + i.size, part.size());
    } else {
      EXPECT_FALSE(error.empty());
    }
  }
  // Every byte of the resource directory set to 0xFF in turn.
  const PeSection& rsrc = image.sections[static_cast<std::size_t>(image.resourceSection)];
  for (std::uint32_t k = 0; k < 0x200; ++k) {
    std::vector<std::uint8_t> bad = out;
    bad[rsrc.rawPointer + k] = 0xFF;
    PeImage p;
    std::string error;
    if (ReadPeImage(MemorySource(bad), &p, &error)) {
      for (const ResourceItem& i : p.resources) EXPECT_LE(i.fileOffset + i.size, bad.size());
    }
  }
}
TEST_P(ResourceWriter, RefusesAnImageBeyondTheSizeLimitBeforeWritingAnything) {
  const PeImage image = Parse(stub_);
  struct Case {
    std::uint32_t entrySize;
    std::uint64_t sizeLimit;
    bool written;
  } const cases[] = {
      {static_cast<std::uint32_t>(InstallerSizeLimit(image.arch)), 0, false},
      {100, image.sizeOfImage + 0x10000, true},  // a small package under a small limit
      {0x20000, image.sizeOfImage + 0x10000, false},
  };
  for (const Case& c : cases) {
    std::vector<OutputResource> resources;
    OutputResource r;
    r.type = NamedKey(u"FILE");
    r.name = NamedKey(u"BIG.BIN");
    r.size = c.entrySize;
    r.payload = 0;
    resources.push_back(r);
    bool asked = false;
    std::FILE* out = std::tmpfile();
    std::string error;
    const bool ok = WriteInstallerImage(
        stub_, image, resources,
        [&](const OutputResource& res, const ByteWriter& write, std::string*) {
          asked = true;
          const std::vector<std::uint8_t> zeros(res.size);
          return write(zeros.data(), zeros.size());
        },
        out, &error, c.sizeLimit);
    std::fseek(out, 0, SEEK_END);
    const long size = std::ftell(out);
    std::fclose(out);
    EXPECT_EQ(ok, c.written) << c.entrySize;
    if (!c.written) {
      EXPECT_NE(
          error.find(std::string(" MiB an ") + ArchName(image.arch) + " launcher is sure to load"),
          std::string::npos)
          << error;
      EXPECT_FALSE(asked);
      EXPECT_EQ(size, 0);
    }
  }
}
}  // namespace
