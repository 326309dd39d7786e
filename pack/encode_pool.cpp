#include "pack/encode_pool.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "payload/entry_format.h"
#include "pe/byte_source.h"

namespace fs = std::filesystem;

namespace {
struct Counters {
  std::atomic<std::uint64_t> bytes{0};
  std::atomic<std::size_t> entries{0};
};

// The indices of `files`, largest first.
std::vector<std::size_t> LargestFirst(const std::vector<SourceFile>& files) {
  std::vector<std::size_t> order(files.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return files[a].size > files[b].size; });
  return order;
}

// What the workers share: the files in the order they are taken, where each entry goes, how far
// they are, and the first failure.
struct Pool {
  Pool(const std::vector<SourceFile>& files, const EntryEncoding& encoding, StoreMode store,
       const Spools& spools, std::vector<SpooledEntry>& entries, unsigned jobs)
      : files(files),
        encoding(encoding),
        store(store),
        spools(spools),
        entries(entries),
        order(LargestFirst(files)),
        running(jobs) {}

  const std::vector<SourceFile>& files;
  const EntryEncoding& encoding;
  StoreMode store;
  const Spools& spools;
  std::vector<SpooledEntry>& entries;
  std::vector<std::size_t> order;
  Counters counters;
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex lock;
  std::condition_variable finished;
  unsigned running;
  std::string firstError;
};

double Mib(std::uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

bool OpenSpools(const std::string& output, unsigned jobs, Spools* spools) {
  for (unsigned k = 0; k < jobs; ++k) {
    fs::path p = PathFromUtf8(output);
    p += ".spool" + std::to_string(k);
    spools->paths.push_back(p);
    spools->files.emplace_back(OpenFile(p, "w+b"));
    if (!spools->files.back()) {
      std::fprintf(stderr, "quillpack: cannot create %s\n", PathToUtf8(p).c_str());
      return false;
    }
  }
  return true;
}

// Encodes `file` onto `spool` at `offset`, its end. The decision to store a file rests on the
// encoder's own result, not on a guess from a sample: a file is encoded whole first (what every
// build did before stored entries existed, so a build takes no longer) and, when LZMA does not
// pay, stored over its stream.
bool EncodeOne(const SourceFile& file, const EntryEncoding& encoding, StoreMode store,
               std::FILE* spool, std::uint64_t offset, Counters* counters, EncodedStream* stream,
               std::string* why) {
  std::unique_ptr<std::FILE, FileCloser> input(OpenFile(PathFromUtf8(file.path), "rb"));
  if (!input) {
    *why = "cannot open it";
    return false;
  }
  const StreamSink sink = [spool](const std::uint8_t* data, std::size_t size) {
    return std::fwrite(data, 1, size, spool) == size;
  };
  InputProgress progress = [counters](std::size_t bytes) { counters->bytes += bytes; };
  std::uint8_t header[kEntryHeaderSize];
  if (store != StoreMode::kAlways) {
    if (!EncodeStream(input.get(), encoding, sink, progress, stream, why)) return false;
    if (store == StoreMode::kNever || CompressionPays(*stream)) {
      return MakeEntryHeader(*stream, header, why);
    }
    if (!SeekFile(spool, offset) || !SeekFile(input.get(), 0)) {
      *why = "cannot go back to store it as it is";
      return false;
    }
    progress = nullptr;  // its bytes were counted once
  }
  const std::uint64_t encodedSize = stream->inputSize;
  if (!StoreStream(input.get(), sink, progress, stream, why)) return false;
  if (store != StoreMode::kAlways && stream->inputSize != encodedSize) {
    *why = "it changed while it was packed";
    return false;
  }
  return MakeEntryHeader(*stream, header, why);
}

// Worker `k`: takes the next file until none is left or one has failed.
void Work(Pool* pool, unsigned k) {
  std::FILE* spool = pool->spools.files[k].get();
  std::uint64_t spoolSize = 0;
  for (std::size_t n; !pool->failed && (n = pool->next++) < pool->order.size();) {
    const std::size_t i = pool->order[n];
    SpooledEntry& entry = pool->entries[i];
    entry.spool = k;
    entry.offset = spoolSize;
    std::string why;
    if (!EncodeOne(pool->files[i], pool->encoding, pool->store, spool, entry.offset,
                   &pool->counters, &entry.stream, &why)) {
      std::lock_guard<std::mutex> guard(pool->lock);
      if (pool->firstError.empty()) pool->firstError = pool->files[i].path + ": " + why;
      pool->failed = true;
    }
    spoolSize += entry.stream.streamSize;
    ++pool->counters.entries;
  }
  std::lock_guard<std::mutex> guard(pool->lock);
  --pool->running;
  pool->finished.notify_all();
}

// Waits for the workers, showing how far they are when asked. True when it showed anything.
bool AwaitWorkers(Pool* pool, const PoolProgress& progress) {
  const std::uint64_t totalBytes = TotalSize(pool->files);
  bool shown = false;
  std::unique_lock<std::mutex> guard(pool->lock);
  while (pool->running) {
    pool->finished.wait_for(guard, std::chrono::milliseconds(250));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - progress.started).count();
    if (progress.show && seconds >= 1.0) {
      const std::uint64_t bytes = pool->counters.bytes;
      std::fprintf(stderr, "\r  %zu/%zu entries, %.1f/%.1f MiB, %.1f MiB/s   ",
                   pool->counters.entries.load(), pool->files.size(), Mib(bytes), Mib(totalBytes),
                   Mib(bytes) / seconds);
      shown = true;
    }
  }
  return shown;
}
}  // namespace

Spools::~Spools() {
  files.clear();
  std::error_code ignored;
  for (const fs::path& p : paths) fs::remove(p, ignored);
}

bool EncodeFiles(const std::vector<SourceFile>& files, const EntryEncoding& encoding,
                 StoreMode store, unsigned jobs, const std::string& output,
                 const PoolProgress& progress, Spools* spools, std::vector<SpooledEntry>* entries) {
  if (!OpenSpools(output, jobs, spools)) return false;
  entries->assign(files.size(), SpooledEntry{});
  Pool pool(files, encoding, store, *spools, *entries, jobs);
  std::vector<std::thread> threads;
  for (unsigned k = 0; k < jobs; ++k) threads.emplace_back(Work, &pool, k);
  const bool shown = AwaitWorkers(&pool, progress);
  for (std::thread& t : threads) t.join();
  if (shown) std::fprintf(stderr, "\r%*s\r", 70, "");
  if (pool.failed) {
    std::fprintf(stderr, "quillpack: %s\n", pool.firstError.c_str());
    return false;
  }
  for (const auto& spool : spools->files) {
    if (std::fflush(spool.get()) != 0) {
      std::fprintf(stderr, "quillpack: cannot write the spool files beside %s\n", output.c_str());
      return false;
    }
  }
  return true;
}

bool CopySpooledEntry(const Spools& spools, const SpooledEntry& entry,
                      std::vector<std::uint8_t>* buffer, const ByteWriter& write,
                      std::string* why) {
  std::uint8_t header[kEntryHeaderSize];
  if (!MakeEntryHeader(entry.stream, header, why) || !write(header, sizeof header)) return false;
  std::FILE* spool = spools.files[entry.spool].get();
  if (!SeekFile(spool, entry.offset)) {
    *why = "cannot read the spool files";
    return false;
  }
  for (std::uint64_t left = entry.stream.streamSize; left;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer->size()));
    if (std::fread(buffer->data(), 1, n, spool) != n || !write(buffer->data(), n)) {
      *why = "cannot copy an entry into the installer";
      return false;
    }
    left -= n;
  }
  return true;
}
