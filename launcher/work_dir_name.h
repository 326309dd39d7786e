// Choosing a work-directory name that no other instance uses (-mmi with another instance running).
#pragma once

#include <cstddef>

inline constexpr int kLastWorkDirNumber = 100;

// Answers whether the work directory called `name` is taken (a file or directory of that name).
using WorkDirTaken = bool (*)(const char* name, void* context);

// Tries quill_temp, quill_temp1, ..., quill_temp100 in this order, writing each into `name`
// (capacity bytes) before asking `taken`. Answers true with the first free one left in `name`,
// false when all 101 are taken.
bool ChooseFreeWorkDirName(char* name, std::size_t capacity, WorkDirTaken taken, void* context);
