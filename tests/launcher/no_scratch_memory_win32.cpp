// Linked only into the test launcher quill_nomem: the argument scan never gets its scratch
// buffer, so the out-of-memory exit can be watched from outside. The shipped stub has no such seam.
#include <cstddef>

#include "launcher/options.h"

namespace {
void* NoMemory(std::size_t) { return nullptr; }

const bool g_installed = (SetScratchAllocator(NoMemory), true);
}  // namespace
