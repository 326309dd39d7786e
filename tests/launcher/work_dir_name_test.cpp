#include "launcher/work_dir_name.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {
struct Probe {
  std::set<std::string> taken;
  std::vector<std::string> asked;
};

bool Taken(const char* name, void* context) {
  Probe* probe = static_cast<Probe*>(context);
  probe->asked.emplace_back(name);
  return probe->taken.count(name) != 0;
}

std::set<std::string> FirstNames(int count) {
  std::set<std::string> names = {"quill_temp"};
  for (int n = 1; n < count; ++n) names.insert("quill_temp" + std::to_string(n));
  return names;
}

TEST(WorkDirName, FirstFreeNameInOrder) {
  struct Case {
    std::set<std::string> taken;
    const char* chosen;
  };
  const Case cases[] = {
      {{}, "quill_temp"},
      {{"quill_temp"}, "quill_temp1"},
      {{"quill_temp", "quill_temp1", "quill_temp2", "quill_temp3"}, "quill_temp4"},
      {{"quill_temp", "quill_temp2"}, "quill_temp1"},
      {FirstNames(100), "quill_temp100"},
  };
  for (const Case& c : cases) {
    Probe probe{c.taken, {}};
    char name[20] = "junk";
    EXPECT_TRUE(ChooseFreeWorkDirName(name, sizeof name, Taken, &probe));
    EXPECT_STREQ(name, c.chosen);
    EXPECT_EQ(probe.asked.back(), c.chosen);
  }
}

TEST(WorkDirName, AllHundredAndOneTaken) {
  Probe probe{FirstNames(101), {}};
  char name[20];
  EXPECT_FALSE(ChooseFreeWorkDirName(name, sizeof name, Taken, &probe));
  ASSERT_EQ(probe.asked.size(), 101u);
  EXPECT_EQ(probe.asked[0], "quill_temp");
  EXPECT_EQ(probe.asked[1], "quill_temp1");
  EXPECT_EQ(probe.asked[100], "quill_temp100");
}
}  // namespace
