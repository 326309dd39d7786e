#include "handoff/entry_dirs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(ForEachEntryDirectory, DeepestFirstAndNeverOutsideTheWorkDirectory) {
  struct Case {
    const char* name;
    std::vector<std::string> expected;
  } const cases[] = {
      {"SETUP.EXE", {}},
      {"DOCS\\MANUAL.TXT", {"DOCS"}},
      {"DOCS\\EN/MANUAL.TXT", {"DOCS\\EN", "DOCS"}},
      {"A\\\\B\\C", {"A\\\\B", "A"}},  // a doubled separator names no directory of its own
      {"DOCS\\", {"DOCS"}},
      {"..\\EVIL.EXE", {}},
      {"A\\..\\..\\B", {}},
      {"\\ROOT\\X", {}},
      {"C:\\X\\Y", {}},
      {"", {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> got;
    ForEachEntryDirectory(c.name, [&got](std::string_view dir) { got.emplace_back(dir); });
    EXPECT_EQ(got, c.expected) << c.name;
  }
}
