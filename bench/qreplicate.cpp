// qreplicate: an installer whose payload is one ready-made entry repeated N times, for measuring
// how large a package the launcher loads and extracts (bench/package-limit.py). Compressing
// gigabytes of incompressible data anew for every step would take far longer than the run itself.
//   qreplicate STUB.exe ENTRY N OUT.exe       entries are named PART0000.BIN, PART0001.BIN, ...
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pe/byte_source.h"
#include "pe/image.h"
#include "pe/resource_writer.h"

namespace {
bool ReadWhole(const char* path, std::vector<std::uint8_t>* bytes) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  std::uint8_t buffer[1 << 16];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) {
    bytes->insert(bytes->end(), buffer, buffer + n);
  }
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: qreplicate STUB.exe ENTRY N OUT.exe\n");
    return 2;
  }
  std::vector<std::uint8_t> stub, entry;
  if (!ReadWhole(argv[1], &stub) || !ReadWhole(argv[2], &entry)) {
    std::fprintf(stderr, "qreplicate: cannot read the stub or the entry\n");
    return 1;
  }
  char* end = nullptr;
  const unsigned long count = std::strtoul(argv[3], &end, 10);
  if (*end != '\0' || count == 0 || count > 9999) {
    std::fprintf(stderr, "qreplicate: N must be 1 to 9999\n");
    return 2;
  }
  PeImage image;
  std::string error;
  if (!ReadPeImage(MemorySource(stub), &image, &error)) {
    std::fprintf(stderr, "qreplicate: %s\n", error.c_str());
    return 1;
  }
  std::vector<OutputResource> resources;
  for (const ResourceItem& item : image.resources) {
    resources.push_back(KeptResource(item));
  }
  for (unsigned long i = 0; i < count; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "PART%04lu.BIN", i);
    OutputResource r;
    r.type = NamedKey(u"FILE");
    r.name = NamedKey(std::u16string(name, name + std::char_traits<char>::length(name)));
    r.language = 1033;
    r.size = static_cast<std::uint32_t>(entry.size());
    r.payload = static_cast<std::int64_t>(i);
    resources.push_back(std::move(r));
  }
  std::FILE* out = std::fopen(argv[4], "w+b");
  if (!out) {
    std::fprintf(stderr, "qreplicate: cannot create %s\n", argv[4]);
    return 1;
  }
  const PayloadWriter payload = [&entry](const OutputResource&, const ByteWriter& write,
                                         std::string*) {
    return write(entry.data(), entry.size());
  };
  const bool written =
      WriteInstallerImage(stub, image, std::move(resources), payload, out, &error, UINT64_MAX);
  if (std::fclose(out) != 0 || !written) {
    std::fprintf(stderr, "qreplicate: %s\n", written ? "cannot write" : error.c_str());
    return 1;
  }
  return 0;
}
