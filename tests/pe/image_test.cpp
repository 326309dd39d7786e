#include "pe/image.h"

#include <gtest/gtest.h>

namespace {
TEST(ResourceKeys, SortAsWindowsSearchesThem) {
  // Named entries first, by upper-case UTF-16 code units (so '_' sorts after letters), then ids.
  const std::vector<ResourceKey> ordered = {NamedKey(u"A"),  NamedKey(u"AB"), NamedKey(u"b"),
                                            NamedKey(u"B_"), NamedKey(u"_"),  NamedKey(u"\u0430"),
                                            IdKey(1),        IdKey(65535)};
  for (std::size_t i = 0; i < ordered.size(); ++i) {
    for (std::size_t j = 0; j < ordered.size(); ++j) {
      const int c = CompareResourceKeys(ordered[i], ordered[j]);
      EXPECT_EQ(c < 0, i < j) << i << " " << j;
      EXPECT_EQ(c == 0, i == j) << i << " " << j;
    }
  }
  EXPECT_EQ(CompareResourceKeys(NamedKey(u"file"), NamedKey(u"FILE")), 0);
}
}  // namespace
