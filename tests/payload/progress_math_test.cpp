#include "payload/progress_math.h"

#include <gtest/gtest.h>

#include <vector>

TEST(MulDivRounded, MatchesWindowsMulDiv) {
  // Results Windows documents or is known to give: rounding to nearest with halves away from
  // zero, -1 for a zero divisor and for a result outside the 32-bit range.
  struct Case {
    std::int32_t a, b, c, result;
  } cases[] = {
      {9, 96, 72, 12},
      {1, 1, 2, 1},
      {-1, 1, 2, -1},
      {1, 2, 3, 1},
      {2, 2, 3, 1},
      {25, 5, 10, 13},
      {-25, 5, 10, -13},
      {10, 3, -4, -8},
      {-10, 3, -4, 8},
      {5, 1, 3, 2},
      {1, 1, 0, -1},
      {0, 5, 7, 0},
      {0x7FFFFFFF, 2, 2, 0x7FFFFFFF},
      {0x7FFFFFFF, 2, 1, -1},
      {0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF},
      {-0x7FFFFFFF, 1, 1, -0x7FFFFFFF},
      {0x40000000, 4, 2, -1},
      {65536, 123456, 1 << 20, 7716},
      {1000000, 1000, 3, 333333333},
      {1000000, 1000000, 3, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MulDivRounded(c.a, c.b, c.c), c.result) << c.a << " " << c.b << " " << c.c;
  }
}

TEST(ExtractionPercent, AgreesWithTheMulDivFormulaForOrdinarySizes) {
  struct Case {
    std::uint32_t done, produced, streamLength, outputSize, total;
  } cases[] = {
      {0, 0, 1000, 5000, 4000},
      {0, 65536, 30000, 200000, 90000},
      {1000, 4096, 777, 9999, 3005},
      {50000, 131072, 40000, 262144, 90004},
  };
  for (const Case& c : cases) {
    const std::int32_t within = MulDivRounded(static_cast<std::int32_t>(c.produced),
                                              static_cast<std::int32_t>(c.streamLength),
                                              static_cast<std::int32_t>(c.outputSize));
    const std::int32_t expected = MulDivRounded(static_cast<std::int32_t>(c.done) + within, 100,
                                                static_cast<std::int32_t>(c.total));
    EXPECT_EQ(ExtractionPercent(c.done, c.produced, c.streamLength, c.outputSize, c.total),
              static_cast<std::uint32_t>(expected));
  }
}

TEST(ExtractionPercent, NeverDecreasesNorExceeds100AcrossARun) {
  // Three entries, the last larger than 2 GiB decoded (where int MulDiv would turn negative).
  struct Entry {
    std::uint32_t streamLength, outputSize;
  };
  const std::vector<Entry> entries = {{300000, 1000000}, {13, 0}, {9000000, 0xC0000000u}};
  std::uint32_t total = 0;
  for (const Entry& e : entries) total += e.streamLength + 4;
  std::uint32_t done = 0, last = 0;
  for (const Entry& e : entries) {
    for (std::uint64_t produced = 0; produced < e.outputSize; produced += 1 << 22) {
      const std::uint32_t p = ExtractionPercent(done, static_cast<std::uint32_t>(produced),
                                                e.streamLength, e.outputSize, total);
      ASSERT_GE(p, last);
      ASSERT_LE(p, 100u);
      last = p;
    }
    done += e.streamLength;
  }
  EXPECT_GE(last, 99u);
  EXPECT_EQ(ExtractionPercent(0, 0, 0, 0, 0), 100u);  // no stored bytes at all: nothing left
}
