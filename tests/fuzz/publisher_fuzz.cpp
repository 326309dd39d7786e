// The readers behind quillpack's publisher options on arbitrary bytes: the .ico reader, the
// version-resource reader and the manifest's level rewrite must refuse with a reason or give a
// result that stays within the input and writes back to what they read.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "pe/icon_file.h"
#include "pe/manifest.h"
#include "pe/version_info.h"

namespace {
void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "publisher_fuzz: property broken: %s\n", what);
    std::abort();
  }
}

void CheckIcon(std::span<const std::uint8_t> input) {
  std::vector<IconImage> images;
  std::string error;
  if (!ParseIconFile(input, &images, &error)) {
    Require(!error.empty(), "an icon refused without a reason");
    return;
  }
  std::vector<std::uint16_t> ids;
  for (const IconImage& image : images) {
    Require(!image.data.empty() && image.data.size() <= input.size(), "an image within the input");
    ids.push_back(static_cast<std::uint16_t>(ids.size() + 1));
  }
  std::vector<std::uint16_t> read;
  Require(ReadIconGroupIds(MakeIconGroup(images, ids), &read) && read == ids, "group ids");
}

void CheckVersion(std::span<const std::uint8_t> input) {
  VersionBlock root;
  std::string error;
  if (!ParseVersionInfo(input, &root, &error)) {
    Require(!error.empty(), "version information refused without a reason");
    return;
  }
  std::vector<std::uint8_t> once, twice;
  if (!WriteVersionInfo(root, &once, &error)) return;
  VersionBlock again;
  Require(ParseVersionInfo(once, &again, &error), "written version information reads back");
  Require(WriteVersionInfo(again, &twice, &error) && twice == once, "a second write is the same");
  VersionChanges changes;
  changes.strings = {{"CompanyName", "Acme"}, {"ProductName", ""}};
  changes.fileVersion = VersionNumber{1, 2, 3, 4};
  changes.language = 1033;
  Require(ApplyVersionChanges(changes, &again, &error), "changes apply");
  if (WriteVersionInfo(again, &twice, &error)) {
    Require(ParseVersionInfo(twice, &root, &error), "changed version information reads back");
  }
}

void CheckManifest(std::span<const std::uint8_t> input) {
  const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
  std::string out;
  if (!SetExecutionLevel(text, ExecutionLevel::kHighestAvailable, &out)) return;
  Require(out.find("highestAvailable") != std::string::npos, "the level is written");
  std::string back;
  Require(SetExecutionLevel(out, ExecutionLevel::kHighestAvailable, &back) && back == out,
          "setting the same level again changes nothing");
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  CheckIcon(input);
  CheckVersion(input);
  CheckManifest(input);
  return 0;
}
