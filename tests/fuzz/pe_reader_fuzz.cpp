// The PE reader on arbitrary bytes: it must answer with an error or with a model of the image
// whose every resource lies inside the input; and an image it accepts must survive a rewrite by
// the resource writer with its resources unchanged.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "pack/package_read.h"
#include "pe/image.h"
#include "pe/resource_writer.h"

namespace {
void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "pe_reader_fuzz: property broken: %s\n", what);
    std::abort();
  }
}

std::vector<std::uint8_t> Rewrite(std::span<const std::uint8_t> stub, const PeImage& image) {
  std::vector<OutputResource> resources;
  for (const ResourceItem& item : image.resources) {
    resources.push_back(KeptResource(item));
  }
  std::vector<std::uint8_t> bytes;
  std::FILE* out = std::tmpfile();
  if (!out) return bytes;
  std::string error;
  const PayloadWriter none = [](const OutputResource&, const ByteWriter&, std::string*) {
    return false;
  };
  if (WriteInstallerImage(stub, image, resources, none, out, &error)) {
    std::rewind(out);
    for (int c; (c = std::fgetc(out)) != EOF;) bytes.push_back(static_cast<std::uint8_t>(c));
  }
  std::fclose(out);
  return bytes;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  const MemorySource source(input);
  PeImage image;
  std::string error;
  if (!ReadPeImage(source, &image, &error)) {
    Require(!error.empty(), "a refusal without a reason");
    return 0;
  }
  Require(image.resourceSection < static_cast<int>(image.sections.size()),
          "resource section index");
  for (const ResourceItem& item : image.resources) {
    Require(item.fileOffset <= size && item.size <= size - item.fileOffset,
            "resource inside input");
  }
  std::vector<PackageEntry> entries;
  if (ReadPackage(source, &entries, &error)) {
    for (const PackageEntry& e : entries) Require(e.headerBytes <= kEntryHeaderSize, "header size");
  }
  // Rewriting (small images only: the output holds every resource again).
  if (size > (1 << 20) || image.trailingBytes || image.resources.size() > 1000) return 0;
  const std::vector<std::uint8_t> rewritten = Rewrite(input, image);
  if (rewritten.empty()) return 0;
  PeImage again;
  if (!ReadPeImage(MemorySource(rewritten), &again, &error)) {
    std::fprintf(stderr, "pe_reader_fuzz: %s\n", error.c_str());
    Require(false, "a rewritten image reads back");
  }
  Require(again.resources.size() == image.resources.size(), "resources kept");
  Require(again.arch == image.arch, "the kind of image kept");
  return 0;
}
