// Choosing the work-directory name: one no other instance uses (-mmi with another instance
// running), or, otherwise, one whose directory is missing or the launcher's to use and not held by
// another launcher.
#pragma once

#include <cstddef>

inline constexpr int kLastWorkDirNumber = 100;

// Answers whether the work directory called `name` is taken.
using WorkDirTaken = bool (*)(const char* name, void* context);

// Tries quill_temp, quill_temp1, ..., quill_temp100 in this order, writing each into `name`
// (capacity bytes) before asking `taken`. Answers true with the first free one left in `name`,
// false when all 101 are taken.
bool ChooseFreeWorkDirName(char* name, std::size_t capacity, WorkDirTaken taken, void* context);
